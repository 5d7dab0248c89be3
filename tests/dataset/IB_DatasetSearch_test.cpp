#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LinkTestSupport.h"

namespace {

using datasettest::DatasetDbTest;

class DatasetSearchTest : public DatasetDbTest {
protected:
  TIB_DataSource* Source = new TIB_DataSource(Owner);
  TIB_ControlDataLink* Criteria = new TIB_ControlDataLink(Owner);

  TIB_Cursor* Searchable(const std::string& SQL = "SELECT ID, GRP FROM T ORDER BY ID") {
    TIB_Cursor* c = NewCursor(SQL);
    Source->SetDataset(c);
    Criteria->SetDataSource(Source);
    return c;
  }
  static std::vector<int> Ids(TIB_Dataset* D) {
    std::vector<int> ids;
    for (; !D->GetEof(); D->Next()) ids.push_back(D->FieldByName("ID")->GetAsInteger());
    return ids;
  }
};

TEST_F(DatasetSearchTest, SearchModeClosesTheDatasetBetweenItsEventsUnlessSearchingIsPrevented) {
  Fill(2);
  TIB_Cursor* c = Searchable();
  c->Open();
  std::vector<std::string> seen;
  c->BeforeSearch = [&](TIB_Dataset* D) { seen.push_back(D->GetActive() ? "before:open" : "before:closed"); };
  c->AfterSearch = [&](TIB_Dataset* D) { seen.push_back(D->GetState() == dssSearch ? "after:search" : "after:?"); };
  c->SetPreventSearching(true);
  try {
    c->EnterSearchMode();
    FAIL() << "entered search mode with PreventSearching";
  } catch (const EIB_DatasetError& e) {
    EXPECT_STREQ("Searching is not allowed", e.what());
  }
  EXPECT_TRUE(c->GetActive());
  c->SetPreventSearching(false);
  c->EnterSearchMode();
  EXPECT_EQ((std::vector<std::string>{"before:closed", "after:search"}), seen);
  EXPECT_TRUE(Criteria->GetEditable());
}

TEST_F(DatasetSearchTest, PostedCriteriaFilterTheQueryAndAFruitlessSearchStaysInSearchMode) {
  Fill(6);
  struct {
    const char* Where;
    std::vector<int> Ids;  // empty: "No records found"
    // A fruitless post in the middle: the next one must still run (the post count came back down).
  } cases[] = {{"ID > 4", {5, 6}}, {"ID > 100", {}}, {"GRP = 0", {3, 6}}};
  TIB_Cursor* c = Searchable();
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Where);
    c->EnterSearchMode();
    Criteria->SetSearchWhere(k.Where);
    if (k.Ids.empty()) {
      try {
        c->Post();
        FAIL() << "a search that matched nothing was posted";
      } catch (const EIB_DatasetError& e) {
        EXPECT_STREQ("No records found", e.what());
      }
      EXPECT_EQ(dssSearch, c->GetState());
      EXPECT_EQ(k.Where, Criteria->GetSearchWhere());
      continue;
    }
    c->Post();
    EXPECT_EQ(dssBrowse, c->GetState());
    EXPECT_EQ(k.Ids, Ids(c));
  }
  c->EnterSearchMode();
  Criteria->SetSearchWhere("ID > 1");
  c->Cancel();
  EXPECT_EQ(dssPrepared, c->GetState());
  EXPECT_EQ("", Criteria->GetSearchWhere());
  c->Open();
  EXPECT_EQ(6u, Ids(c).size());
}

TEST_F(DatasetSearchTest, SavedAndLastExecutedCriteriaComeBackAsTheyWere) {
  Fill(6);
  TIB_Cursor* c = Searchable();
  c->EnterSearchMode();
  Criteria->SetSearchWhere("ID > 4");
  c->Post();
  c->EnterSearchMode();
  Criteria->SetSearchWhere("ID < 2");
  c->SaveSearch();
  c->ClearSearch();
  EXPECT_EQ("", Criteria->GetSearchWhere());
  c->RecallLastSearch();
  EXPECT_EQ("ID > 4", Criteria->GetSearchWhere());
  c->RecallSearch();
  EXPECT_EQ("ID < 2", Criteria->GetSearchWhere());
  c->Open();  // opening from search mode applies the criteria as a post does
  EXPECT_EQ(dssBrowse, c->GetState());
  EXPECT_EQ((std::vector<int>{1}), Ids(c));
  // Unpreparing forgets the criteria and the saved ones.
  c->Unprepare();
  EXPECT_EQ("", Criteria->GetSearchWhere());
  c->RecallSearch();
  EXPECT_EQ("", Criteria->GetSearchWhere());
}

