// A lookup that follows a detail through its KeySource, when a hard commit refreshes the master, the
// detail and the lookup: the commit closed every cursor of the transaction, and the detail moves before
// the lookup's own refresh has read its result anew.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LinkTestSupport.h"

namespace {

using datasettest::DatasetDbTest;
using linktest::LogLink;
using Log = std::vector<std::string>;

class CommitLookupTest : public DatasetDbTest {
protected:
  TIB_DataSource* MasterSource = nullptr;
  TIB_DataSource* DetailSource = nullptr;
  TIB_Query* Master = nullptr;
  TIB_Query* Detail = nullptr;
  TIB_Query* Lookup = nullptr;

  // M: rows 1..4; T: rows 1..12 in groups 1..4 (GRP = 1 + ID mod 4). The master, the detail (GRP=M.ID)
  // and the lookup of master rows (M.ID=GRP, following the detail) all refresh at a commit.
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE M (ID INTEGER NOT NULL PRIMARY KEY, TITLE VARCHAR(20))");
    Tr->Commit();
    for (int g = 1; g <= 4; ++g) Exec("INSERT INTO M VALUES (" + std::to_string(g) + ", 'm" + std::to_string(g) + "')");
    for (int id = 1; id <= 12; ++id)
      Exec("INSERT INTO T VALUES (" + std::to_string(id) + ", 'n" + std::to_string(id) + "', " +
           std::to_string(1 + id % 4) + ")");
    Tr->Commit();
    MasterSource = new TIB_DataSource(Owner);
    Master = NewQuery("SELECT ID, TITLE FROM M ORDER BY ID");
    Master->SetCommitAction(caRefresh);
    MasterSource->SetDataset(Master);
    DetailSource = new TIB_DataSource(Owner);
    Detail = NewQuery("SELECT ID, NAME, GRP FROM T ORDER BY ID");
    Detail->GetMasterLinks().SetText("GRP=M.ID");
    Detail->SetMasterSource(MasterSource);
    Detail->SetRequestLive(true);
    Detail->SetCommitAction(caRefresh);
    DetailSource->SetDataset(Detail);
    Lookup = NewQuery("SELECT ID, TITLE FROM M ORDER BY ID");
    TStringList links;
    links.SetText("M.ID=GRP");
    Lookup->SetKeyLinks(links);
    Lookup->SetCommitAction(caRefresh);
    Lookup->SetKeySource(DetailSource);
  }
  void TearDown() override {
    Lookup->SetKeySource(nullptr);
    delete Lookup;
    delete Detail;
    delete Master;
    delete DetailSource;
    delete MasterSource;
    DatasetDbTest::TearDown();
  }
  int32_t LookupAt(bool Seeking) { return Seeking ? Lookup->GetRowNum() : Lookup->GetBufferRowNum(); }
  int32_t LookupId(bool Seeking) {
    TIB_Row* r = Seeking ? Lookup->GetFields() : Lookup->GetBufferFields();
    return r->ColumnByName("ID")->GetAsInteger();
  }
};

// The end closed the lookup's cursor: following the detail the master's refresh moved, the lookup reads
// nothing from it (no "Cursor is not open" reaches the application), every notice of the master's refresh
// reaches its links, and after the end the lookup stands on the detail row's group. A later move of the
// detail is followed at once. Both for a hard commit and a rollback, with and without KeySeeking.
TEST_F(CommitLookupTest, ALookupFollowsItsDetailThroughTheEndsRefreshesWithoutReadingAClosedCursor) {
  struct Case {
    bool Commit;
    bool Seeking;
  };
  const Case cases[] = {{true, true}, {true, false}, {false, true}, {false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Commit ? "commit" : "rollback") + (c.Seeking ? ", seeking" : ""));
    Lookup->SetKeySeeking(c.Seeking);
    Master->Open();
    Master->SetRowNum(3);
    Detail->Open();
    // The detail stands before its first row when the lookup opens: the lookup reads only its first row.
    Detail->SetRowNum(0);
    Lookup->Open();
    EXPECT_EQ(LookupAt(c.Seeking), 0);
    // The detail row is edited (the transaction has work to end) and left again before the end.
    Detail->SetRowNum(2);
    Detail->Edit();
    const std::string before = ReadSecond("SELECT NAME FROM T WHERE ID = 6", ",");
    const std::string name = before + "+";
    Detail->GetFields()->ColumnByName("NAME")->SetAsString(name);
    Detail->Post();
    Detail->SetRowNum(0);
    Lookup->Refresh();
    ASSERT_EQ(LookupAt(c.Seeking), 0);
    Log events;
    auto* watch = new LogLink(Owner, events, "M", {sleDataChange});
    watch->SetDataSource(MasterSource);
    testsupport::ExceptionSink sink;
    int errors = 0;
    Conn->GetSession()->OnError = [&](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool&) {
      ++errors;
    };
    if (c.Commit) {
      Tr->Commit();
    } else {
      Tr->Rollback();
    }
    EXPECT_EQ(sink.Messages, std::vector<std::string>{});
    EXPECT_EQ(errors, 0);
    // The master's refresh told its links of its row.
    EXPECT_NE(std::find(events.begin(), events.end(), "M:22"), events.end());
    EXPECT_EQ(Master->GetRowNum(), 3);
    ASSERT_EQ(Detail->GetRowNum(), 1);
    EXPECT_EQ(Detail->GetFields()->ColumnByName("GRP")->GetAsInteger(), 3);
    EXPECT_EQ(LookupAt(c.Seeking), 3);
    EXPECT_EQ(LookupId(c.Seeking), 3);
    // Later moves of the master (and so of the detail) and of the detail are followed at once.
    Master->SetRowNum(4);
    EXPECT_EQ(Detail->GetFields()->ColumnByName("GRP")->GetAsInteger(), 4);
    EXPECT_EQ(LookupAt(c.Seeking), 4);
    Detail->SetRowNum(0);
    EXPECT_EQ(LookupAt(c.Seeking), 0);
    Detail->SetRowNum(1);
    EXPECT_EQ(LookupAt(c.Seeking), 4);
    EXPECT_EQ(LookupId(c.Seeking), 4);
    EXPECT_TRUE(sink.Messages.empty());
    EXPECT_EQ(ReadSecond("SELECT NAME FROM T WHERE ID = 6", ","), c.Commit ? name : before);
    Conn->GetSession()->OnError = nullptr;
    delete watch;
    Lookup->Close();
    Detail->Close();
    Master->Close();
    if (Tr->GetStarted()) Tr->Rollback();
  }
}

}  // namespace
