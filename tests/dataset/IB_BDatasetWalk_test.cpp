// A buffered walk with Next shows each row as it arrives from the server (the Fields row keeps what
// the fetch put there): the values, the row's state, editing it, refreshing it and a failed fetch must
// be exactly what they are for a row shown again from the buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

using datasettest::DatasetDbTest;

class BDatasetWalkTest : public DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE W (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(30), AMOUNT NUMERIC(15,2), MEMO BLOB SUB_TYPE "
         "TEXT)");
    Tr->Commit();
    // Names of every length down to none and null, amounts and memos null on some rows.
    Exec("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 12) DO BEGIN INSERT INTO W VALUES (:I, "
         "IIF(MOD(:I, 4) = 0, NULL, LPAD('', MOD(:I * 7, 30), 'abc')), IIF(MOD(:I, 5) = 0, NULL, :I * 1.25), "
         "IIF(MOD(:I, 3) = 0, NULL, 'memo ' || :I)); I = I + 1; END END");
    Tr->Commit();
  }
  TIB_Query* NewQuery(const std::string& SQL = "SELECT ID, NAME, AMOUNT, MEMO FROM W ORDER BY ID") {
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->SetRequestLive(true);
    q->GetSQL().SetText(SQL);
    return q;
  }
  // The current row as text: every column ("null" for null), its state and its row number.
  static std::string Row(TIB_Dataset* D) {
    std::string out = std::to_string(D->GetRowNum()) + "|";
    for (int i = 0; i < D->GetFields()->GetColumnCount(); ++i) {
      TIB_Column* c = D->GetFields()->GetColumns(i);
      out += (c->GetIsNull() ? std::string("null") : "'" + c->GetAsString() + "'") + ",";
    }
    out += D->GetFields()->GetRowState() == rsUnmodified ? "unmodified" : "other";
    return out;
  }
  // The rows as a second attachment reads them.
  std::string ReadBack(const std::string& SQL) {
    auto* c2 = new TIB_Connection(Owner);
    c2->SetDatabaseName(Conn->GetDatabaseName());
    c2->Connect();
    auto* t2 = new TIB_Transaction(Owner);
    t2->SetIB_Connection(c2);
    auto* c = new TIB_Cursor(Owner);
    c->SetIB_Connection(c2);
    c->SetIB_Transaction(t2);
    c->GetSQL().SetText(SQL);
    c->Open();
    std::string out;
    for (; !c->GetEof(); c->Next()) {
      TIB_Column* col = c->GetFields()->GetColumns(0);
      out += (col->GetIsNull() ? std::string("null") : col->GetAsString()) + ";";
    }
    delete c;
    t2->Commit();
    delete t2;
    delete c2;
    return out;
  }
};

// The rows a walk shows as they arrive are the rows shown again from the buffer (values, nulls, blobs,
// state), in whole-row and keys-only mode.
TEST_F(BDatasetWalkTest, EachRowShownAsItArrivesHasTheValuesItHasWhenShownAgain) {
  for (bool wholeRows : {true, false}) {
    SCOPED_TRACE(wholeRows ? "whole rows" : "keys only");
    TIB_Query* q = NewQuery();
    q->SetFetchWholeRows(wholeRows);
    q->Open();
    std::vector<std::string> arriving, again, bookmarks;
    for (; !q->GetEof(); q->Next()) {
      arriving.push_back(Row(q));
      bookmarks.push_back(q->GetBookmark());
    }
    ASSERT_EQ(arriving.size(), 12u);
    EXPECT_EQ(arriving[0], "1|'1','abcabca','1.25','memo 1',unmodified");
    EXPECT_EQ(arriving[3], "4|'4',null,'5.00','memo 4',unmodified");
    EXPECT_EQ(arriving[4], "5|'5','abcab',null,'memo 5',unmodified");
    EXPECT_EQ(arriving[5], "6|'6','abcabcabcabc','7.50',null,unmodified");
    for (q->First(); !q->GetEof(); q->Next()) again.push_back(Row(q));
    EXPECT_EQ(again, arriving);
    // Backwards, and by bookmark.
    for (int i = 11; i >= 0; --i) {
      q->SetRowNum(i + 1);
      EXPECT_EQ(Row(q), arriving[static_cast<size_t>(i)]);
      q->SetBookmark(bookmarks[static_cast<size_t>(i)]);
      EXPECT_EQ(Row(q), arriving[static_cast<size_t>(i)]);
    }
    delete q;
  }
}

