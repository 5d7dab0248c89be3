#include "dblib/dataset/IB_BindingCursor.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <type_traits>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/ScopeGuards.h"

namespace {

// Watches every client call that takes a statement handle: counts the prepares, notes any call given
// the binding cursors' placeholder handle, and which handles each cursor name was given to.
struct HandleWatch {
  static inline TIB_EntryTable Real;
  static inline int Prepares = 0;
  static inline int Placeholders = 0;
  static inline std::map<std::string, std::set<isc_stmt_handle>> Names;
  template <auto Member, class F>
  struct Wrap;
  template <auto Member, class... A>
  struct Wrap<Member, ISC_STATUS (*)(ISC_STATUS*, A...)> {
    static ISC_STATUS Call(ISC_STATUS* Status, A... Args) {
      auto check = [](auto Arg) {
        if constexpr (std::is_same_v<decltype(Arg), isc_stmt_handle*>) {
          if (Arg && *Arg == TIB_BindingCursor::kBorrowedHandle) ++Placeholders;
        }
      };
      (check(Args), ...);
      return (Real.*Member)(Status, Args...);
    }
  };
  static ISC_STATUS Prepare(ISC_STATUS* Status, isc_tr_handle* Tr, isc_stmt_handle* St, unsigned short Length,
                            const ISC_SCHAR* Text, unsigned short Dialect, XSQLDA* Out) {
    ++Prepares;
    if (St && *St == TIB_BindingCursor::kBorrowedHandle) ++Placeholders;
    return Real.isc_dsql_prepare(Status, Tr, St, Length, Text, Dialect, Out);
  }
  static ISC_STATUS CursorName(ISC_STATUS* Status, isc_stmt_handle* St, const ISC_SCHAR* Name, unsigned short Type) {
    if (St && *St == TIB_BindingCursor::kBorrowedHandle) ++Placeholders;
    if (St && Name) Names[Name].insert(*St);
    return Real.isc_dsql_set_cursor_name(Status, St, Name, Type);
  }
};
#define BINDTEST_WRAP(Name) &HandleWatch::Wrap<&TIB_EntryTable::Name, decltype(TIB_EntryTable::Name)>::Call

using datasettest::DatasetDbTest;
using testsupport::MessageOf;

class BindingCursorTest : public DatasetDbTest {
protected:
  TIB_Query* Open(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(SQL);
    q->Open();
    return q;
  }
  static std::string Name(TIB_Dataset* D) { return D->GetFields()->ColumnByName("NAME")->GetAsString(); }
  static int32_t Id(TIB_Dataset* D) { return D->GetFields()->ColumnByName("ID")->GetAsInteger(); }
};

// A row whose bookmark is invalidated is read again by its key: changed values show, and a row gone at
// the server leaves the buffer with the next row shown. Rows not invalidated cost no server read.
TEST_F(BindingCursorTest, InvalidatedRowsAreReadAgainByKey) {
  Fill(6);
  TIB_Query* q = Open("SELECT ID, NAME FROM T WHERE ID > :MIN ORDER BY ID");
  q->Close();
  q->GetParams()->ColumnByName("MIN")->SetAsInteger(1);
  q->Open();
  q->Last();
  q->SetRowNum(2);  // ID 3
  const std::string three = q->GetBookmark();
  q->SetRowNum(3);
  const std::string four = q->GetBookmark();
  Exec("UPDATE T SET NAME = 'new' WHERE ID IN (3, 5)");
  Exec("DELETE FROM T WHERE ID = 4");
  q->SetRowNum(2);
  for (int again : {0, 1}) {  // the second read finds the key columns as well as the first
    SCOPED_TRACE(again);
    q->InvalidateBookmark(three);
    EXPECT_EQ(Name(q), "new");
    EXPECT_EQ(Id(q), 3);
  }
  q->SetRowNum(4);  // ID 5: still the buffered values
  EXPECT_EQ(Name(q), "n5");
  q->InvalidateBookmark(four);
  q->SetRowNum(3);
  EXPECT_EQ(Id(q), 5);
  EXPECT_EQ(q->GetBufferCount(), 4);
  EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { q->InvalidateBookmark(four.substr(2)); }), "Invalid Bookmark String");
  EXPECT_NE(q->GetCursorName(), q->GetFieldsCursor()->GetCursorName());
}

