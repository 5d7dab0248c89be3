// One transaction over two and three databases: every end reaches every database, or none does.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Errors.h"
#include "dblib/IB_Session.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "platform/ScopeGuards.h"
#include "support/TestDatabase.h"

namespace {

// Commits that fail while Failures is above zero (one fewer each time), in front of the real commit.
struct FailingCommit {
  static inline int Failures = 0;
  static inline int Calls = 0;
  static inline decltype(TIB_EntryTable::isc_commit_transaction) Real = nullptr;
  static ISC_STATUS Call(ISC_STATUS* Status, isc_tr_handle* TR) {
    ++Calls;
    if (Failures > 0) {
      --Failures;
      Status[0] = isc_arg_gds;
      Status[1] = isc_deadlock;
      Status[2] = isc_arg_end;
      return isc_deadlock;
    }
    return Real(Status, TR);
  }
};

class MultiDbTransactionTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      const std::string path = Dir.File("db" + std::to_string(i) + ".fdb");
      Session->CreateDatabase(path, "", "", 4096, "ISO8859_1", 3);
      {
        testsupport::TestDatabase raw(*Raw, path);
        raw.Execute("CREATE TABLE T1 (ID INTEGER NOT NULL PRIMARY KEY)");
        raw.Commit();
      }
      auto* c = new TIB_Connection(Form);
      c->SetDatabaseName(path);
      c->SetCharSet("ISO8859_1");
      c->Connect();
      Conns.push_back(c);
      Paths.push_back(path);
    }
    FailingCommit::Real = Session->Untraced.isc_commit_transaction;
    FailingCommit::Failures = 0;
    FailingCommit::Calls = 0;
    Session->Entries.isc_commit_transaction = &FailingCommit::Call;
  }
  void TearDown() override { delete Form; }

  // A transaction over the first Count databases.
  TIB_Transaction* Unit(int Count) {
    auto* t = new TIB_Transaction(Form);
    for (int i = 0; i < Count; ++i) t->AddConnection(Conns[static_cast<size_t>(i)]);
    return t;
  }
  void Insert(TIB_Transaction* T, int Db, int Id) {
    auto* q = new TIB_DSQL(Form);
    auto drop = TScopeExit([&] { delete q; });
    q->SetIB_Connection(Conns[static_cast<size_t>(Db)]);
    q->SetIB_Transaction(T);
    q->GetSQL().SetText("INSERT INTO T1 (ID) VALUES (" + std::to_string(Id) + ")");
    q->Execute();
  }
  // The committed IDs of database Db, as another attachment sees them ("1,2").
  std::string Ids(int Db) {
    testsupport::TestDatabase raw(*Raw, Paths[static_cast<size_t>(Db)]);
    return raw.QueryRow("SELECT CAST(COALESCE(LIST(ID, ','), '') AS VARCHAR(100)) FROM (SELECT ID FROM T1 ORDER BY ID)").at(0).Text;
  }
  std::vector<std::string> AllIds(int Count) {
    std::vector<std::string> r;
    for (int i = 0; i < Count; ++i) r.push_back(Ids(i));
    return r;
  }
  using V = std::vector<std::string>;

  testsupport::TempDir Dir;
  testsupport::SessionPtr Raw = testsupport::NewSession();
  TComponent* Form = new TComponent(nullptr);
  TIB_Session* Session = new TIB_Session(Form);
  std::vector<TIB_Connection*> Conns;
  std::vector<std::string> Paths;
};

TEST_F(MultiDbTransactionTest, CommitAndRollbackReachEveryDatabaseOfTheUnit) {
  for (int count : {2, 3}) {
    SCOPED_TRACE(count);
    TIB_Transaction* t = Unit(count);
    const V before = AllIds(count);
    for (int db = 0; db < count; ++db) Insert(t, db, 10 * count + db);
    t->Rollback();
    EXPECT_EQ(before, AllIds(count));
    for (int db = 0; db < count; ++db) Insert(t, db, 10 * count + db);
    t->Commit();
    EXPECT_FALSE(t->GetStarted());
    EXPECT_EQ(1, FailingCommit::Calls);  // one two-phase commit over all of them
    FailingCommit::Calls = 0;
    const V expected = count == 2 ? V{"20", "21"} : V{"20,30", "21,31", "32"};
    EXPECT_EQ(expected, AllIds(count));
    delete t;
  }
}

TEST_F(MultiDbTransactionTest, AFailedStatementThenRollbackLeavesEveryDatabaseAsItWas) {
  TIB_Transaction* t = Unit(3);
  Insert(t, 0, 1);
  Insert(t, 1, 1);
  Insert(t, 2, 1);
  try {
    Insert(t, 1, 1);  // a duplicate key in the middle database
    ADD_FAILURE() << "the duplicate was taken";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(isc_unique_key_violation, e.ERRCODE);
  }
  EXPECT_TRUE(t->GetStarted());  // the failed statement does not end the unit
  t->Rollback();
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(V(3, ""), AllIds(3));
  // and the unit runs again over all three
  for (int db = 0; db < 3; ++db) Insert(t, db, 2);
  t->Commit();
  EXPECT_EQ(V(3, "2"), AllIds(3));
}

TEST_F(MultiDbTransactionTest, ACommitThatFailsOnceIsTriedAgainAndCommitsEveryDatabase) {
  TIB_Transaction* t = Unit(3);
  for (int db = 0; db < 3; ++db) Insert(t, db, 5);
  FailingCommit::Failures = 1;
  t->Commit();
  EXPECT_EQ(2, FailingCommit::Calls);
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(V(3, "5"), AllIds(3));
}

TEST_F(MultiDbTransactionTest, ACommitThatKeepsFailingCommitsNothingAndCanBeRetriedByTheCaller) {
  TIB_Transaction* t = Unit(3);
  for (int db = 0; db < 3; ++db) Insert(t, db, 6);
  FailingCommit::Failures = 2;
  try {
    t->Commit();
    ADD_FAILURE() << "the commit did not fail";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(isc_deadlock, e.ERRCODE);
  }
  EXPECT_TRUE(t->GetStarted());
  EXPECT_EQ(tsActive, t->GetTransactionState());
  EXPECT_EQ(V(3, ""), AllIds(3));
  t->Commit();  // the caller's retry
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(V(3, "6"), AllIds(3));
}

TEST_F(MultiDbTransactionTest, AConnectionDetachingMidUnitEndsTheWholeUnit) {
  TIB_Transaction* t = Unit(3);
  for (int db = 0; db < 3; ++db) Insert(t, db, 7);
  Conns[1]->Disconnect();
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(tsInactive, t->GetTransactionState());
  EXPECT_EQ(3, t->Get_ConnectionCount());
  EXPECT_EQ(V(3, ""), AllIds(3));  // not written in one database and lost in another
  Conns[1]->Connect();
  for (int db = 0; db < 3; ++db) Insert(t, db, 8);
  t->Commit();
  EXPECT_EQ(V(3, "8"), AllIds(3));
}

}  // namespace
