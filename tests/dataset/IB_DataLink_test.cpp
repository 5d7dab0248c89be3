#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "LinkTestSupport.h"
#include "platform/Locale.h"
#include "platform/ScopeGuards.h"

namespace {

using datasettest::DatasetDbTest;

class DataLinkTest : public DatasetDbTest {
protected:
  TIB_DataSource* Source = new TIB_DataSource(Owner);

  TIB_Cursor* OpenOn(const std::string& SQL, TIB_DataSource* S) {
    TIB_Cursor* c = NewCursor(SQL);
    S->SetDataset(c);
    c->Open();
    return c;
  }
  static std::vector<int> Ids(TIB_Dataset* D) {
    std::vector<int> ids;
    for (; !D->GetEof(); D->Next()) ids.push_back(D->FieldByName("ID")->GetAsInteger());
    return ids;
  }
};

TEST_F(DataLinkTest, DataChangeIsNotReenteredFromTheLinksOwnHandlers) {
  Fill(1);
  OpenOn("SELECT ID FROM T", Source);
  auto* l = new TIB_DataLink(Owner);
  l->SetDataSource(Source);
  int changes = 0;
  l->OnDataChange = [&](TIB_DataLink*, TIB_DataSource*, TIB_Column*) {
    ++changes;
    l->NotifyDataChange();
  };
  l->OnUpdateData = [&](TIB_DataLink*, TIB_DataSource*, TIB_Column*) { l->NotifyDataChange(); };
  l->Perform(dlnDataChange);
  l->Perform(dlnUpdateData);
  EXPECT_EQ(1, changes);
}

// A link destroyed by its own handler (a control closing its form) is not touched again: the dataset's
// move, edit or post that told it goes on, and the change is written.
TEST_F(DataLinkTest, ALinkDestroyedByItsOwnHandlerIsLeftAloneAndTheDatasetGoesOn) {
  Fill(8);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  q->SetRequestLive(true);
  Source->SetDataset(q);
  q->Open();
  TIB_DataLink* link = nullptr;
  const auto destroy = [&](TIB_DataLink*, TIB_DataSource*) { FreeAndNil(link); };
  const auto destroyField = [&](TIB_DataLink*, TIB_DataSource*, TIB_Column*) { FreeAndNil(link); };
  const auto editNext = [&](const char* Name) {
    q->Next();
    q->Edit();
    q->FieldByName("NAME")->SetAsString(Name);
    if (auto* c = dynamic_cast<TIB_ControlDataLink*>(link)) c->SetModified(true);  // its control was typed into
    q->Post();
  };
  const struct {
    const char* Handler;
    std::function<void(TIB_DataLink*)> Arm;
    std::function<void()> Run;
  } cases[] = {
      {"OnDataChange", [&](TIB_DataLink* l) { l->OnDataChange = destroyField; }, [&] { editNext("a"); }},
      {"OnStateChanged", [&](TIB_DataLink* l) { l->OnStateChanged = destroy; }, [&] { editNext("b"); }},
      {"OnUpdateData", [&](TIB_DataLink* l) { l->OnUpdateData = destroyField; }, [&] { editNext("c"); }},
      // Asked by the application of the link itself: the link is the entry point's object, gone.
      {"OnDataChange asked by the link itself", [&](TIB_DataLink* l) { l->OnDataChange = destroyField; },
       [&] { EXPECT_THROW(link->Perform(dlnDataChange), EAbort); }},
  };
  for (bool control : {false, true}) {
    for (const auto& k : cases) {
      SCOPED_TRACE(std::string(k.Handler) + (control ? " of a control link" : ""));
      link = control ? new TIB_ControlDataLink(Owner) : new TIB_DataLink(Owner);
      link->SetDataSource(Source);
      k.Arm(link);
      k.Run();
      EXPECT_EQ(nullptr, link);
      delete link;
      EXPECT_EQ(0, q->GetSession()->GetBusyLevel());
    }
  }
  q->Last();
  EXPECT_EQ(8, q->GetRowNum());
  Tr->Commit();
  EXPECT_EQ("1,n1;2,a;3,b;4,c;5,a;6,b;7,c;8,n8", ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","));
}