TEST_F(BindingCursorTest, AKeyThatFindsTwoRowsRaisesWithTheStatement) {
  Fill(6);
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT GRP, NAME FROM T ORDER BY ID");
  TIB_StringList links;
  links.SetText("T.GRP");
  q->SetKeyLinks(links);
  q->Open();
  ASSERT_EQ(Name(q), "n1");
  const std::string message = MessageOf<EIB_DatasetError>([&] { q->RefreshRow(); });
  EXPECT_EQ(message.rfind("Multiple rows in singleton fetch\r\n\r\nSELECT GRP, NAME FROM T", 0), 0u) << message;
  // GRP may be null: its condition matches a null too.
  EXPECT_NE(message.find("WHERE GRP IS NOT DISTINCT FROM ?BIND_0"), std::string::npos) << message;
  EXPECT_EQ(Name(q), "n1");
  Exec("DELETE FROM T WHERE GRP = 1");
  EXPECT_FALSE(q->RefreshRow());
  EXPECT_EQ(Name(q), "n2");
}

// What a grid does before it paints: the visible rows are buffered, those whose values were dropped
// are read again, and rows gone at the server leave.
TEST_F(BindingCursorTest, ARowRangeIsLoadedForPainting) {
  Fill(30);
  struct Grid : TIB_Query {
    using TIB_Query::SysFetchRowRange;
    using TIB_Query::TIB_Query;
  };
  auto* q = new Grid(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  q->Open();
  q->SysFetchRowRange(20, 11);
  EXPECT_EQ(q->GetBufferCount(), 20);
  Exec("UPDATE T SET NAME = 'new' WHERE ID = 12");
  Exec("DELETE FROM T WHERE ID = 13");
  q->RefreshRows();  // every row's values dropped
  q->SysFetchRowRange(11, 20);
  EXPECT_EQ(q->GetBufferCount(), 19);
  EXPECT_GT(q->GetNodeList().LocateVisibleRow(19).Node->RecordLength, 0);
  EXPECT_EQ(q->GetNodeList().LocateVisibleRow(5).Node->RecordLength, 0);  // outside the range: not read
  q->SetBufferRowNum(12);
  EXPECT_EQ(q->BufferFieldByName("NAME")->GetAsString(), "new");
  q->SetBufferRowNum(13);
  EXPECT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), 14);
}

// A bookmark of a key the result does not hold is answered by the server: the query does not fetch
// every row looking for it; a key it holds is fetched up to as before.
TEST_F(BindingCursorTest, ABookmarkOutsideTheResultIsNotSoughtByFetchingEveryRow) {
  Fill(300);
  TIB_Query* all = Open();
  std::string marks[2];
  for (int i : {0, 1}) {
    all->SetRowNum(i ? 150 : 250);
    marks[i] = all->GetBookmark();
  }
  TIB_Query* q = Open("SELECT ID, NAME FROM T WHERE ID <= 200 ORDER BY ID");
  q->SetBookmark(marks[0]);
  EXPECT_EQ(q->GetRowNum(), 0);
  q->SetBufferBookmark(marks[0]);
  EXPECT_EQ(q->GetBufferRowNum(), 0);
  EXPECT_EQ(q->GetBufferCount(), 1);
  q->SetBookmark(marks[1]);
  EXPECT_EQ(Id(q), 150);
  EXPECT_EQ(q->GetBookmark(), marks[1]);
}