// The criteria a post runs become the last search even when a count has already put them into the
// query's WHERE clause (the post's own prepare then changes nothing).
TEST_F(DatasetSearchTest, CriteriaCountedBeforeTheirPostBecomeTheLastSearch) {
  Fill(6);
  for (int way = 0; way < 4; ++way) {
    // A cursor or a query; the search posted, or run by opening from search mode.
    const bool buffered = way & 1, opens = way & 2;
    SCOPED_TRACE(std::string(buffered ? "query" : "cursor") + (opens ? ", opened" : ", posted"));
    TIB_Dataset* d = buffered ? static_cast<TIB_Dataset*>(NewQuery("SELECT ID, GRP FROM T ORDER BY ID")) : Searchable();
    Source->SetDataset(d);
    d->EnterSearchMode();
    Criteria->SetSearchWhere("ID > 2");
    d->Post();
    d->EnterSearchMode();
    Criteria->SetSearchWhere("ID > 4");
    EXPECT_EQ(2, d->GetRecordCount());
    if (opens) {
      d->Open();
    } else {
      d->Post();
    }
    EXPECT_EQ((std::vector<int>{5, 6}), Ids(d));
    d->EnterSearchMode();
    d->ClearSearch();
    d->RecallLastSearch();
    EXPECT_EQ("ID > 4", Criteria->GetSearchWhere());
    d->Post();
    d->First();
    EXPECT_EQ((std::vector<int>{5, 6}), Ids(d));
    Source->SetDataset(nullptr);
    delete d;
  }
}

TEST_F(DatasetSearchTest, ADetailWithMasterSearchSearchesAndOpensWithItsMaster) {
  Fill(6);
  TIB_Cursor* master = Searchable();
  TIB_Cursor* detail = NewCursor("SELECT ID FROM T ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=T.GRP");
  detail->SetMasterSource(Source);
  detail->SetMasterSearch(true);
  master->Open();
  detail->Open();
  master->EnterSearchMode();
  EXPECT_EQ(dssSearch, detail->GetState());
  Criteria->SetSearchWhere("ID = 5");
  master->Post();
  EXPECT_EQ(dssBrowse, detail->GetState());
  EXPECT_EQ((std::vector<int>{2, 5}), Ids(detail));
}

TEST_F(DatasetSearchTest, OpeningASearchingDetailPostsItsMastersSearchFirst) {
  Fill(6);
  TIB_Cursor* master = Searchable();
  TIB_Cursor* detail = NewCursor("SELECT ID FROM T ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=T.GRP");
  detail->SetMasterSource(Source);
  detail->SetMasterSearch(true);
  master->EnterSearchMode();
  EXPECT_EQ(dssSearch, detail->GetState());
  // Counting in search mode counts what the criteria find now; the detail counts its master's rows.
  Criteria->SetSearchWhere("ID > 4");
  EXPECT_EQ(2, master->GetRecordCount());
  Criteria->SetSearchWhere("ID > 2");
  EXPECT_EQ(4, detail->GetRecordCount());
  EXPECT_EQ(dssSearch, master->GetState());
  Criteria->SetSearchWhere("ID = 4");
  detail->Open();
  EXPECT_EQ(dssBrowse, master->GetState());
  EXPECT_EQ(4, master->FieldByName("ID")->GetAsInteger());
  EXPECT_EQ((std::vector<int>{1, 4}), Ids(detail));
}

