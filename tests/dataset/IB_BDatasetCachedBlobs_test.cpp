// Blob values typed into cached changes live as long as the changes: a commit or a rollback of the
// transaction they were typed in leaves them readable, and the apply writes them in its own transaction.
#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

class BDatasetCachedBlobsTest : public datasettest::DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), TXT BLOB SUB_TYPE 1)");
    Tr->Commit();
    Exec(
        "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 100) DO BEGIN "
        "INSERT INTO B VALUES (:I, 'n' || :I, 'text ' || :I); I = I + 1; END END");
    Tr->Commit();
  }
  // 64 KB of text that differs from one position to the next.
  static std::string BigText(char Tag) {
    std::string s(65536, ' ');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + (i * 7 + static_cast<size_t>(Tag)) % 26);
    s[0] = Tag;
    return s;
  }
  TIB_Query* Open(TIB_CommitAction Action = caRefresh) {
    TIB_Query* q = NewQuery("SELECT ID, NAME, TXT FROM B ORDER BY ID");
    q->SetRequestLive(true);
    q->SetCachedUpdates(true);
    q->SetCommitAction(Action);
    q->Open();
    return q;
  }
  static std::string Txt(TIB_Dataset* D) { return D->FieldByName("TXT")->GetAsString(); }
  std::string Stored(int Id) { return ReadSecond("SELECT TXT FROM B WHERE ID = " + std::to_string(Id), ","); }
};

// The edit of row 80 goes to the cache, the transaction commits with the change pending: the row still
// reads its typed value on every road that shows it, and the apply stores it whole.
TEST_F(BDatasetCachedBlobsTest, APendingBlobEditOutlivesACommit) {
  const std::string big = BigText('E');
  TIB_Query* q = Open();
  q->SetRowNum(80);
  q->Edit();
  q->FieldByName("TXT")->SetAsString(big);
  q->Next();
  Tr->Commit();
  ASSERT_TRUE(q->GetActive());
  ASSERT_TRUE(q->GetUpdatesPending());
  q->Prior();
  ASSERT_EQ(q->FieldByName("ID")->GetAsInteger(), 80);
  EXPECT_TRUE(Txt(q) == big);
  q->First();
  q->MoveBy(79);
  EXPECT_TRUE(Txt(q) == big);
  q->SetRowNum(81);
  for (int r = 75; r <= 85; ++r) {  // a grid painting the rows around it
    q->SetBufferRowNum(r);
    const std::string painted = q->GetBufferFields()->ColumnByName("TXT")->GetAsString();
    EXPECT_TRUE(painted == (r == 80 ? big : "text " + std::to_string(r))) << r;
  }
  Tr->ApplyUpdates();
  EXPECT_FALSE(q->GetUpdatesPending());
  EXPECT_TRUE(Stored(80) == big);
  q->SetRowNum(80);
  EXPECT_TRUE(Txt(q) == big);
  delete q;
}

// A held value stays with its row through a commit that closes the query and the open after it, in
// both fetch modes, and through a later cached edit of another column of the row.
TEST_F(BDatasetCachedBlobsTest, AHeldBlobStaysWithItsRowThroughACloseAndALaterEdit) {
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    const int row = whole ? 40 : 41;
    const std::string big = BigText(whole ? 'W' : 'K');
    TIB_Query* q = NewQuery("SELECT ID, NAME, TXT FROM B ORDER BY ID");
    q->SetRequestLive(true);
    q->SetCachedUpdates(true);
    q->SetFetchWholeRows(whole);
    q->Open();
    q->SetRowNum(row);
    q->Edit();
    q->FieldByName("TXT")->SetAsString(big);
    q->Post();
    Tr->Commit();  // closes the query
    q->Open();
    q->SetRowNum(row);
    EXPECT_TRUE(Txt(q) == big);
    q->Edit();
    q->FieldByName("NAME")->SetAsString("renamed");
    q->Post();
    q->Next();
    q->Prior();
    EXPECT_TRUE(Txt(q) == big);
    Tr->ApplyUpdates();
    EXPECT_EQ(ReadSecond("SELECT NAME, OCTET_LENGTH(TXT) FROM B WHERE ID = " + std::to_string(row), ","),
              "renamed,65536");
    EXPECT_TRUE(Stored(row) == big);
    delete q;
  }
}

// A cached insert and a cached edit with blobs, the transaction ended by a rollback (plain or retaining)
// before the apply: both values are written at the apply.
TEST_F(BDatasetCachedBlobsTest, PendingBlobsOutliveARollback) {
  for (const bool retaining : {false, true}) {
    SCOPED_TRACE(retaining);
    const int id = retaining ? 202 : 201;
    const std::string edited = BigText(retaining ? 'R' : 'P');
    const std::string inserted = BigText(retaining ? 'r' : 'p');
    TIB_Query* q = Open();
    q->SetRowNum(retaining ? 20 : 10);
    q->Edit();
    q->FieldByName("TXT")->SetAsString(edited);
    q->Post();
    q->Append();
    q->FieldByName("ID")->SetAsInteger(id);
    q->FieldByName("TXT")->SetAsString(inserted);
    q->Post();
    q->First();
    if (retaining) {
      Tr->RollbackRetaining();
    } else {
      Tr->Rollback();
    }
    ASSERT_TRUE(q->GetActive());
    ASSERT_TRUE(q->GetUpdatesPending());
    q->SetRowNum(retaining ? 20 : 10);
    EXPECT_TRUE(Txt(q) == edited);
    q->Last();
    ASSERT_EQ(q->FieldByName("ID")->GetAsInteger(), id);
    EXPECT_TRUE(Txt(q) == inserted);
    q->ApplyUpdates();
    Tr->Commit();
    q->CommitUpdates();
    EXPECT_TRUE(Stored(retaining ? 20 : 10) == edited);
    EXPECT_TRUE(Stored(id) == inserted);
    delete q;
  }
}

