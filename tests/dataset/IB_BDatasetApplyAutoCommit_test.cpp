// Writes that run inside a savepoint in a transaction that commits each change by itself (AutoCommit)
// and is already started: cached updates applied from the dataset are one unit, committed once when
// they all went through and taken back whole when one fails; a post whose key links may name several
// rows is undone alone when it changed more than one.
#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

using testsupport::MessageOf;

class ApplyAutoCommitTest : public datasettest::DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Fill(6);
    Tr->SetAutoCommit(true);
  }
  // Cached updates over T, open: the transaction is started by the open, not explicitly.
  TIB_Query* Cached() {
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    q->Open();
    EXPECT_TRUE(Tr->GetStarted());
    EXPECT_FALSE(Tr->GetExplicitStart());
    return q;
  }
  // An edit of row 2, a delete of row 4 and an insert of row 100, cached.
  static void Change(TIB_Query* Q) {
    Q->SetRowNum(2);
    Q->Edit();
    Q->FieldByName("NAME")->SetAsString("edited");
    Q->Post();
    Q->SetRowNum(4);
    Q->Delete();
    Q->Insert();
    Q->FieldByName("ID")->SetAsInteger(100);
    Q->FieldByName("NAME")->SetAsString("new");
    Q->Post();
  }
  std::string Committed() { return ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","); }
};

// Every change is written and committed once, after the last one: another attachment sees them all,
// and the dataset takes them as its rows.
TEST_F(ApplyAutoCommitTest, AnApplyCommitsItsChangesOnceWhenAllWentThrough) {
  TIB_Query* q = Cached();
  Change(q);
  int commits = 0;
  Tr->AfterCommitRetaining = [&](TIB_Transaction*) { ++commits; };
  const uint32_t ends = Tr->GetEndCount();
  q->ApplyUpdates();
  EXPECT_EQ(Committed(), "1,n1;2,edited;3,n3;5,n5;6,n6;100,new");
  EXPECT_FALSE(q->GetUpdatesPending());
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 0);
  EXPECT_EQ(Tr->GetTransactionState(), tsStarted);
  EXPECT_FALSE(Tr->GetExplicitStart());
  // The quiet commit of the auto-commit: no commit event, and the transaction (with its cursor) goes on.
  EXPECT_EQ(commits, 0);
  EXPECT_EQ(Tr->GetEndCount(), ends);
  // The applied rows are plain rows now: a further edit of one is a change of its own.
  q->SetRowNum(2);
  EXPECT_EQ(q->GetUpdateStatus(), usUnmodified);
  q->Edit();
  q->FieldByName("NAME")->SetAsString("again");
  q->Post();
  q->ApplyUpdates();
  EXPECT_EQ(ReadSecond("SELECT NAME FROM T WHERE ID = 2", ","), "again");
  // A statement run afterwards still commits at once.
  Exec("UPDATE T SET NAME = 'direct' WHERE ID = 1");
  EXPECT_EQ(ReadSecond("SELECT NAME FROM T WHERE ID = 1", ","), "direct");
  delete q;
}

// A change the engine refuses takes the whole apply back: nothing of it reaches another attachment,
// every change stays pending, and the transaction still commits a statement's change at once.
TEST_F(ApplyAutoCommitTest, AFailedApplyTakesItsWritesBackAndLosesNoChange) {
  Tr->SetAutoCommit(false);
  Exec("CREATE EXCEPTION NO_DELETE 'not this row'");
  Exec("CREATE TRIGGER T_BD FOR T BEFORE DELETE AS BEGIN IF (OLD.ID = 4) THEN EXCEPTION NO_DELETE; END");
  Tr->Commit();
  Tr->SetAutoCommit(true);
  TIB_Query* q = Cached();
  Change(q);
  const std::string before = Committed();
  const std::string message = MessageOf<EIB_ISCError>([&] { q->ApplyUpdates(); });
  EXPECT_NE(message.find("not this row"), std::string::npos) << message;
  EXPECT_EQ(Committed(), before);
  EXPECT_TRUE(q->GetUpdatesPending());
  EXPECT_EQ(q->GetNodeList().GetModifiedCount(), 1);
  EXPECT_EQ(q->GetNodeList().GetDeletedCount(), 1);
  EXPECT_EQ(q->GetNodeList().GetInsertedCount(), 1);
  EXPECT_EQ(Tr->GetTransactionState(), tsPending);
  // With the refused delete skipped, the rest goes through at the next apply; the delete stays pending.
  q->OnUpdateRecord = [](TIB_Dataset* D, TIB_UpdateKind Kind, TIB_UpdateAction& Action) {
    if (Kind == ukDelete) {
      Action = uaSkip;
      return;
    }
    static_cast<TIB_BDataset*>(D)->SysUpdateRecord(Kind);
    Action = uaApplied;
  };
  q->ApplyUpdates();
  EXPECT_EQ(Committed(), "1,n1;2,edited;3,n3;4,n4;5,n5;6,n6;100,new");
  EXPECT_EQ(q->GetNodeList().GetModifiedCount(), 0);
  EXPECT_EQ(q->GetNodeList().GetInsertedCount(), 0);
  EXPECT_EQ(q->GetNodeList().GetDeletedCount(), 1);
  EXPECT_TRUE(q->GetUpdatesPending());
  Exec("UPDATE T SET NAME = 'direct' WHERE ID = 1");
  EXPECT_EQ(ReadSecond("SELECT NAME FROM T WHERE ID = 1", ","), "direct");
  delete q;
}

// A post without cached updates whose key links the application gave (they may name several rows)
// runs inside a savepoint of its own: it is committed when it changed its one row, and undone, never
// committed, when it changed more.
TEST_F(ApplyAutoCommitTest, APostGuardedBySavepointIsCommittedOnlyWhenItChangedOneRow) {
  TIB_Query* q = NewQuery("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  q->SetRequestLive(true);
  q->GetKeyLinks().SetText("ID");
  q->Open();
  q->SetRowNum(3);
  q->Edit();
  q->FieldByName("NAME")->SetAsString("one");
  q->Post();
  EXPECT_EQ(ReadSecond("SELECT ID FROM T WHERE NAME = 'one'", ","), "3");
  EXPECT_EQ(Tr->GetTransactionState(), tsStarted);
  delete q;
  // GRP names two rows: the update of both is taken back.
  q = NewQuery("SELECT GRP, NAME FROM T WHERE ID IN (1, 4) ORDER BY ID");
  q->SetRequestLive(true);
  q->GetKeyLinks().SetText("GRP");
  q->Open();
  q->Edit();
  q->FieldByName("NAME")->SetAsString("both");
  EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { q->Post(); }), "Multiple records updated");
  q->Cancel();
  EXPECT_EQ(ReadSecond("SELECT COUNT(*) FROM T WHERE NAME = 'both'", ","), "0");
  Exec("UPDATE T SET NAME = 'direct' WHERE ID = 1");
  EXPECT_EQ(ReadSecond("SELECT NAME FROM T WHERE ID IN (1, 4) ORDER BY ID", ","), "direct;n4");
  delete q;
}

}  // namespace