// The key a row is buffered under is built from its key columns as it arrives: keys of every length
// (a number; a number and an amount; a text), null keys and keys more rows share. The walk shows every
// row; a bookmark taken on a row of a key no other row has brings that row back after the walk, also
// once the rows are fetched again by a refresh.
TEST_F(BDatasetWalkTest, RowsKeptUnderKeysOfEveryLengthAreFoundAgainByBookmark) {
  struct Case {
    const char* Links;
    // Rows whose key another row has too (a bookmark names the key, so it finds one of them).
    std::vector<int> Shared;
    // Also fetched keys only (keys several rows share can't name one row to read).
    bool KeysOnlyToo;
  };
  const Case cases[] = {
      {"ID", {}, true},
      {"ID\nAMOUNT", {}, true},  // null amounts: a row is read back by a key with a null part too
      {"NAME", {4, 8, 12}, false},  // null names
  };
  // One query throughout: each new set of key links lays its key row out anew.
  TIB_Query* q = NewQuery();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Links);
    for (bool wholeRows : {true, false}) {
      if (!wholeRows && !k.KeysOnlyToo) continue;
      SCOPED_TRACE(wholeRows ? "whole rows" : "keys only");
      q->Close();
      q->GetKeyLinks().SetText(k.Links);
      q->SetFetchWholeRows(wholeRows);
      q->Open();
      std::vector<std::string> arriving, bookmarks;
      for (; !q->GetEof(); q->Next()) {
        arriving.push_back(Row(q));
        bookmarks.push_back(q->GetBookmark());
      }
      ASSERT_EQ(arriving.size(), 12u);
      EXPECT_EQ(arriving[3], "4|'4',null,'5.00','memo 4',unmodified");
      EXPECT_EQ(arriving[9], "10|'10','abcabcabca',null,'memo 10',unmodified");
      auto shared = [&](size_t i) {
        return std::find(k.Shared.begin(), k.Shared.end(), static_cast<int>(i + 1)) != k.Shared.end();
      };
      for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "after the walk" : "after a refresh");
        for (size_t i = arriving.size(); i-- > 0;) {
          q->SetBookmark(bookmarks[i]);
          if (shared(i)) {
            EXPECT_EQ(q->GetBookmark(), bookmarks[i]);
          } else {
            EXPECT_EQ(Row(q), arriving[i]);
          }
        }
        q->Refresh();
        std::vector<std::string> again;
        for (q->First(); !q->GetEof(); q->Next()) again.push_back(Row(q));
        EXPECT_EQ(again, arriving);
      }
    }
  }
  delete q;
}

// A row shown as it arrived is edited on a copy: Cancel gives back the fetched values, Post writes the
// typed ones (read back through a second attachment) and the buffer keeps them.
TEST_F(BDatasetWalkTest, ARowShownAsItArrivedIsEditedCancelledAndPosted) {
  TIB_Query* q = NewQuery();
  q->Open();
  q->Next();
  q->Next();
  ASSERT_EQ(q->GetRowNum(), 3);
  const std::string fetched = Row(q);
  q->Edit();
  q->GetFields()->ColumnByName("NAME")->SetAsString("typed");
  q->GetFields()->ColumnByName("MEMO")->SetAsString("new memo");
  EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetOldAsString(), "abcabcabcabcabcabcabc");
  q->Cancel();
  EXPECT_EQ(Row(q), fetched);
  q->Edit();
  q->GetFields()->ColumnByName("NAME")->SetAsString("typed");
  q->GetFields()->ColumnByName("MEMO")->SetAsString("new memo");
  q->Post();
  q->Next();
  q->Prior();
  EXPECT_EQ(Row(q), "3|'3','typed','3.75','new memo',unmodified");
  Tr->Commit();
  EXPECT_EQ(ReadBack("SELECT NAME || '/' || MEMO FROM W WHERE ID = 3"), "typed/new memo;");
  delete q;
}