TEST_F(DataLinkTest, MovingToAnotherSourceNamesTheNewOneBeforeAndTheOldOneAfter) {
  struct Recorder : TIB_DataLink {
    using TIB_DataLink::TIB_DataLink;
    std::vector<std::pair<int, intptr_t>> Seen;
    void ProcessEvent(int32_t E, intptr_t A) override {
      if (E <= 1) Seen.emplace_back(E, A);
      TIB_DataLink::ProcessEvent(E, A);
    }
  };
  auto* other = new TIB_DataSource(Owner);
  auto* l = new Recorder(Owner);
  const auto id = [](TIB_DataSource* S) { return reinterpret_cast<intptr_t>(S); };
  l->SetDataSource(Source);
  l->SetDataSource(Source);
  l->SetDataSource(other);
  EXPECT_EQ((std::vector<std::pair<int, intptr_t>>{{0, id(Source)}, {1, 0}, {0, id(other)}, {1, id(Source)}}), l->Seen);
  EXPECT_EQ(0, Source->Get_DataLinkCount());
  EXPECT_EQ(l, other->GetDataLink(0));
}

TEST_F(DataLinkTest, CriteriaTravelThroughATransferListWhole) {
  TIB_Cursor* c = NewCursor();
  Source->SetDataset(c);
  auto* form = new TComponent(Owner);
  form->SetName("frm");
  auto* edit = new TComponent(form);
  edit->SetName("edName");
  auto* named = new TIB_ControlDataLink(edit);
  auto* unnamed = new TIB_DataLink(Owner);
  named->SetDataSource(Source);
  unnamed->SetDataSource(Source);
  unnamed->SetSearchWhere("ID = 1");
  for (const std::string text : {"ID=5", "A;B", "two\r\nlines", "back\\slash #1 \xE9"}) {
    SCOPED_TRACE(text);
    named->SetSearchBuffer(text);
    named->SetSearchWhere("W " + text);
    named->SetSearchData("D " + text);
    TStringList list;
    c->WriteSearchToList(&list);
    // Buffer, Where and Data of the named link only; no Display that was never set.
    ASSERT_EQ(3, list.Count());
    EXPECT_EQ(-1, list.IndexOfName("CTL.frm.edName.Display"));
    named->ClearCriteria();
    c->ReadSearchFromList(&list);
    EXPECT_EQ(text, named->GetSearchBuffer());
    EXPECT_EQ("W " + text, named->GetSearchWhere());
    EXPECT_EQ("D " + text, named->GetSearchData());
  }
}

// The transfer list is the application's too: it holds the texts as they are, NAME=VALUE split at the
// first '=', and a list the application wrote is read as it stands.
TEST_F(DataLinkTest, ATransferListHoldsPlainValuesByName) {
  TIB_Cursor* c = NewCursor();
  Source->SetDataset(c);
  auto* form = new TComponent(Owner);
  form->SetName("F");
  auto* edit = new TComponent(form);
  edit->SetName("edName");
  auto* link = new TIB_ControlDataLink(edit);
  link->SetDataSource(Source);
  link->SetSearchBuffer("ID = 5");
  link->SetSearchWhere("ID = 5 AND NAME = 'a;b'");
  link->SetSearchDisplay("#201 C:\\x");
  TStringList list;
  c->WriteSearchToList(&list);
  EXPECT_EQ("CTL.F.edName=ID = 5\r\nCTL.F.edName.Where=ID = 5 AND NAME = 'a;b'\r\nCTL.F.edName.Display=#201 C:\\x\r\n",
            list.GetText());
  struct {
    const char* Item;
    const char* Buffer;
    const char* Where;
  } const cases[] = {
      {"CTL.F.edName=#12 C:\\x", "#12 C:\\x", ""},
      {"CTL.F.edName=A\\=B;C", "A\\=B;C", ""},
      {"CTL.F.edName.Where=A = B", "", "A = B"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Item);
    TStringList own;
    own.Add(k.Item);
    c->ReadSearchFromList(&own);
    EXPECT_EQ(k.Buffer, link->GetSearchBuffer());
    EXPECT_EQ(k.Where, link->GetSearchWhere());
  }
}