// A row is read again through the query's own SELECT with the key condition in front of its WHERE
// ("<key column>=?BIND_<n>", the key columns as the FROM clause knows them, "IS NOT DISTINCT FROM" for a
// column that may be null); where a condition on the key cannot select the row (UNION, aggregates, a
// relation known only by an alias of a SELECT *), a derived table over the SELECT is restricted instead.
// Either way the row read is the one of that key.
TEST_F(BindingCursorTest, RowsAreReadAgainThroughTheQuerysOwnSelectWhereItCanSelectThem) {
  Fill(9);
  struct Case {
    const char* SQL;
    const char* Links;
    const char* Condition;  // in the cursor's text; empty: the derived table
    int Row;                // the row refetched
    int Id;                 // its ID
    const char* Column;     // changed at the server (not a key column)
  };
  const Case cases[] = {
      {"SELECT ID, NAME FROM T ORDER BY ID", "", "WHERE ID=?BIND_0", 3, 3, "NAME"},
      {"SELECT A.ID, A.NAME FROM T A ORDER BY A.ID", "T.ID", "WHERE A.ID=?BIND_0", 3, 3, "NAME"},
      {"SELECT ID, NAME FROM T WHERE ID = 2 OR ID = 7 ORDER BY ID", "", "( ID=?BIND_0 )", 2, 7, "NAME"},
      {"SELECT GRP, ID, NAME FROM T ORDER BY ID", "T.GRP\nT.ID", "AND ID=?BIND_1", 5, 5, "NAME"},
      {"SELECT NAME, ID, GRP FROM T ORDER BY ID", "T.NAME", "WHERE NAME IS NOT DISTINCT FROM ?BIND_0", 4, 4, "GRP"},
      // The star is the key relation's columns, spelled as the schema cache lists them.
      {"SELECT * FROM T A ORDER BY A.ID", "T.ID", "WHERE ID=?BIND_0", 3, 3, "NAME"},
      {"SELECT ID, NAME, ROW_NUMBER() OVER (ORDER BY ID DESC) AS RN FROM T ORDER BY ID", "T.ID", "", 3, 3, "NAME"},
      {"SELECT ID, NAME FROM T WHERE ID < 5 UNION SELECT ID, NAME FROM T WHERE ID > 6 ORDER BY 1", "ID", "", 5, 7,
       "NAME"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SQL);
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(c.SQL);
    if (*c.Links) {
      TIB_StringList links;
      links.SetText(c.Links);
      q->SetKeyLinks(links);
    }
    q->Open();
    q->SetRowNum(c.Row);
    ASSERT_EQ(Id(q), c.Id);
    const std::string name = c.Column;
    const std::string id = std::to_string(c.Id);
    Exec("UPDATE T SET " + name + (name == "NAME" ? " = 'again'" : " = 42") + " WHERE ID = " + id);
    EXPECT_TRUE(q->RefreshRow());
    EXPECT_EQ(q->GetFields()->ColumnByName(name)->GetAsString(), name == "NAME" ? "again" : "42");
    EXPECT_EQ(Id(q), c.Id);
    TIB_Column* rank = nullptr;
    if (q->GetFields()->FindByName("RN", rank)) {
      EXPECT_EQ(rank->GetAsInteger(), 10 - c.Row);  // of the whole result
    }
    const std::string text = q->GetFieldsCursor()->GetSourceSQL();
    if (*c.Condition) {
      EXPECT_NE(text.find(c.Condition), std::string::npos) << text;
      EXPECT_EQ(text.find("BIND_ROW"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find(") BIND_ROW"), std::string::npos) << text;
      EXPECT_NE(text.find("=?BIND_0"), std::string::npos) << text;
    }
    Exec("UPDATE T SET NAME = 'n" + id + "', GRP = MOD(ID, 3) WHERE ID = " + id);
    delete q;
  }
}

// The query's parameters reach the row read by key as they are at the time of the read: a row the
// query's new parameter value leaves out is not found again.
TEST_F(BindingCursorTest, RowsAreReadAgainWithTheQuerysCurrentParameters) {
  Fill(9);
  TIB_Query* q = Open("SELECT ID, NAME FROM T WHERE ID > :MIN AND NAME <> :SKIP ORDER BY ID");
  q->Close();
  q->GetParams()->ColumnByName("MIN")->SetAsInteger(2);
  q->GetParams()->ColumnByName("SKIP")->SetAsString("n4");
  q->Open();
  q->SetRowNum(3);
  ASSERT_EQ(Id(q), 6);
  const std::string six = q->GetBookmark();
  Exec("UPDATE T SET NAME = 'six' WHERE ID = 6");
  EXPECT_TRUE(q->RefreshRow());
  EXPECT_EQ(Name(q), "six");
  // A new value refreshes the query; the row read by key then follows that value, not the first one.
  q->GetParams()->ColumnByName("SKIP")->SetAsString("x");
  ASSERT_EQ(q->GetRecordCount(), 7);
  q->SetBookmark(six);
  ASSERT_EQ(Id(q), 6);
  Exec("UPDATE T SET NAME = 'n4' WHERE ID = 6");
  EXPECT_TRUE(q->RefreshRow());
  EXPECT_EQ(Name(q), "n4");
  q->GetParams()->ColumnByName("SKIP")->SetAsString("n5");
  q->SetBookmark(six);
  ASSERT_EQ(Id(q), 6);
  Exec("UPDATE T SET NAME = 'n5' WHERE ID = 6");
  EXPECT_FALSE(q->RefreshRow());
  EXPECT_NE(Id(q), 6);
}

// Calculated columns are computed by the query's OnCalculateField for the row under the buffer position
// and for a row read again by key, each from that row's own values.
TEST_F(BindingCursorTest, CalculatedColumnsAreComputedByTheQueryForEveryRow) {
  Fill(9);
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  TIB_StringList calculated;
  calculated.Add("TWICE INTEGER");
  q->SetCalculatedFields(calculated);
  std::vector<TIB_Statement*> senders;
  q->OnCalculateField = [&](TIB_Statement* Sender, TIB_Row* Row, TIB_Column* Column) {
    senders.push_back(Sender);
    Column->SetAsInteger(Row->ColumnByName("ID")->GetAsInteger() * 2);
  };
  q->Open();
  q->SetRowNum(2);
  EXPECT_EQ(q->GetFields()->ColumnByName("TWICE")->GetAsInteger(), 4);
  q->SetBufferRowNum(7);
  EXPECT_EQ(q->BufferFieldByName("TWICE")->GetAsInteger(), 14);
  EXPECT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), 7);
  EXPECT_EQ(q->GetFields()->ColumnByName("TWICE")->GetAsInteger(), 4);
  Exec("UPDATE T SET NAME = 'new' WHERE ID = 7");
  q->InvalidateBookmark(q->GetBufferBookmark());
  q->SetBufferRowNum(3);
  q->SetBufferRowNum(7);
  EXPECT_EQ(q->BufferFieldByName("NAME")->GetAsString(), "new");
  EXPECT_EQ(q->BufferFieldByName("TWICE")->GetAsInteger(), 14);
  EXPECT_TRUE(q->RefreshRow());
  EXPECT_EQ(q->GetFields()->ColumnByName("TWICE")->GetAsInteger(), 4);
  ASSERT_FALSE(senders.empty());
  for (TIB_Statement* s : senders) EXPECT_EQ(s, q);
}

