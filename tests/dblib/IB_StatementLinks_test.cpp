#include "dblib/IB_StatementLinks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "StatementTestSupport.h"

namespace {

using stmttest::StatementDbTest;

struct RecordingLink : TIB_StatementLink {
  std::vector<int32_t>* Log;
  std::function<void(int32_t)> OnEvent;
  RecordingLink(TComponent* Owner, std::vector<int32_t>* L) : TIB_StatementLink(Owner), Log(L) {}
  void ProcessEvent(int32_t AEvent, intptr_t AArg) override {
    Log->push_back(AEvent);
    if (OnEvent) OnEvent(AEvent);
    TIB_StatementLink::ProcessEvent(AEvent, AArg);
  }
};

struct RecordingTransactionLink : TIB_TransactionLink {
  std::vector<int>* Log;
  RecordingTransactionLink(TComponent* Owner, std::vector<int>* L) : TIB_TransactionLink(Owner), Log(L) {}
  void ProcessEvent(uint8_t AEvent) override { Log->push_back(AEvent); }
};

class LinksTest : public StatementDbTest {
protected:
  // The logs outlive the links, which the form deletes after the test body.
  std::vector<int32_t> log, logA, logB, logC;
  std::vector<int> tlog;
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE T (ID INTEGER)");
    Tr->Commit();
  }
};

TEST_F(LinksTest, StatementLinkJoinsReceivesAndLeaves) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T WHERE ID = :ID");
  auto* link = new RecordingLink(Owner, &log);
  int preparedChanged = 0;
  link->OnPreparedChanged = [&](TIB_StatementLink* Sender, TIB_Statement* S) {
    EXPECT_EQ(link, Sender);
    EXPECT_EQ(q, S);
    ++preparedChanged;
  };
  link->SetStatement(q);
  EXPECT_EQ((std::vector<int32_t>{0, 1}), log);
  link->SetStatement(q);
  EXPECT_EQ(2u, log.size());
  EXPECT_EQ(1, q->Get_StatementLinkCount());
  log.clear();
  q->Prepare();
  EXPECT_EQ((std::vector<int32_t>{sleBeforePrepare, sleColumnsReleased, sleColumnsRebind, sleLayoutChanged,
                                  slePreparedChanged, sleAfterPrepare}),
            log);
  EXPECT_EQ(1, preparedChanged);
  EXPECT_TRUE(link->GetPrepared());
  log.clear();
  q->Execute();
  EXPECT_EQ(sleBeforeExecute, log.front());
  EXPECT_EQ(sleAfterExecute, log.back());
  EXPECT_TRUE(link->GetActive());
  delete link;
  EXPECT_EQ(0, q->Get_StatementLinkCount());
}

TEST_F(LinksTest, DeletingTheStatementDetachesItsLinks) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  auto* link = new RecordingLink(Owner, &log);
  link->SetStatement(q);
  delete q;
  EXPECT_EQ(nullptr, link->GetStatement());
  EXPECT_FALSE(link->GetPrepared());
}

TEST_F(LinksTest, ALinkLeavingDuringABroadcastIsNotCalledAfterwards) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  auto* a = new RecordingLink(Owner, &logA);
  auto* b = new RecordingLink(Owner, &logB);
  auto* c = new RecordingLink(Owner, &logC);
  a->SetStatement(q);
  b->SetStatement(q);
  c->SetStatement(q);
  // a removes b and then itself while the prepare notice is broadcast.
  a->OnEvent = [&](int32_t Event) {
    if (Event == sleBeforePrepare) {
      delete b;
      b = nullptr;
      a->SetStatement(nullptr);
    }
  };
  logA.clear();
  logB.clear();
  logC.clear();
  q->Prepare();
  EXPECT_EQ((std::vector<int32_t>{sleBeforeLeave, sleAfterJoin}), logB);  // its own notices of leaving only
  EXPECT_EQ(sleBeforePrepare, logC.front());                              // not skipped
  EXPECT_EQ(1, q->Get_StatementLinkCount());
  EXPECT_EQ(sleBeforePrepare, logA.front());
}

TEST_F(LinksTest, TransactionLinkMovesWithNoticesAndLeavesWhenDestroyed) {
  std::vector<int>& log = tlog;
  auto* link = new RecordingTransactionLink(Owner, &log);
  link->SetIB_Transaction(Tr);
  EXPECT_EQ((std::vector<int>{0, 1}), log);
  link->SetIB_Transaction(Tr);
  EXPECT_EQ(2u, log.size());
  const int count = Tr->Get_TransactionLinkCount();
  log.clear();
  Tr->StartTransaction();
  Tr->SetStarted(true);
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), tleAfterStart));
  delete link;
  EXPECT_EQ(count - 1, Tr->Get_TransactionLinkCount());
}