TEST_F(DataLinkTest, AControlLinkIsPreventedByItsOwnFlagsAsTheStateAsks) {
  Fill(1);
  struct {
    const char* Name;
    bool ReadOnly, SearchAlways, PreventSearching, PreventEditing, Search;
    bool Prevented;
  } cases[] = {
      {"read-only browsing", true, false, false, false, false, true},
      {"read-only searching", true, false, false, false, true, true},
      {"SearchAlways with PreventSearching while browsing", false, true, true, false, false, true},
      {"PreventEditing on a row", false, false, false, true, false, true},
      {"PreventEditing while searching", false, false, false, true, true, false},
      {"nothing set", false, false, false, false, false, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    auto* s = new TIB_DataSource(Owner);
    TIB_Cursor* c = OpenOn("SELECT ID FROM T", s);
    if (k.Search) c->EnterSearchMode();
    auto* l = new TIB_ControlDataLink(Owner);
    l->SetDataSource(s);
    l->SetReadOnly(k.ReadOnly);
    l->SetSearchAlways(k.SearchAlways);
    l->SetPreventSearching(k.PreventSearching);
    l->SetPreventEditing(k.PreventEditing);
    EXPECT_EQ(k.Prevented, l->GetStatePrevented());
    delete l;
    delete s;
    delete c;
  }
}

TEST_F(DataLinkTest, StateColoursComeFromTheSessionAndItsHandlerHasTheLastWord) {
  Fill(1);
  TIB_Session* s = Source->GetSession();
  s->SetInvalidColor(101);
  s->SetBrowsingColor(102);
  auto* control = new TComponent(Owner);
  auto* l = new TIB_ControlDataLink(control);
  EXPECT_EQ(101, l->GetStateColor());
  control->IncludeState(csDesigning);
  EXPECT_EQ(clWindow, l->GetStateColor());
  control->ExcludeState(csDesigning);
  OpenOn("SELECT ID FROM T", Source);
  l->SetDataSource(Source);
  EXPECT_EQ(102, l->GetStateColor());
  s->OnGetDataLinkColor = [&](TIB_Session*, TIB_DataLink* Link, TColor& C) {
    if (Link == l) C = 103;
  };
  EXPECT_EQ(103, l->GetStateColor());
  s->OnGetDataLinkColor = nullptr;
}

TEST_F(DataLinkTest, KeyConditionsWriteLiteralsTheEngineReadsWhateverTheLocale) {
  Exec(
      "CREATE TABLE KV (ID INTEGER NOT NULL, AMT NUMERIC(10,2), NAME VARCHAR(20), F DOUBLE PRECISION, "
      "TS TIMESTAMP)");
  Tr->Commit();
  Exec("INSERT INTO KV VALUES (1, 12.5, 'O''Brien', 0.25, '2024-02-29 13:45:10.5')");
  Exec("INSERT INTO KV VALUES (-2, -0.05, NULL, -1.5E10, NULL)");
  Tr->Commit();
  TValueRestorer<char> comma(FormatSettings.DecimalSeparator, ',');
  TValueRestorer<char> dot(FormatSettings.ThousandSeparator, '.');
  TIB_Cursor* k = NewCursor("SELECT * FROM KV");
  Source->SetDataset(k);
  TIB_Cursor* d = NewCursor("SELECT * FROM KV ORDER BY ID DESC");
  d->GetKeyLinks().SetText("ID\nAMT\nNAME\nF\nTS");
  d->SetKeySource(Source);
  k->EnterSearchMode();  // the lookup's moves become the key source's criteria
  d->Open();
  d->Next();  // a lookup list opens on no row of its own
  const std::string expected[] = {
      "(ID = 1 AND AMT = 12.50 AND NAME = 'O''Brien' AND F = 0.25 AND TS = '2024-02-29 13:45:10.500')",
      "(ID = -2 AND AMT = -0.05 AND NAME IS NULL AND F = -1.5e+10 AND TS IS NULL)",
  };
  for (const std::string& want : expected) {
    const std::string where = d->GetKeyDataLink()->BuildKeyWhere();
    EXPECT_EQ(want, where);
    // The engine finds exactly the row the condition was built from.
    auto* q = new TIB_Cursor(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText("SELECT COUNT(*) FROM KV WHERE " + where);
    q->Open();
    EXPECT_EQ(1, q->GetFields()->GetColumns(0)->GetAsInteger());
    delete q;
    d->Next();
  }
  d->SetKeySource(nullptr);
}

TEST_F(DataLinkTest, ADetailFollowsTheRowOfItsMaster) {
  Fill(6);
  TIB_Cursor* master = OpenOn("SELECT ID, GRP FROM T ORDER BY ID", Source);
  TIB_Cursor* detail = NewCursor("SELECT ID FROM T ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=T.GRP");
  detail->SetMasterSource(Source);
  detail->Open();
  // The detail hears the master first.
  EXPECT_EQ(detail->GetMasterDataLink(), Source->GetDataLink(0));
  const std::vector<int> expected[] = {{1, 4}, {2, 5}, {3, 6}};
  for (const auto& ids : expected) {
    EXPECT_TRUE(detail->GetActive());
    EXPECT_EQ(ids, Ids(detail));
    master->Next();
  }
  delete Source;
  EXPECT_EQ(nullptr, detail->GetMasterSource());
}

}  // namespace