// Asked for no row (nil or a list end), a binding cursor refuses when told to raise, and otherwise leaves
// its row empty rather than showing the row it read before.
TEST_F(BindingCursorTest, NoNodeLeavesTheRowEmptyOrRaises) {
  Fill(5);
  TIB_Query* q = Open();
  q->SetRowNum(3);
  ASSERT_TRUE(q->RefreshRow());
  TIB_BindingCursor* c = q->GetFieldsCursor();
  TIB_Row* row = c->GetFields();
  ASSERT_TRUE(c->FetchNode(q->GetNodeList().LocateVisibleRow(3).Node, true, false, row));
  ASSERT_EQ(row->ColumnByName("ID")->GetAsInteger(), 3);
  TIB_Node* head = q->GetNodeList().LocateVisibleRow(0).Node;
  ASSERT_TRUE(head->IsSentinel());
  for (TIB_Node* n : {static_cast<TIB_Node*>(nullptr), head}) {
    EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { c->FetchNode(n, false, true, row); }),
              "Cannot open cursor without key data");
    EXPECT_EQ(row->ColumnByName("ID")->GetAsInteger(), 3);
    EXPECT_FALSE(c->FetchNode(n, true, false, row));
    EXPECT_TRUE(row->ColumnByName("ID")->GetIsNull());
    EXPECT_TRUE(row->ColumnByName("NAME")->GetIsNull());
    ASSERT_TRUE(c->FetchNode(q->GetNodeList().LocateVisibleRow(3).Node, true, false, row));
    EXPECT_EQ(row->ColumnByName("ID")->GetAsInteger(), 3);
  }
  EXPECT_EQ(Id(q), 3);
}