// A refresh of the row shown as it arrived shows the values the server holds now.
TEST_F(BDatasetWalkTest, ARefreshOfARowShownAsItArrivedShowsTheServersValues) {
  TIB_Query* q = NewQuery();
  q->Open();
  q->Next();
  ASSERT_EQ(q->GetRowNum(), 2);
  Exec("UPDATE W SET NAME = 'changed', MEMO = 'changed memo' WHERE ID = 2");
  EXPECT_TRUE(q->RefreshRow());
  EXPECT_EQ(Row(q), "2|'2','changed','2.50','changed memo',unmodified");
  q->Next();
  EXPECT_EQ(q->GetRowNum(), 3);
  q->Refresh();
  EXPECT_EQ(q->GetRowNum(), 3);
  EXPECT_EQ(q->GetFields()->ColumnByName("ID")->GetAsInteger(), 3);
  q->Prior();
  EXPECT_EQ(Row(q), "2|'2','changed','2.50','changed memo',unmodified");
  delete q;
}

// What handlers see on the way: BeforeScroll and AfterScroll see the row being left and the row
// reached, AfterFetchRow the row fetched; a handler changing nothing changes nothing shown.
TEST_F(BDatasetWalkTest, ScrollHandlersSeeTheRowLeftAndTheRowReached) {
  TIB_Query* q = NewQuery();
  std::vector<std::string> log;
  auto id = [q] { return std::to_string(q->GetFields()->ColumnByName("ID")->GetAsInteger()); };
  q->Open();
  q->AfterScroll = [&](TIB_Dataset*) { log.push_back("after " + id()); };
  q->Next();
  q->BeforeScroll = [&](TIB_Dataset*) { log.push_back("before " + id()); };
  q->Next();
  EXPECT_EQ(Row(q), "3|'3','abcabcabcabcabcabcabc','3.75',null,unmodified");
  q->BeforeScroll = nullptr;
  q->AfterFetchRow = [&](TIB_Dataset*) { log.push_back("fetched " + id()); };
  q->Next();
  EXPECT_EQ(log, (std::vector<std::string>{"after 2", "before 2", "after 3", "fetched 4", "after 4"}));
  EXPECT_EQ(Row(q), "4|'4',null,'5.00','memo 4',unmodified");
  delete q;
}

struct FailingFetch {
  static inline int Left = 0;
  static inline decltype(TIB_CursorEntries::isc_dsql_fetch) Real = nullptr;
  static ISC_STATUS Fetch(ISC_STATUS* S, isc_stmt_handle* H, unsigned short D, const XSQLDA* DA) {
    if (--Left < 0) {
      // What the engine leaves in the row on a failure is not a row: scribbled over here.
      for (int i = 0; i < DA->sqld; ++i) {
        if (DA->sqlvar[i].sqldata) DA->sqlvar[i].sqldata[0] = 'Z';
      }
      S[0] = isc_arg_gds;
      S[1] = isc_io_error;
      S[2] = isc_arg_end;
      return isc_io_error;
    }
    return Real(S, H, D, DA);
  }
};

// A fetch that fails during Next leaves the row that was current shown, with its values.
TEST_F(BDatasetWalkTest, AFailedFetchDuringNextLeavesTheCurrentRowShown) {
  TIB_Query* q = NewQuery();
  q->Open();
  q->Next();
  const std::string current = Row(q);
  TIB_Session* s = q->GetSession();
  FailingFetch::Real = s->Cursor.isc_dsql_fetch;
  FailingFetch::Left = 0;
  s->Cursor.isc_dsql_fetch = &FailingFetch::Fetch;
  EXPECT_ANY_THROW(q->Next());
  s->Cursor.isc_dsql_fetch = FailingFetch::Real;
  EXPECT_EQ(Row(q), current);
  delete q;
}

}  // namespace