TEST_F(LinksTest, TransactionLinkFollowsTheFocusedTransactionWhenAsked) {
  auto* link = new TIB_TransactionLink(Owner);
  link->SetReceiveFocus(true);
  Tr->SetAnnounceFocus(true);
  EXPECT_EQ(Tr, link->GetIB_Transaction());
  auto* other = new TIB_Transaction(Owner);
  TIB_Transaction* offered = nullptr;
  link->OnReceiveFocus = [&](TIB_TransactionLink*, TIB_Transaction* T) { offered = T; };
  other->SetAnnounceFocus(true);
  EXPECT_EQ(other, offered);
  EXPECT_EQ(Tr, link->GetIB_Transaction());
}

TEST_F(LinksTest, DestroyingATransactionLetsTheStatementGo) {
  auto* t = new TIB_Transaction(Owner);
  t->SetIB_Connection(Conn);
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  q->SetIB_Transaction(t);
  q->Prepare();
  delete t;
  EXPECT_EQ(nullptr, q->GetIB_Transaction());
  EXPECT_FALSE(q->GetPrepared());
}

TEST_F(LinksTest, MovingToATransactionOnTheSameConnectionKeepsThePrepare) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  q->Prepare();
  auto* same = new TIB_Transaction(Owner);
  same->SetIB_Connection(Conn);
  q->SetIB_Transaction(same);
  EXPECT_TRUE(q->GetPrepared());
  EXPECT_EQ(1, same->Get_StatementCount());

  testsupport::TempDir dir2;
  auto* conn2 = new TIB_Connection(Owner);
  conn2->SetDatabaseName(dir2.File("other.fdb"));
  conn2->CreateDatabase();
  auto* elsewhere = new TIB_Transaction(Owner);
  elsewhere->SetIB_Connection(conn2);
  q->SetIB_Transaction(elsewhere);
  EXPECT_FALSE(q->GetPrepared());
  delete conn2;
}

}  // namespace

// A parameter change that nobody hears skips the row's notices; whoever listens still hears every
// change, and the values and states come out the same either way.
TEST_F(LinksTest, ParameterChangesReachEveryListenerThatIsAttached) {
  struct Case {
    const char* Name;
    bool Link, ValidateField;
  };
  const Case cases[] = {
      {"nobody listens", false, false},
      {"a statement link", true, false},
      {"OnValidateField", false, true},
      {"both", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<int32_t> events;
    TIB_DSQL* q = NewDSQL("INSERT INTO T (ID) VALUES (:ID)");
    q->Prepare();
    RecordingLink* link = nullptr;
    if (c.Link) {
      link = new RecordingLink(Owner, &events);
      link->SetStatement(q);
    }
    std::vector<std::string> validated;
    if (c.ValidateField) {
      q->OnValidateField = [&](TIB_Statement*, TIB_Row* Row, TIB_Column* Col) {
        EXPECT_EQ(q->GetParams(), Row);
        validated.push_back(Col->GetAsString());
      };
    }
    // The column's own events are heard in every case.
    TIB_Column* id = q->ParamByName("ID");
    std::vector<std::string> before, after;
    id->OnBeforeModify = [&](TIB_Column* Col) { before.push_back(Col->GetAsString()); };
    id->OnAfterModify = [&](TIB_Column* Col) { after.push_back(Col->GetAsString()); };
    events.clear();
    for (int v : {1, 2, 3}) {
      id->SetAsInteger(v);
      EXPECT_EQ(rsUnmodified, q->GetParams()->GetRowState());
      EXPECT_EQ(v, id->GetAsInteger());
      EXPECT_TRUE(id->GetIsChanged());
      q->Execute();
    }
    id->Clear();
    EXPECT_TRUE(id->GetIsNull());
    EXPECT_EQ((std::vector<std::string>{"", "1", "2", "3"}), before);
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", ""}), after);
    if (c.ValidateField) {
      EXPECT_EQ((std::vector<std::string>{"1", "2", "3", ""}), validated);
    } else {
      EXPECT_TRUE(validated.empty());
    }
    // A link hears each change pass through the modified state and back.
    const auto stateEvents = std::count(events.begin(), events.end(), sleParamsStateChanged);
    EXPECT_EQ(c.Link ? 8 : 0, stateEvents);
    if (link) {
      delete link;
      // Once the link is gone, changes go unheard again and leave the same state.
      id->SetAsInteger(4);
      EXPECT_EQ(rsUnmodified, q->GetParams()->GetRowState());
      EXPECT_EQ(4, id->GetAsInteger());
    }
    delete q;
  }
  // Every value sent reached the table, as a second attachment reads it.
  Tr->Commit();
  auto* other = new TIB_Connection(Owner);
  other->SetDatabaseName(Conn->GetDatabaseName());
  other->SetCharSet("ISO8859_1");
  other->Connect();
  auto* otherTr = new TIB_Transaction(Owner);
  otherTr->SetIB_Connection(other);
  auto* read = new TIB_DSQL(Owner);
  read->SetIB_Connection(other);
  read->SetIB_Transaction(otherTr);
  read->GetSQL().SetText("SELECT COUNT(*), SUM(ID) FROM T");
  read->Execute();
  EXPECT_EQ(12, read->GetFields()->GetColumns(0)->GetAsInteger());
  EXPECT_EQ(24, read->GetFields()->GetColumns(1)->GetAsInteger());
}