// Fetching whole rows, the binding cursors work on the query's description: rows in the buffer are shown
// without any statement prepared; the first row that must be read from the server prepares the statement
// once. The placeholder handle of a borrowed description reaches no client call (nor the connection's
// handle cache, whose handles all pass through them), and every cursor has a name of its own.
TEST_F(BindingCursorTest, WholeRowCursorsBorrowTheQuerysDescriptionUntilARowMustBeRead) {
  Fill(20);
  TIB_SessionBase& s = *Conn->GetSession();
  TValueRestorer<TIB_EntryTable> entries(s.Entries, s.Entries);
  TValueRestorer<TIB_CursorEntries> cursor(s.Cursor, s.Cursor);
  HandleWatch::Real = s.Untraced;
  HandleWatch::Prepares = HandleWatch::Placeholders = 0;
  HandleWatch::Names.clear();
  s.Entries.isc_dsql_prepare = &HandleWatch::Prepare;
  s.Entries.isc_dsql_set_cursor_name = s.Cursor.isc_dsql_set_cursor_name = &HandleWatch::CursorName;
  s.Entries.isc_dsql_execute = s.Cursor.isc_dsql_execute = BINDTEST_WRAP(isc_dsql_execute);
  s.Entries.isc_dsql_execute2 = s.Cursor.isc_dsql_execute2 = BINDTEST_WRAP(isc_dsql_execute2);
  s.Entries.isc_dsql_fetch = s.Cursor.isc_dsql_fetch = BINDTEST_WRAP(isc_dsql_fetch);
  s.Entries.isc_dsql_free_statement = s.Cursor.isc_dsql_free_statement = BINDTEST_WRAP(isc_dsql_free_statement);
  s.Entries.isc_dsql_sql_info = BINDTEST_WRAP(isc_dsql_sql_info);
  s.Entries.isc_dsql_describe = BINDTEST_WRAP(isc_dsql_describe);
  s.Entries.isc_dsql_describe_bind = BINDTEST_WRAP(isc_dsql_describe_bind);
  s.Entries.isc_dsql_alloc_statement2 = BINDTEST_WRAP(isc_dsql_alloc_statement2);
  s.Entries.isc_dsql_allocate_statement = BINDTEST_WRAP(isc_dsql_allocate_statement);
  {
    TIB_Query* q = Open("SELECT ID, NAME FROM T WHERE ID > :MIN ORDER BY ID");
    q->Close();
    q->GetParams()->ColumnByName("MIN")->SetAsInteger(2);
    q->Open();
    q->Last();
    const int afterOpen = HandleWatch::Prepares;
    for (int row : {3, 9, 17}) {
      q->SetBufferRowNum(row);
      EXPECT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), row + 2);
    }
    q->SetRowNum(5);
    EXPECT_EQ(Id(q), 7);
    EXPECT_EQ(HandleWatch::Prepares, afterOpen);  // nothing prepared to show buffered rows
    EXPECT_FALSE(q->GetFieldsCursor()->GetOwnPrepared());
    // A buffer row whose values were dropped is read by key: its statement is prepared now, once.
    Exec("UPDATE T SET NAME = 'new' WHERE ID IN (11, 12)");
    const int afterUpdate = HandleWatch::Prepares;
    HandleWatch::Names.clear();
    q->SetBufferRowNum(9);
    q->InvalidateBookmark(q->GetBufferBookmark());
    q->SetBufferRowNum(10);
    q->InvalidateBookmark(q->GetBufferBookmark());
    q->SetBufferRowNum(9);
    EXPECT_EQ(q->BufferFieldByName("NAME")->GetAsString(), "new");
    q->SetBufferRowNum(10);
    EXPECT_EQ(q->BufferFieldByName("NAME")->GetAsString(), "new");
    EXPECT_EQ(HandleWatch::Prepares, afterUpdate + 1);
    // The current row read again: the fields cursor's statement, once.
    EXPECT_TRUE(q->RefreshRow());
    EXPECT_TRUE(q->RefreshRow());
    EXPECT_EQ(HandleWatch::Prepares, afterUpdate + 2);
    // The two binding cursors, each under a name of its own, neither the query's.
    EXPECT_EQ(HandleWatch::Names.size(), 2u);
    for (const auto& [name, handles] : HandleWatch::Names) {
      EXPECT_NE(name, q->GetCursorName());
      ASSERT_EQ(handles.size(), 1u) << name;
      EXPECT_NE(*handles.begin(), q->GetStmtHandle());
    }
    EXPECT_TRUE(q->GetFieldsCursor()->GetDescribed());
    EXPECT_EQ(Id(q), 7);
    EXPECT_EQ(q->GetFieldsCursor()->GetParams()->ColumnByName("MIN")->GetAsInteger(), 2);
    q->Unprepare();
    q->Prepare();
    q->Open();
    q->SetBufferRowNum(4);
    EXPECT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), 6);
    delete q;
  }
  EXPECT_EQ(HandleWatch::Placeholders, 0);
  // Reading keys only, rows are read from the server anyway: the cursors prepare their own statements.
  TIB_Query* k = new TIB_Query(Owner);
  k->SetIB_Connection(Conn);
  k->SetIB_Transaction(Tr);
  k->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  k->SetFetchWholeRows(false);
  k->Open();
  k->SetRowNum(4);
  EXPECT_EQ(Id(k), 4);
  EXPECT_TRUE(k->GetFieldsCursor()->GetOwnPrepared());
  EXPECT_EQ(HandleWatch::Placeholders, 0);
}

