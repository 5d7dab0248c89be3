#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LinkTestSupport.h"

namespace {

using datasettest::DatasetDbTest;
using linktest::EditableCursor;
using linktest::LogLink;
using Log = std::vector<std::string>;

class DataSourceTest : public DatasetDbTest {
protected:
  TIB_DataSource* Source = new TIB_DataSource(Owner);
  Log Events;

  LogLink* NewLink(const std::string& Name) {
    auto* l = new LogLink(Owner, Events, Name);
    l->SetDataSource(Source);
    return l;
  }
};

TEST_F(DataSourceTest, AssigningADatasetTellsTheSourceAndItsLinksInOrder) {
  Fill(2);
  TIB_Cursor* c = NewCursor();
  c->Open();
  NewLink("L");
  Source->BeforeAssignment = [&](TIB_DataSource*, TIB_Dataset* d) { Events.push_back(d ? "before:c" : "before:nil"); };
  Source->AfterAssignment = [&](TIB_DataSource*, TIB_Dataset* d) { Events.push_back(d ? "after:c" : "after:nil"); };
  Source->OnStateChanged = [&](TIB_DataSource*, TIB_Dataset*) { Events.push_back("state"); };
  Source->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column* f) {
    Events.push_back(f ? "data:column" : "data");
  };
  Events.clear();
  Source->SetDataset(c);
  EXPECT_EQ((Log{"before:nil", "L:0", "after:c", "state", "L:state", "data", "L:22", "L:1"}), Events);
  EXPECT_EQ(Source, c->GetDataSource(0));
  Events.clear();
  Source->SetDataset(c);
  EXPECT_TRUE(Events.empty());
}

TEST_F(DataSourceTest, ADisabledSourceHoldsChangesBackAndTellsThemOnceWhenEnabled) {
  Fill(2);
  TIB_Cursor* c = NewCursor();
  c->Open();
  Source->SetDataset(c);
  NewLink("L");
  int updates = 0;
  Source->OnStateChanged = [&](TIB_DataSource*, TIB_Dataset*) { Events.push_back("state"); };
  Source->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) { Events.push_back("data"); };
  Source->OnUpdateData = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) { ++updates; };
  Events.clear();
  Source->SetEnabled(false);
  for (int i = 0; i < 3; ++i) c->ProcessLinkEvent(sleDataChange);
  c->ProcessLinkEvent(sleUpdateData);
  c->StateChanged();
  // The column release and re-bind reach the links all the same.
  c->ProcessLinkEvent(sleColumnsReleased);
  c->ProcessLinkEvent(sleColumnsRebind);
  Source->SetEnabled(true);
  EXPECT_EQ((Log{"L:20", "L:24", "state", "L:state", "data"}), Events);
  EXPECT_EQ(0, updates);
}

TEST_F(DataSourceTest, LinksThatLeaveOrJoinDuringAWalkAreToldExactlyOnce) {
  Fill(1);
  TIB_Cursor* c = NewCursor();
  c->Open();
  Source->SetDataset(c);
  LogLink* a = NewLink("A");
  NewLink("B");
  NewLink("C");
  auto* d = new LogLink(Owner, Events, "D");
  a->OnState = [&] {
    a->SetDataSource(nullptr);
    d->SetDataSource(Source);
  };
  Events.clear();
  Source->NotifyDataLinks();
  EXPECT_EQ((Log{"A:state", "A:0", "A:1", "D:0", "D:1", "B:state", "C:state", "D:state"}), Events);
  // A link leaving in the middle of an event walk: the rest still hear it, the leaver no more.
  LogLink* b = static_cast<LogLink*>(Source->GetDataLink(0));
  b->OnDataChange = [&](TIB_DataLink*, TIB_DataSource*, TIB_Column*) { b->SetDataSource(nullptr); };
  Events.clear();
  c->ProcessLinkEvent(sleDataChange);
  EXPECT_EQ((Log{"B:22", "B:0", "B:1", "C:22", "D:22"}), Events);
}

// A master source whose dataset the test chooses after it was set (the setters refuse a cycle made at once).
struct MovableSource : TIB_DatasetLinkSource {
  TIB_Dataset* Target = nullptr;
  TIB_Dataset* GetLinkDataset() override { return Target; }
};