TEST_F(DatasetSearchTest, ADetailsCriteriaSearchItsMasterThroughAnExistsCondition) {
  Fill(6);
  Exec("CREATE TABLE G (GRP INTEGER NOT NULL PRIMARY KEY)");
  Tr->Commit();
  Exec("INSERT INTO G SELECT DISTINCT GRP FROM T");
  Tr->Commit();
  TIB_Cursor* master = Searchable("SELECT GRP FROM G ORDER BY GRP");
  TIB_Cursor* detail = NewCursor("SELECT ID FROM T ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=G.GRP");
  detail->SetMasterSource(Source);
  detail->SetMasterSearch(true);
  auto* detailSource = new TIB_DataSource(Owner);
  detailSource->SetDataset(detail);
  auto* detailCriteria = new TIB_DataLink(Owner);
  detailCriteria->SetDataSource(detailSource);
  master->EnterSearchMode();
  detailCriteria->SetSearchWhere("ID = 5");
  master->Post();
  EXPECT_EQ(2, master->FieldByName("GRP")->GetAsInteger());
  // The criteria chose the master's rows; the detail shows its master's row whole.
  EXPECT_EQ((std::vector<int>{2, 5}), Ids(detail));
  master->Next();
  EXPECT_TRUE(master->GetEof());
}

TEST_F(DatasetSearchTest, ALookupRowBecomesTheSearchOfItsKeySource) {
  Fill(6);
  Exec("CREATE TABLE G (GRP INTEGER NOT NULL PRIMARY KEY)");
  Tr->Commit();
  Exec("INSERT INTO G SELECT DISTINCT GRP FROM T");
  Tr->Commit();
  TIB_Cursor* k = Searchable();
  TIB_Cursor* lookup = NewCursor("SELECT GRP FROM G ORDER BY GRP");
  lookup->GetKeyLinks().SetText("GRP=GRP");
  lookup->SetKeySource(Source);
  lookup->Open();
  // A forward-only lookup cannot seek: its key source entering search mode leaves it where it is.
  std::vector<std::string> reported;
  Application->OnException = [&](const std::exception& E) { reported.push_back(E.what()); };
  k->EnterSearchMode();
  Application->OnException = nullptr;
  EXPECT_TRUE(reported.empty()) << reported.front();
  while (lookup->FieldByName("GRP")->GetAsInteger() != 1) lookup->Next();
  EXPECT_EQ("(GRP = 1)", lookup->GetKeyDataLink()->GetSearchWhere());
  k->Post();
  EXPECT_EQ((std::vector<int>{1, 4}), Ids(k));
}

TEST_F(DatasetSearchTest, TheTransactionsLockCountFollowsOnlyTheLocksTaken) {
  Fill(3);
  auto* conn2 = new TIB_Connection(Owner);
  conn2->SetDatabaseName(Conn->GetDatabaseName());
  conn2->SetCharSet("ISO8859_1");
  conn2->Connect();
  auto* tr2 = new TIB_Transaction(Owner);
  tr2->SetIB_Connection(conn2);
  auto* other = new TIB_DSQL(Owner);
  other->SetIB_Connection(conn2);
  other->SetIB_Transaction(tr2);
  other->GetSQL().SetText("UPDATE T SET NAME = 'theirs' WHERE ID = 2");
  other->Execute();  // row 2 is held by the other connection until it ends
  auto live = [&] {
    TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T ORDER BY ID");
    c->SetRequestLive(true);
    c->GetKeyLinks().SetText("ID");
    c->SetPessimisticLocking(true);
    c->Open();
    return c;
  };
  TIB_Cursor* holder = live();
  holder->Edit();  // row 1
  EXPECT_EQ(1, Tr->GetLockedRowCount());
  TIB_Cursor* c = live();
  c->Next();  // row 2
  EXPECT_THROW(c->Edit(), EIB_DatasetError);
  EXPECT_EQ(1, Tr->GetLockedRowCount());
  c->Next();  // a refused lock is not released
  EXPECT_EQ(1, Tr->GetLockedRowCount());
  c->Edit();  // row 3
  EXPECT_EQ(2, Tr->GetLockedRowCount());
  c->Cancel();
  EXPECT_EQ(1, Tr->GetLockedRowCount());
  Tr->CommitRetaining();
  EXPECT_FALSE(holder->GetRowLockHeld());
  EXPECT_EQ(0, Tr->GetLockedRowCount());
  tr2->Rollback();
}

}  // namespace