// A cancelled pending blob edit shows the stored value again; nothing reaches the table.
TEST_F(BDatasetCachedBlobsTest, ACancelledPendingBlobEditShowsTheStoredValue) {
  TIB_Query* q = Open();
  q->SetRowNum(30);
  q->Edit();
  q->FieldByName("TXT")->SetAsString(BigText('C'));
  q->Post();
  Tr->Commit();
  q->CancelUpdates();
  q->SetRowNum(30);
  EXPECT_EQ(Txt(q), "text 30");
  Tr->Commit();
  EXPECT_EQ(Stored(30), "text 30");
  delete q;
}

// An array typed into a cached edit, the transaction committed before the apply: the row still reads
// it, and the apply stores it.
TEST_F(BDatasetCachedBlobsTest, APendingArrayEditOutlivesACommit) {
  Exec("CREATE TABLE A (ID INTEGER NOT NULL PRIMARY KEY, V INTEGER[3])");
  Tr->Commit();
  Exec("INSERT INTO A (ID) VALUES (1)");
  Exec("INSERT INTO A (ID) VALUES (2)");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT ID, V FROM A ORDER BY ID");
  q->SetRequestLive(true);
  q->SetCachedUpdates(true);
  q->SetCommitAction(caRefresh);
  q->Open();
  Variant v = VarArrayCreate({1, 3}, varInteger);
  for (int i = 1; i <= 3; ++i) v.PutElement({i}, Variant(int32_t(10 * i)));
  q->Edit();
  q->FieldByName("V")->SetAsVariant(v);
  q->Next();
  Tr->Commit();
  q->Prior();
  const Variant shown = q->FieldByName("V")->GetAsVariant();
  EXPECT_EQ(VarToStr(shown.GetElement({1})) + "," + VarToStr(shown.GetElement({3})), "10,30");
  Tr->ApplyUpdates();
  EXPECT_EQ(ReadSecond("SELECT ID, V[1], V[2], V[3] FROM A ORDER BY ID", ","), "1,10,20,30;2,null,null,null");
  delete q;
}

// The handler of the apply sees each change with its own values: a blob typed for a change it skipped
// is not shown as the value of the next change (one of another column, or of another typed blob), and
// the changes skipped are written by a later apply with the values typed for them.
TEST_F(BDatasetCachedBlobsTest, AHeldBlobOfASkippedChangeIsNotTheNextChangesValue) {
  TIB_Query* q = Open();
  const struct {
    int Row;
    const char* Name;  // nullptr: unchanged
    const char* Txt;   // nullptr: unchanged
  } edits[] = {
      {10, nullptr, "held ten"}, {20, "renamed", nullptr}, {30, nullptr, "held thirty"}, {40, "last", nullptr}};
  for (const auto& e : edits) {
    q->SetRowNum(e.Row);
    q->Edit();
    if (e.Name) q->FieldByName("NAME")->SetAsString(e.Name);
    if (e.Txt) q->FieldByName("TXT")->SetAsString(e.Txt);
    q->Post();
  }
  std::string seen;
  q->OnUpdateRecord = [&seen](TIB_Dataset* D, TIB_UpdateKind, TIB_UpdateAction& Action) {
    seen += D->FieldByName("ID")->GetAsString() + ":" + D->FieldByName("TXT")->GetAsString() + ";";
    Action = uaSkip;
  };
  q->ApplyUpdates();
  // (The latest change comes first.)
  EXPECT_EQ(seen, "40:text 40;30:held thirty;20:text 20;10:held ten;");
  EXPECT_EQ(ReadSecond("SELECT ID, NAME, TXT FROM B WHERE ID IN (10, 20, 30, 40) ORDER BY ID", ","),
            "10,n10,text 10;20,n20,text 20;30,n30,text 30;40,n40,text 40");
  // The commit counts the skipped changes as pending again; written now, each has its own values.
  Tr->Commit();
  ASSERT_TRUE(q->GetUpdatesPending());
  q->OnUpdateRecord = nullptr;
  Tr->ApplyUpdates();
  EXPECT_EQ(ReadSecond("SELECT ID, NAME, TXT FROM B WHERE ID IN (10, 20, 30, 40) ORDER BY ID", ","),
            "10,n10,held ten;20,renamed,text 20;30,n30,held thirty;40,last,text 40");
  delete q;
}

}  // namespace