TEST_F(DataSourceTest, AMasterChainLeadingBackIsRefusedAndACycleElsewhereEndsTheWalk) {
  TIB_Cursor* a = NewCursor();
  TIB_Cursor* b = NewCursor();
  MovableSource ma, mb;
  a->SetMasterSource(&ma);
  b->SetMasterSource(&mb);
  ma.Target = b;
  mb.Target = a;
  Source->SetDataset(a);
  EXPECT_EQ(a, Source->GetDataset());

  TIB_Cursor* detail = NewCursor();
  detail->SetMasterSource(Source);
  for (auto set : {+[](TIB_DataSource*S, TIB_Dataset*D) { S->SetDataset(D); },
                   +[](TIB_DataSource*S, TIB_Dataset*D) { S->SetStatement(D); }}) {
    try {
      set(Source, detail);
      ADD_FAILURE() << "a circular master chain was accepted";
    } catch (const EIB_DatasetError& e) {
      EXPECT_STREQ("Circular reference not allowed", e.what());
    }
    EXPECT_EQ(a, Source->GetDataset());
  }
  a->SetMasterSource(nullptr);
  b->SetMasterSource(nullptr);
}

TEST_F(DataSourceTest, AStatementThatIsNoDatasetIsRefusedBeforeTheSourceLeavesItsDataset) {
  TIB_Cursor* c = NewCursor();
  Source->SetDataset(c);
  auto* q = new TIB_DSQL(Owner);
  try {
    Source->SetStatement(q);
    FAIL() << "a TIB_DSQL was taken as a dataset";
  } catch (const EIB_DatasetError& e) {
    EXPECT_STREQ("Invalid class type", e.what());
  }
  EXPECT_EQ(c, Source->GetDataset());
  EXPECT_EQ(1, c->Get_DataSourceCount());
  EXPECT_EQ(1, c->Get_StatementLinkCount());
  EXPECT_EQ(0, q->Get_StatementLinkCount());
}

TEST_F(DataSourceTest, EditAndInsertRequestsFollowAutoEditAutoInsertAndTheRow) {
  Fill(1);
  struct {
    const char* Name;
    bool AutoEdit, AutoInsert, AtEnd;
    int32_t Request;
    bool Answer;
    TIB_DatasetState After;
  } cases[] = {
      {"edit without AutoEdit", false, true, false, dsnEditRequest, false, dssBrowse},
      {"edit with AutoEdit", true, true, false, dsnEditRequest, true, dssEdit},
      {"insert on a forward-only row", true, true, false, dsnInsertRequest, false, dssBrowse},
      {"modify without a row inserts", true, true, true, dsnModifyRequest, true, dssInsert},
      {"modify without a row, AutoEdit nor AutoInsert", false, false, true, dsnModifyRequest, false, dssBrowse},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    auto* c = new EditableCursor(Owner);
    c->SetIB_Connection(Conn);
    c->SetIB_Transaction(Tr);
    c->GetSQL().SetText("SELECT ID, NAME FROM T");
    c->Open();
    if (k.AtEnd) c->Next();
    auto* s = new TIB_DataSource(Owner);
    s->SetDataset(c);
    s->SetAutoEdit(k.AutoEdit);
    s->SetAutoInsert(k.AutoInsert);
    EXPECT_EQ(k.Answer, s->Perform(k.Request));
    EXPECT_EQ(k.After, c->GetState());
    delete s;
    delete c;
  }
}

TEST_F(DataSourceTest, FocusGoesOnlyToAnAllowingSourceAndIsAnnouncedToReceivingLinks) {
  TIB_Cursor* c = NewCursor();
  Source->SetDataset(c);
  TIB_Session* s = Source->GetSession();
  auto* follower = new TIB_DataLink(Owner);
  follower->SetReceiveFocus(true);
  EXPECT_FALSE(Source->Perform(dsnFocusRequest));
  EXPECT_EQ(nullptr, s->GetFocusedDataSource());
  Source->SetAnnounceFocus(true);
  EXPECT_TRUE(Source->GetAllowFocus());
  EXPECT_TRUE(Source->Perform(dsnFocusRequest));
  EXPECT_EQ(Source, s->GetFocusedDataSource());
  EXPECT_EQ(c, s->GetFocusedDataset());
  EXPECT_EQ(Source, follower->GetDataSource());
  Source->SetAllowFocus(false);
  EXPECT_FALSE(Source->GetAnnounceFocus());
  delete Source;
  EXPECT_EQ(nullptr, s->GetFocusedDataSource());
  EXPECT_EQ(nullptr, follower->GetDataSource());
}

TEST_F(DataSourceTest, ADatasetThatGoesLeavesItsSourcesAndTheirLinksEmpty) {
  TIB_Cursor* c = NewCursor();
  Source->SetDataset(c);
  LogLink* l = NewLink("L");
  Events.clear();
  delete c;
  EXPECT_EQ(nullptr, Source->GetDataset());
  EXPECT_EQ((Log{"L:0", "L:state", "L:22", "L:1"}), Events);
  EXPECT_EQ(dssInactive, l->GetDataState());
  EXPECT_TRUE(l->GetEof());
}

}  // namespace
