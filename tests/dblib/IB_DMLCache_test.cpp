#include "dblib/IB_DMLCache.h"

#include <gtest/gtest.h>

#include <functional>

#include "TransactionTestSupport.h"
#include "dataset/DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

// A copy keeps the commit-failed flag; a start clears it and sets the next times from the settings.
TEST(TimeoutProps, CopyKeepsTheCommitFailedFlagAndAStartResetsIt) {
  TIB_TimeoutProps a, b;
  b.SetForceClosed(99);
  b.SetAttempt(40);
  b.SetPromptUser(0x12345);
  a.SetCommitFailed(true);
  a.Assign(b);
  EXPECT_EQ(a.GetForceClosed(), 99u);
  EXPECT_TRUE(a.GetCommitFailed());
  a.ResetForStart();
  EXPECT_EQ(a.GetNextAttempt(), 40u);
  EXPECT_EQ(a.GetNextPrompt(), 0x12345u);  // all of it, not its low 16 bits
  EXPECT_FALSE(a.GetCommitFailed());
}

TEST(DMLCacheDelivery, OnlyMatchingReceiveFlagsGetTheNoticeAndPartnersNone) {
  const TIB_DMLCacheItem items[] = {{nullptr, "E", Variant(int32_t{1}), ditEdit},
                                    {nullptr, "I", Variant(int32_t{2}), ditInsert},
                                    {nullptr, "D", Variant(int32_t{3}), ditDelete}};
  const struct {
    TIB_DMLCacheFlags Flags;
    bool Partner;
    TLog Received;
  } cases[] = {
      {IB_DMLCacheFlag(dcfAnnounceEdit) | IB_DMLCacheFlag(dcfAnnounceInsert) | IB_DMLCacheFlag(dcfAnnounceDelete),
       false,
       {}},
      {IB_DMLCacheFlag(dcfReceiveInsert) | IB_DMLCacheFlag(dcfReceiveDelete), false, {"R.DML1:I", "R.DML2:D"}},
      {IB_DMLCacheFlag(dcfReceiveEdit), false, {"R.DML0:E"}},
      {IB_DMLCacheFlag(dcfReceiveEdit), true, {}},
  };
  for (const auto& k : cases) {
    TLog log;
    TFakeDataset receiver("R", log);
    receiver.Flags = k.Flags;
    receiver.Partner = k.Partner;
    for (const TIB_DMLCacheItem& i : items) TIB_TransactionDMLCache::DeliverTo(&receiver, i);
    EXPECT_EQ(log, k.Received);
  }
  TIB_TransactionDMLCache::DeliverTo(nullptr, items[0]);
}

// ---------------------------------------------------------------------------------------------------
// From dataset to dataset, against the engine

class DMLCacheDatasetTest : public datasettest::DatasetDbTest {
protected:
  static constexpr TIB_DMLCacheFlags kAnnounceAll =
      IB_DMLCacheFlag(dcfAnnounceEdit) | IB_DMLCacheFlag(dcfAnnounceInsert) | IB_DMLCacheFlag(dcfAnnounceDelete);
  static constexpr TIB_DMLCacheFlags kReceiveAll =
      IB_DMLCacheFlag(dcfReceiveEdit) | IB_DMLCacheFlag(dcfReceiveInsert) | IB_DMLCacheFlag(dcfReceiveDelete);

  // An open cursor on (C, T) that logs each notice it receives with the row's name as its own
  // transaction reads it at that moment ("-" when the row is not there).
  TIB_Cursor* Receiver(const std::string& Name, TIB_Connection* C, TIB_Transaction* T) {
    auto* r = new TIB_Cursor(Owner);
    r->SetIB_Connection(C);
    r->SetIB_Transaction(T);
    r->GetSQL().SetText("SELECT ID, NAME FROM T");
    r->SetDMLCacheFlags(kReceiveAll);
    r->OnDMLCacheReceivedItem = [this, Name, C, T](TIB_Dataset*, const TIB_DMLCacheItem& Item) {
      const std::string key = Item.GetKeyFieldValues().AsString();
      auto* q = new TIB_Cursor(Owner);
      q->SetIB_Connection(C);
      q->SetIB_Transaction(T);
      q->GetSQL().SetText("SELECT NAME FROM T WHERE ID = " + key);
      q->Open();
      const std::string seen = q->GetEof() ? "-" : q->GetFields()->GetColumns(0)->GetAsString();
      delete q;
      Log.push_back(Name + std::to_string(Item.GetDMLCacheItemType()) + ":" + Item.GetKeyFieldNames() + "=" + key +
                    "," + seen);
    };
    r->Open();
    return r;
  }

  TLog Log;
};