// The row under the buffer position shows the query's columns with the query's column properties, set
// before the query was prepared or changed while it is open.
TEST_F(BindingCursorTest, TheBufferRowFollowsTheQuerysColumnProperties) {
  Fill(5);
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  q->GetFieldsDisplayLabel().Add("T.NAME=Name of row");
  q->Open();
  q->SetBufferRowNum(4);
  ASSERT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), 4);
  EXPECT_EQ(q->BufferFieldByName("NAME")->GetDisplayLabel(), "Name of row");
  q->GetFieldsDisplayLabel().SetText("T.NAME=Renamed\nT.ID=Number");
  EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetDisplayLabel(), "Renamed");
  EXPECT_EQ(q->BufferFieldByName("NAME")->GetDisplayLabel(), "Renamed");
  EXPECT_EQ(q->BufferFieldByName("ID")->GetDisplayLabel(), "Number");
  q->GetFieldsReadOnly().Add("T.NAME=T");
  EXPECT_TRUE(q->GetFields()->ColumnByName("NAME")->GetReadOnly());
  EXPECT_TRUE(q->BufferFieldByName("NAME")->GetReadOnly());
  EXPECT_FALSE(q->BufferFieldByName("ID")->GetReadOnly());
}

// The key select list is built when the query is prepared, from the key columns as the select list spells
// them; reading keys only, the first pass selects exactly those (a UNION reads whole rows anyway).
TEST_F(BindingCursorTest, TheKeySelectListNamesTheKeyColumnsAsTheSelectListSpellsThem) {
  Fill(4);
  struct Case {
    const char* SQL;
    const char* Links;
    const char* List;
    bool KeysOnly;
  };
  const Case cases[] = {
      {"SELECT ID, NAME FROM T ORDER BY ID", "", "SELECT ID", true},
      {"SELECT A.ID, A.NAME FROM T A ORDER BY A.ID", "T.ID", "SELECT A.ID", true},
      {"SELECT GRP, ID, NAME FROM T ORDER BY ID", "T.GRP\nT.ID", "SELECT GRP, ID", true},
      {"SELECT ID, NAME FROM T UNION SELECT ID, NAME FROM T ORDER BY 1", "ID", "SELECT ID", false},
      {"SELECT ID, NAME FROM RDB$DATABASE, T ORDER BY ID", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SQL);
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(c.SQL);
    if (*c.Links) {
      TIB_StringList links;
      links.SetText(c.Links);
      q->SetKeyLinks(links);
    }
    q->SetFetchWholeRows(false);
    q->Prepare();
    EXPECT_EQ(q->GetKeySelectList(), c.List);
    q->Open();
    EXPECT_EQ(q->GetKeysOnly(), c.KeysOnly);
    q->Last();
    EXPECT_EQ(q->GetRecordCount(), 4);
    q->SetRowNum(2);
    EXPECT_EQ(Id(q), 2);
    q->Unprepare();
    EXPECT_EQ(q->GetKeySelectList(), "");
    delete q;
  }
}

// A query that locks its rows (FOR UPDATE, WITH LOCK, spelled as users write them) reads a row by key
// through its own SELECT without the lock, or through a derived table over it (which cannot hold one,
// here for a key that is an expression): in whole-row mode when a row is read again, in keys-only mode
// for every row shown. (A key that is an expression cannot be selected alone: asked for keys only, its
// query fetches whole rows.)
TEST_F(BindingCursorTest, RowsOfAQueryThatLocksAreReadByKeyWhateverSpellsTheLock) {
  Fill(9);
  const char* const locks[] = {"WITH\r\nLOCK",
                               "with  lock",
                               "WITH /* the row */ LOCK",
                               "WITH -- the row\r\nLOCK",
                               "FOR UPDATE OF NAME",
                               "for update\r\nof NAME with lock",
                               "FOR UPDATE WITH LOCK;"};
  struct Base {
    const char* SQL;
    const char* Links;
    bool Derived;
  };
  const Base bases[] = {{"SELECT ID, NAME FROM T ORDER BY ID", "", false},
                        {"SELECT ID + 0 AS K, NAME FROM T ORDER BY 1", "K", true}};
  for (const Base& b : bases) {
    for (const char* lock : locks) {
      for (bool whole : {true, false}) {
        const std::string sql = std::string(b.SQL) + " " + lock;
        SCOPED_TRACE(sql + (whole ? " whole rows" : " keys only"));
        auto* q = new TIB_Query(Owner);
        q->SetIB_Connection(Conn);
        q->SetIB_Transaction(Tr);
        q->GetSQL().SetText(sql);
        if (*b.Links) q->GetKeyLinks().SetText(b.Links);
        q->SetFetchWholeRows(whole);
        q->Open();
        // A key that is an expression cannot be selected alone: such a query fetches whole rows.
        EXPECT_EQ(q->GetKeysOnly(), !whole && !b.Derived);
        q->Last();
        EXPECT_EQ(q->GetRowNum(), 9);
        q->SetRowNum(5);
        EXPECT_EQ(Name(q), "n5");
        EXPECT_EQ(q->GetFields()->GetColumns(0)->GetAsInteger(), 5);
        Exec("UPDATE T SET NAME = 'again' WHERE ID = 3");
        q->SetRowNum(3);
        EXPECT_TRUE(q->RefreshRow());
        EXPECT_EQ(Name(q), "again");
        q->SetRowNum(7);
        EXPECT_EQ(Name(q), "n7");
        std::string text = q->GetFieldsCursor()->GetSourceSQL();
        EXPECT_EQ(text.find(") BIND_ROW") != std::string::npos, b.Derived) << text;
        for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(text.find("LOCK"), std::string::npos) << text;
        EXPECT_EQ(text.find("UPDATE"), std::string::npos) << text;
        delete q;
        Exec("UPDATE T SET NAME = 'n3' WHERE ID = 3");
      }
    }
  }
}

}  // namespace