// A posted change reaches the other datasets of its own transaction at once, and those of other
// read-committed transactions on its connection once the commit made it visible; an undone one
// reaches nobody else. Snapshot transactions and other connections hear nothing.
TEST_F(DMLCacheDatasetTest, PostedChangesReachReadCommittedDatasetsOfTheConnectionWhenVisible) {
  Fill(3);
  Tr->SetIsolation(tiCommitted);
  auto* trOther = new TIB_Transaction(Owner);
  trOther->SetIB_Connection(Conn);
  trOther->SetIsolation(tiCommitted);
  auto* trSnapshot = new TIB_Transaction(Owner);
  trSnapshot->SetIB_Connection(Conn);
  auto* conn2 = new TIB_Connection(Owner);
  conn2->SetDatabaseName(Conn->GetDatabaseName());
  conn2->SetCharSet("ISO8859_1");
  auto* tr2 = new TIB_Transaction(Owner);
  tr2->SetIB_Connection(conn2);
  tr2->SetIsolation(tiCommitted);
  Receiver("other", Conn, trOther);
  Receiver("snapshot", Conn, trSnapshot);
  Receiver("conn2:", conn2, tr2);

  auto* origin = NewCursor("SELECT ID, NAME FROM T ORDER BY ID");
  origin->SetRequestLive(true);
  origin->GetKeyLinks().SetText("ID");
  origin->SetDMLCacheFlags(kAnnounceAll);
  // Run the origin's change and end Tr with End; each step gets a fresh sibling in Tr.
  auto step = [&](const std::function<void()>& Change, const std::function<void()>& End) {
    TIB_Cursor* sibling = Receiver("sibling", Conn, Tr);
    origin->Open();
    Change();
    End();
    delete sibling;
  };
  step(
      [&] {
        origin->Next();
        origin->Edit();
        origin->FieldByName("NAME")->SetAsString("two");
        origin->Post();
        EXPECT_EQ(Log, TLog{"sibling0:ID=2,two"});  // its own transaction sees it already
        Log.clear();
      },
      [&] { Tr->Commit(); });
  EXPECT_EQ(Log, TLog{"other0:ID=2,two"});
  Log.clear();
  const struct {
    const char* Name;
    std::function<void()> End;
  } undoes[] = {{"rollback", [&] { Tr->Rollback(); }}, {"rollback retaining", [&] { Tr->RollbackRetaining(); }}};
  for (const auto& u : undoes) {
    step([&] { origin->Delete(); }, u.End);
    EXPECT_EQ(Log, TLog{"sibling2:ID=1,-"}) << u.Name;
    Log.clear();
    if (Tr->GetStarted()) Tr->Rollback();
  }
  step(
      [&] {
        origin->Insert();
        origin->FieldByName("ID")->SetAsInteger(9);
        origin->FieldByName("NAME")->SetAsString("nine");
        origin->Post();
      },
      [&] { Tr->CommitRetaining(); });
  EXPECT_EQ(Log, (TLog{"sibling1:ID=9,nine", "other1:ID=9,nine"}));
  Log.clear();
  Tr->Commit();

  // An announcement handler of the application takes the place of the cache.
  origin->OnDMLCacheAnnounceItem = [&](TIB_Dataset*, TIB_DMLCacheItemType T) {
    Log.push_back("handler" + std::to_string(T));
  };
  step([&] { origin->Delete(); }, [&] { Tr->Commit(); });
  EXPECT_EQ(Log, TLog{"handler2"});
}

// A receiving query reads an edited row again, finds an inserted one and drops a deleted one; a row
// it holds a cached change of stays as the user left it.
TEST_F(DMLCacheDatasetTest, AReceivingQueryFollowsTheRowsOtherDatasetsChanged) {
  Fill(5);
  Tr->SetIsolation(tiCommitted);
  auto* trQuery = new TIB_Transaction(Owner);
  trQuery->SetIB_Connection(Conn);
  trQuery->SetIsolation(tiCommitted);
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(trQuery);
  q->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  q->GetKeyLinks().SetText("ID");
  q->SetDMLCacheFlags(kReceiveAll);
  q->SetRequestLive(true);
  q->FetchAll();
  q->SetRowNum(3);
  // The query's rows ("*" marks the current one), each read as a control would show it.
  auto rows = [q] {
    const int32_t current = q->GetRowNum();
    std::string out;
    for (int32_t i = 1;; ++i) {
      q->SetRowNum(i);
      if (q->GetEof()) break;
      out += (i == current ? "*" : "") + q->FieldByName("NAME")->GetAsString() + " ";
    }
    q->SetRowNum(current);
    return out;
  };
  auto* origin = NewCursor();
  origin->SetRequestLive(true);
  origin->GetKeyLinks().SetText("ID");
  origin->SetDMLCacheFlags(kAnnounceAll);
  auto change = [&](TIB_DMLCacheItemType Kind, int Id, const std::string& Name) {
    origin->GetSQL().SetText(Kind == ditInsert ? "SELECT ID, NAME FROM T"
                                               : "SELECT ID, NAME FROM T WHERE ID = " + std::to_string(Id));
    origin->Open();
    if (Kind == ditDelete) {
      origin->Delete();
    } else {
      Kind == ditEdit ? origin->Edit() : origin->Insert();
      origin->FieldByName("ID")->SetAsInteger(Id);
      origin->FieldByName("NAME")->SetAsString(Name);
      origin->Post();
    }
    Tr->Commit();
  };
  const struct {
    TIB_DMLCacheItemType Kind;
    int Id;
    const char* Name;
    const char* Rows;
  } steps[] = {
      {ditEdit, 3, "three", "n1 n2 *three n4 n5 "}, {ditEdit, 5, "five", "n1 n2 *three n4 five "},
      {ditDelete, 2, "", "n1 *three n4 five "},     {ditDelete, 3, "", "n1 *n4 five "},
      {ditInsert, 9, "nine", "n1 *n4 five nine "},
  };
  for (const auto& s : steps) {
    change(s.Kind, s.Id, s.Name);
    EXPECT_EQ(rows(), s.Rows) << "after " << int(s.Kind) << " of " << s.Id;
  }
  // A row with a cached change keeps it, whatever others did to the row.
  q->SetCachedUpdates(true);
  q->SetRowNum(1);
  q->Edit();
  q->FieldByName("NAME")->SetAsString("mine");
  q->Post();
  change(ditEdit, 1, "theirs");
  change(ditDelete, 1, "");
  EXPECT_EQ(rows(), "*mine n4 five nine ");
  q->CancelUpdates();
}

}  // namespace
