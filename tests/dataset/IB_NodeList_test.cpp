#include "dblib/dataset/IB_NodeList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <typeinfo>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/data/IB_Row.h"

namespace {

using datasettest::DatasetDbTest;
using testsupport::MessageOf;

std::vector<uint8_t> Key(int32_t K) {
  std::vector<uint8_t> b(4);
  std::memcpy(b.data(), &K, 4);
  return b;
}
int32_t KeyOf(const TIB_Node* N) {
  int32_t k;
  std::memcpy(&k, N->KeyData(), 4);
  return k;
}

// The list against a plain vector model through a long random run of appends, inserts, removals,
// cached deletes and reverts: every row number, deleted-before count, visible row, key lookup and
// cursor must agree with the model after each step.
TEST(NodeListTest, PositionsCountsAndKeysFollowEveryChange) {
  TIB_NodeList L;
  L.SetKeyLength(4);
  struct M {
    int32_t Key;
    bool Deleted;
  };
  std::vector<M> model;
  std::mt19937 rng(7);
  int32_t next = 1;
  auto check = [&](int step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(L.GetCount(), static_cast<int32_t>(model.size()));
    int32_t hidden = 0;
    for (const M& m : model) hidden += m.Deleted;
    ASSERT_EQ(L.HiddenCount(), hidden);
    for (int probe = 0; probe < 8 && !model.empty(); ++probe) {
      const auto row = static_cast<int32_t>(rng() % model.size()) + 1;
      int32_t db = -1;
      TIB_Node* n = L.NodeAt(row, db);
      ASSERT_NE(n, nullptr);
      int32_t expectDb = 0;
      for (int32_t i = 0; i < row; ++i) expectDb += model[static_cast<size_t>(i)].Deleted;
      ASSERT_EQ(KeyOf(n), model[static_cast<size_t>(row - 1)].Key);
      ASSERT_EQ(db, expectDb);
      TIB_Node* found = nullptr;
      int32_t frow = 0, fdb = 0;
      ASSERT_TRUE(L.FindKey(Key(KeyOf(n)).data(), false, found, frow, fdb));
      ASSERT_EQ(found, n);
      ASSERT_EQ(frow, row);
      ASSERT_EQ(fdb, expectDb);
      if (!model[static_cast<size_t>(row - 1)].Deleted) {
        const TIB_NodeList::TCursor c = L.LocateVisibleRow(row - expectDb);
        ASSERT_EQ(c.Node, n);
      }
    }
    for (const TIB_NodeList::TCursor* c : {&L.GetRowCursor(), &L.GetBufferCursor()}) {
      int32_t db = -1;
      ASSERT_EQ(L.NodeAt(c->Row, db), c->Node);
      ASSERT_EQ(db, c->DeletedBefore);
    }
  };
  for (int step = 0; step < 3000; ++step) {
    const unsigned op = rng() % 10;
    const auto size = static_cast<int32_t>(model.size());
    const int32_t row = size > 0 ? static_cast<int32_t>(rng() % size) + 1 : 0;
    if (op < 4 || size == 0) {
      ASSERT_NE(L.AddKey(Key(next).data()), nullptr);
      model.push_back({next++, false});
    } else if (op == 4) {
      L.SetRowCursor(row);
      TIB_Node* n = L.InsertAtRow();
      L.SetNodeKey(n, Key(next).data());
      model.insert(model.begin() + (row - 1), {next++, false});
      L.ClearPendingInserts();
    } else if (op == 5) {
      int32_t db;
      L.RemoveNode(L.NodeAt(row, db));
      model.erase(model.begin() + (row - 1));
    } else if (op == 6 || op == 7) {
      int32_t db;
      TIB_Node* n = L.NodeAt(row, db);
      if (n->Has(nfDeleted)) {
        L.RevertNode(n, false);
      } else {
        L.MarkDeleted(n, true);
      }
      model[static_cast<size_t>(row - 1)].Deleted = !model[static_cast<size_t>(row - 1)].Deleted;
    } else if (op == 8) {
      L.SetBufferCursor(row);
      L.MoveBufferBy(static_cast<int32_t>(rng() % 7) - 3);
    } else {
      L.SetRowCursor(row);
      L.MoveRowBy(static_cast<int32_t>(rng() % 7) - 3);
    }
    check(step);
    ASSERT_EQ(L.GetDeletedCount(), L.HiddenCount());
    ASSERT_EQ(L.GetUpdateListCount(), L.GetDeletedCount());
  }
}

TEST(NodeListTest, MovesPassOverDeletedRowsAndRemovalsKeepTheCursorsOnRows) {
  TIB_NodeList L;
  L.SetKeyLength(4);
  for (int32_t k = 1; k <= 5; ++k) L.AddKey(Key(k).data());
  int32_t db;
  L.MarkDeleted(L.NodeAt(2, db), true);
  L.SetRowCursor(1);
  L.MoveRowBy(2);  // visible, deleted, visible: lands on the second visible row
  EXPECT_EQ(KeyOf(L.GetRowCursor().Node), 4);
  EXPECT_EQ(L.GetRowCursor().DeletedBefore, 1);
  L.SetRowCursor(3);
  L.DeleteAtRow();  // the row under the cursor goes: the cursor takes the next row
  EXPECT_EQ(KeyOf(L.GetRowCursor().Node), 4);
  EXPECT_EQ(L.GetRowCursor().Row, 3);
  L.SetRowCursor(L.GetCount());
  L.DeleteAtRow();  // the last row goes: back to the new last row
  EXPECT_EQ(KeyOf(L.GetRowCursor().Node), 4);
  EXPECT_EQ(L.GetRowCursor().Row, L.GetCount());
  L.SetBufferCursor(0);
  EXPECT_EQ(MessageOf<Exception>([&] { L.DeleteAtBuffer(); }), "Invalid reference to Delete");
  L.ClearAll();
  EXPECT_EQ(L.GetHead()->Flags, 3);
  EXPECT_EQ(L.NodeAt(1, db), nullptr);
  EXPECT_EQ(MessageOf<Exception>([&] { L.DeleteAtRow(); }), "Invalid reference to Delete");
}

// A trim keeps the nodes with state; fetching their keys again brings the same nodes back, and
// removing a retained deleted node keeps the retained counts and the buffer cursor right.
TEST(NodeListTest, TrimRetainsNodesWithStateAndReusesThem) {
  TIB_NodeList L;
  L.SetKeyLength(4);
  for (int32_t k = 1; k <= 6; ++k) L.AddKey(Key(k).data());
  int32_t db;
  TIB_Node* selected = L.NodeAt(2, db);
  selected->Flags |= nfSelected;
  TIB_Node* deleted = L.NodeAt(4, db);
  L.MarkDeleted(deleted, true);
  TIB_Node* gone = L.NodeAt(5, db);
  L.MarkDeleted(gone, true);
  L.Clear(true, true);
  EXPECT_EQ(L.GetCount(), 0);
  EXPECT_EQ(L.GetRetainedCount(), 3);
  EXPECT_EQ(L.GetRetainedDeleted(), 2);
  EXPECT_EQ(L.HiddenCount(), 0);
  L.SeekKey(Key(5).data());
  EXPECT_EQ(L.GetBufferCursor().Node, gone);
  EXPECT_EQ(L.GetBufferCursor().Row, -1);
  L.RemoveNode(gone);
  EXPECT_EQ(L.GetRetainedDeleted(), 1);
  EXPECT_EQ(L.GetDeletedTotal(), 1);
  EXPECT_EQ(L.GetBufferCursor().Node, L.GetHead());
  for (int32_t k = 1; k <= 6; ++k) L.AddKey(Key(k).data());
  EXPECT_EQ(L.NodeAt(2, db), selected);
  EXPECT_TRUE(selected->Has(nfSelected));
  EXPECT_EQ(L.NodeAt(4, db), deleted);
  EXPECT_EQ(L.GetRetainedDeleted(), 0);
  EXPECT_EQ(L.HiddenCount(), 1);
  EXPECT_EQ(L.GetRetainedCount(), 0);
  // A locally inserted row stands for its key: the server's row is not listed twice.
  L.SetRowCursor(1);
  L.SetNodeKey(L.InsertAtRow(), Key(99).data());
  EXPECT_EQ(L.AddKey(Key(99).data()), nullptr);
}

TEST(NodeListTest, RevertingRestoresTheRowAsItWas) {
  TIB_NodeList L;
  L.SetKeyLength(4);
  TIB_Node* n = L.AddKey(Key(1).data());
  const uint8_t before[] = {1, 2, 3}, after[] = {9, 9};
  L.SetRecord(n, before, 3);
  L.MarkChanged(n, nfModified);
  L.KeepOldKey(n);
  L.SetNodeKey(n, Key(2).data());
  L.SetRecord(n, after, 2);
  L.MarkDeleted(n, true);
  EXPECT_EQ(L.GetModifiedCount(), 0);
  L.RevertNode(n, false);  // deleted after an edit: back to modified, old record kept
  EXPECT_EQ(n->GetFlags(), nfModified);
  EXPECT_EQ(L.GetModifiedCount(), 1);
  EXPECT_EQ(L.GetDeletedTotal(), 0);
  L.RevertNode(n, false);
  EXPECT_EQ(n->GetFlags(), 0);
  ASSERT_EQ(n->RecordLength, 3);
  EXPECT_EQ(std::memcmp(n->RecordData, before, 3), 0);
  EXPECT_EQ(KeyOf(n), 1);  // the key the server knows
  EXPECT_EQ(L.GetUpdateListCount(), 0);
  // Invalidating a modified row keeps its pending change and the row it replaces.
  L.SetRecord(n, before, 3);
  L.MarkChanged(n, nfModified);
  L.SetRecord(n, after, 2);
  L.InvalidateNode(n);
  EXPECT_EQ(n->RecordLength, 2);
  EXPECT_EQ(n->OldRecordLength(), 3);
  EXPECT_EQ(L.GetModifiedCount(), 1);
  TIB_Node* ins = L.Append();
  L.MarkChanged(ins, nfInserted);
  EXPECT_EQ(MessageOf<Exception>([&] { L.RevertNode(ins, false); }), "Unsupported here");
}

// Dropping the update item of a row flagged as changed that has none in the update list raises the
// platform's base exception (a broken list, never a user's error) instead of leaving the counts and the
// list out of step.
TEST(NodeListTest, DroppingAMissingUpdateItemRaises) {
  struct Case {
    const char* Name;
    std::function<void(TIB_NodeList&, TIB_Node*)> Drop;
  };
  const Case cases[] = {
      {"remove", [](TIB_NodeList& L, TIB_Node* n) { L.RemoveNode(n); }},
      {"revert", [](TIB_NodeList& L, TIB_Node* n) { L.RevertNode(n, false); }},
      {"accept", [](TIB_NodeList& L, TIB_Node* n) { L.AcceptNode(n); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TIB_NodeList L;
    L.SetKeyLength(4);
    TIB_Node* n = L.AddKey(Key(1).data());
    n->Flags |= nfModified;  // a change that never entered the update list
    std::string message = "no error";
    try {
      c.Drop(L, n);
    } catch (const Exception& e) {
      EXPECT_TRUE(typeid(e) == typeid(Exception)) << typeid(e).name();
      message = e.what();
    }
    EXPECT_EQ(message, "This shouldn't happen 3");
  }
}

// Deleting at a cursor that names no row raises the platform's base exception with the library's text,
// and leaves the list as it was.
TEST(NodeListTest, DeletingWhereNoRowIsRaisesInvalidReferenceToDelete) {
  struct Case {
    const char* Name;
    int32_t Rows;
    std::function<void(TIB_NodeList&)> Delete;
  } const cases[] = {
      {"row cursor on an empty list", 0, [](TIB_NodeList& L) { L.DeleteAtRow(); }},
      {"row cursor at the end", 2,
       [](TIB_NodeList& L) {
         L.SetRowCursor(3);
         L.DeleteAtRow();
       }},
      {"buffer cursor at the start", 2,
       [](TIB_NodeList& L) {
         L.SetBufferCursor(0);
         L.DeleteAtBuffer();
       }},
      {"buffer cursor on a retained row", 2,
       [](TIB_NodeList& L) {
         L.AddRetainedKey(Key(9).data());
         L.SeekKey(Key(9).data());
         L.DeleteAtBuffer();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TIB_NodeList L;
    L.SetKeyLength(4);
    for (int32_t k = 1; k <= c.Rows; ++k) L.AddKey(Key(k).data());
    std::string message = "no error";
    try {
      c.Delete(L);
    } catch (const Exception& e) {
      EXPECT_TRUE(typeid(e) == typeid(Exception)) << typeid(e).name();
      message = e.what();
    }
    EXPECT_EQ(message, "Invalid reference to Delete");
    EXPECT_EQ(L.GetCount(), c.Rows);
  }
}

using NodeListRowTest = DatasetDbTest;

TEST_F(NodeListRowTest, RecordsPackAndUnpackWithinTheColumnsBounds) {
  TIB_Cursor* c = NewCursor(
      "SELECT CAST(NULL AS INTEGER) N, CAST(7 AS INTEGER) I, CAST('abc' AS VARCHAR(5)) V, CAST('x' AS CHAR(3)) C, "
      "ID FROM T");
  c->Prepare();
  TIB_Row& row = *c->GetFields();
  XSQLDA* da = row.GetPSQLDA();
  TIB_NodeList L;
  L.SetKeyLength(4);
  TIB_Node* n = L.AddKey(Key(1).data());
  L.UnpackRow(n, row);  // no record: all null, blanks in text areas, zeros elsewhere
  auto ind = [&](int i) {
    int16_t v;
    std::memcpy(&v, da->sqlvar[i].sqlind, 2);
    return v;
  };
  for (int i = 0; i < da->sqld; ++i) EXPECT_EQ(ind(i), -1);
  EXPECT_EQ(std::string(da->sqlvar[3].sqldata, 3), "   ");
  EXPECT_EQ(std::string(da->sqlvar[2].sqldata + 2, 5), "     ");
  EXPECT_EQ(da->sqlvar[1].sqldata[0], 0);
  // Values: a null nullable column takes 2 bytes; the NOT NULL ID keeps its value whatever its indicator.
  std::memset(da->sqlvar[1].sqlind, 0, 2);
  int32_t seven = 7, id = 42;
  std::memcpy(da->sqlvar[1].sqldata, &seven, 4);
  std::memset(da->sqlvar[2].sqlind, 0, 2);
  da->sqlvar[2].sqldata[0] = 99;  // a length beyond the declared 5 is clamped
  da->sqlvar[2].sqldata[1] = 0;
  std::memcpy(da->sqlvar[2].sqldata + 2, "hello", 5);
  std::memset(da->sqlvar[3].sqlind, 0, 2);
  std::memcpy(da->sqlvar[4].sqldata, &id, 4);
  const int32_t expected = 2 + (2 + 4) + (2 + 2 + 5) + (2 + 3) + (2 + 4);
  EXPECT_EQ(TIB_NodeList::PackedLength(row), expected);
  L.PackRow(n, row);
  EXPECT_EQ(n->RecordLength, expected);
  std::memset(da->sqlvar[4].sqldata, 0, 4);
  L.UnpackRow(n, row);
  EXPECT_EQ(std::memcmp(da->sqlvar[4].sqldata, &id, 4), 0);
  EXPECT_EQ(da->sqlvar[2].sqldata[0], 5);
  EXPECT_EQ(ind(0), -1);
  // Corrupt records raise and never read past their end.
  std::vector<uint8_t> good(n->RecordData, n->RecordData + n->RecordLength);
  struct Case {
    const char* Name;
    std::vector<uint8_t> Data;
  };
  std::vector<uint8_t> longVar = good;
  longVar[2 + 6 + 2] = 200;  // the VARCHAR's stored length runs past the record
  std::vector<uint8_t> extra = good;
  extra.push_back(0);
  const Case cases[] = {{"truncated", std::vector<uint8_t>(good.begin(), good.end() - 1)},
                        {"varchar length", longVar},
                        {"trailing bytes", extra},
                        {"indicator only", {0}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    L.SetRecord(n, k.Data.data(), static_cast<int32_t>(k.Data.size()));
    EXPECT_EQ(MessageOf<Exception>([&] { L.UnpackRow(n, row); }), "Corrupt row node data");
  }
}

// Rows packed one after another fill the record store chunk by chunk: every record, wherever it lies
// (the last one of a chunk that the next does not fit, the first of a new chunk), has the length the
// row measures and unpacks to the values packed, nulls and clamped text lengths included; a node
// packed again keeps or changes its record length as its values do.
TEST_F(NodeListRowTest, RecordsPackedOneAfterAnotherAcrossTheStoresChunksUnpackAsPacked) {
  TIB_Cursor* c = NewCursor(
      "SELECT CAST(NULL AS INTEGER) I, CAST(NULL AS VARCHAR(40)) V, CAST(NULL AS BIGINT) B, CAST(NULL AS CHAR(3)) C, "
      "ID FROM T");
  c->Prepare();
  TIB_Row& row = *c->GetFields();
  XSQLDA* da = row.GetPSQLDA();
  ASSERT_EQ(da->sqld, 5);
  auto setInd = [&](int i, int16_t v) { std::memcpy(da->sqlvar[i].sqlind, &v, 2); };
  // Row k's values: I null on every 7th, V of k mod 45 characters (more than 40 clamped; null on every
  // 11th), B = k * 3, C "k%10  ", ID = k.
  auto fill = [&](int32_t k) {
    setInd(0, k % 7 == 0 ? -1 : 0);
    std::memcpy(da->sqlvar[0].sqldata, &k, 4);
    setInd(1, k % 11 == 0 ? -1 : 0);
    const auto len = static_cast<uint16_t>(k % 45);
    std::memcpy(da->sqlvar[1].sqldata, &len, 2);
    for (int i = 0; i < 40; ++i) da->sqlvar[1].sqldata[2 + i] = static_cast<char>('a' + (k + i) % 26);
    setInd(2, 0);
    const int64_t b = int64_t{k} * 3;
    std::memcpy(da->sqlvar[2].sqldata, &b, 8);
    setInd(3, 0);
    std::memcpy(da->sqlvar[3].sqldata, "0  ", 3);
    da->sqlvar[3].sqldata[0] = static_cast<char>('0' + k % 10);
    setInd(4, 0);
    std::memcpy(da->sqlvar[4].sqldata, &k, 4);
  };
  auto check = [&](int32_t k) {
    int16_t ind[5];
    for (int i = 0; i < 5; ++i) std::memcpy(&ind[i], da->sqlvar[i].sqlind, 2);
    int32_t i0 = 0, id = 0;
    int64_t b = 0;
    uint16_t len = 0;
    std::memcpy(&i0, da->sqlvar[0].sqldata, 4);
    std::memcpy(&len, da->sqlvar[1].sqldata, 2);
    std::memcpy(&b, da->sqlvar[2].sqldata, 8);
    std::memcpy(&id, da->sqlvar[4].sqldata, 4);
    EXPECT_EQ(ind[0], k % 7 == 0 ? -1 : 0) << k;
    if (k % 7 != 0) {
      EXPECT_EQ(i0, k);
    }
    EXPECT_EQ(ind[1], k % 11 == 0 ? -1 : 0) << k;
    if (k % 11 != 0) {
      const int expected = std::min(k % 45, 40);
      EXPECT_EQ(len, expected) << k;
      for (int i = 0; i < expected; ++i) {
        if (da->sqlvar[1].sqldata[2 + i] != static_cast<char>('a' + (k + i) % 26)) {
          ADD_FAILURE() << "text of row " << k;
          break;
        }
      }
    }
    EXPECT_EQ(b, int64_t{k} * 3) << k;
    EXPECT_EQ(da->sqlvar[3].sqldata[0], static_cast<char>('0' + k % 10)) << k;
    EXPECT_EQ(id, k) << k;
  };
  TIB_NodeList L;
  L.SetKeyLength(4);
  const int32_t rows = 40000;  // records of 20 to 65 bytes: several chunks
  size_t total = 0;
  std::vector<TIB_Node*> nodes;
  for (int32_t k = 1; k <= rows; ++k) {
    fill(k);
    const int32_t measured = TIB_NodeList::PackedLength(row);
    TIB_Node* n = L.AddKey(Key(k).data());
    L.PackRow(n, row);
    ASSERT_EQ(n->RecordLength, measured) << k;
    total += static_cast<size_t>(measured);
    nodes.push_back(n);
  }
  EXPECT_EQ(L.GetRecordBytes(), total);
  EXPECT_GT(L.GetStoreCapacity(), size_t{2} * 256 * 1024);
  for (int32_t k = rows; k >= 1; --k) {
    L.UnpackRow(nodes[static_cast<size_t>(k - 1)], row);
    check(k);
    if (HasFailure()) return;
  }
  // Packed again: with other values (another length), then with the same length.
  for (int32_t k : {1, 44, rows}) {
    TIB_Node* n = nodes[static_cast<size_t>(k - 1)];
    for (int32_t as : {k + 3, k + 3 + 45}) {
      fill(as);
      L.PackRow(n, row);
      EXPECT_EQ(n->RecordLength, TIB_NodeList::PackedLength(row));
      fill(1);
      L.UnpackRow(n, row);
      check(as);
    }
  }
  L.UnpackRow(nodes[1], row);
  check(2);
}

// A row laid out anew (its statement prepared again with other columns) is packed as its new columns
// say, into the same list, and the records packed before keep unpacking as they were.
TEST_F(NodeListRowTest, ARowLaidOutAnewIsPackedAsItsNewColumnsSay) {
  TIB_Cursor* c = NewCursor("SELECT CAST(NULL AS BIGINT) B, CAST(NULL AS VARCHAR(10)) V FROM RDB$DATABASE");
  c->Prepare();
  TIB_NodeList L;
  L.SetKeyLength(4);
  std::vector<uint8_t> filler(64, 7);
  L.SetRecord(L.AddKey(Key(0).data()), filler.data(), 64);  // the store has a chunk: packing goes to its end
  auto setInd = [](XSQLVAR& V, int16_t Ind) { std::memcpy(V.sqlind, &Ind, 2); };
  {
    XSQLDA* da = c->GetFields()->GetPSQLDA();
    const int64_t b = 1234567890123;
    setInd(da->sqlvar[0], 0);
    std::memcpy(da->sqlvar[0].sqldata, &b, 8);
    setInd(da->sqlvar[1], 0);
    const uint16_t len = 3;
    std::memcpy(da->sqlvar[1].sqldata, &len, 2);
    std::memcpy(da->sqlvar[1].sqldata + 2, "abc", 3);
  }
  TIB_Node* first = L.AddKey(Key(1).data());
  L.PackRow(first, *c->GetFields());
  EXPECT_EQ(first->RecordLength, (2 + 8) + (2 + 2 + 3));
  c->Unprepare();
  c->GetSQL().SetText("SELECT CAST(NULL AS VARCHAR(10)) V, CAST(NULL AS INTEGER) I, CAST(NULL AS SMALLINT) S FROM "
                      "RDB$DATABASE");
  c->Prepare();
  XSQLDA* da = c->GetFields()->GetPSQLDA();
  ASSERT_EQ(da->sqld, 3);
  setInd(da->sqlvar[0], -1);
  setInd(da->sqlvar[1], 0);
  const int32_t i = -5;
  std::memcpy(da->sqlvar[1].sqldata, &i, 4);
  setInd(da->sqlvar[2], 0);
  const int16_t sm = 77;
  std::memcpy(da->sqlvar[2].sqldata, &sm, 2);
  TIB_Node* second = L.AddKey(Key(2).data());
  L.PackRow(second, *c->GetFields());
  EXPECT_EQ(second->RecordLength, 2 + (2 + 4) + (2 + 2));
  EXPECT_EQ(second->RecordLength, TIB_NodeList::PackedLength(*c->GetFields()));
  setInd(da->sqlvar[0], 0);
  std::memset(da->sqlvar[1].sqldata, 0, 4);
  std::memset(da->sqlvar[2].sqldata, 0, 2);
  L.UnpackRow(second, *c->GetFields());
  int16_t ind;
  std::memcpy(&ind, da->sqlvar[0].sqlind, 2);
  EXPECT_EQ(ind, -1);
  int32_t gotI;
  int16_t gotS;
  std::memcpy(&gotI, da->sqlvar[1].sqldata, 4);
  std::memcpy(&gotS, da->sqlvar[2].sqldata, 2);
  EXPECT_EQ(gotI, -5);
  EXPECT_EQ(gotS, 77);
  // The record of the first layout is the bytes it was packed as.
  const std::vector<uint8_t> was(first->RecordData, first->RecordData + first->RecordLength);
  std::vector<uint8_t> expected(2, 0);
  const int64_t b = 1234567890123;
  expected.insert(expected.end(), reinterpret_cast<const uint8_t*>(&b), reinterpret_cast<const uint8_t*>(&b) + 8);
  for (int x : {0, 0, 3, 0, int{'a'}, int{'b'}, int{'c'}}) expected.push_back(static_cast<uint8_t>(x));
  EXPECT_EQ(was, expected);
}

// Refreshing many times over reuses node and record memory: the record store stays the size of what
// is live.
TEST(NodeListTest, RepeatedTrimsReuseMemory) {
  TIB_NodeList L;
  L.SetKeyLength(4);
  std::vector<uint8_t> rec(100, 1);
  size_t first = 0;
  for (int round = 0; round < 10; ++round) {
    for (int32_t k = 1; k <= 20000; ++k) L.SetRecord(L.AddKey(Key(k).data()), rec.data(), 100);
    if (round == 0) first = L.GetStoreCapacity();
    EXPECT_EQ(L.GetRecordBytes(), 20000u * 100u);
    EXPECT_LE(L.GetStoreCapacity(), first);
    // Rewriting every record at another length wastes the old space until the store is compacted.
    for (int32_t k = 1; k <= 20000; ++k) {
      int32_t db;
      L.SetRecord(L.NodeAt(k, db), rec.data(), 50 + round % 2);
    }
    EXPECT_LE(L.GetStoreCapacity(), first * 2);
    L.Clear(true, true);
    EXPECT_EQ(L.GetPoolCount(), 20000);
  }
}

}  // namespace

namespace {

// One list built by a seeded run of appends, cached changes, apply marks, a trim and cursor moves.
void BuildForRemoval(TIB_NodeList& L, uint32_t Seed, int32_t& RowPick, int32_t& BufferPick) {
  std::mt19937 rng(Seed);
  L.SetKeyLength(4);
  const int32_t n = 1 + static_cast<int32_t>(rng() % 12);
  for (int32_t k = 1; k <= n; ++k) L.AddKey(Key(k).data());
  if (rng() % 4 == 0) {
    // A trim with rows of state, some of them fetched again.
    for (int32_t k = 1; k <= n; ++k) {
      int32_t db;
      if (rng() % 3 == 0) L.MarkDeleted(L.NodeAt(k, db), true);
    }
    L.Clear(true, true);
    for (int32_t k = 1; k <= n; ++k)
      if (rng() % 2) L.AddKey(Key(k).data());
  }
  for (int32_t r = 1; r <= L.GetCount(); ++r) {
    int32_t db;
    TIB_Node* node = L.NodeAt(r, db);
    switch (rng() % 6) {
      case 0: L.MarkDeleted(node, true); break;
      case 1: L.MarkChanged(node, nfModified); break;
      case 2: L.MarkChanged(node, nfInserted); break;
      case 3:
        L.MarkDeleted(node, true);
        L.MarkApplied(node, nfApplied);
        break;
      default: break;
    }
  }
  RowPick = static_cast<int32_t>(rng() % static_cast<uint32_t>(L.GetCount() + 2));
  BufferPick = static_cast<int32_t>(rng() % static_cast<uint32_t>(L.GetCount() + 2));
  L.SetRowCursor(RowPick);
  L.SetBufferCursor(BufferPick);
}

std::string Describe(const TIB_NodeList& L, const TIB_NodeList::TCursor& C) {
  const std::string node = C.Node == L.GetHead()   ? "head"
                           : C.Node == L.GetTail() ? "tail"
                                                   : std::to_string(KeyOf(C.Node));
  return node + "@" + std::to_string(C.Row) + "/" + std::to_string(C.DeletedBefore);
}

}  // namespace

// Removing a set of nodes at once leaves the list as removing them one by one does: every count, the
// update list and both cursors (a cursor at the end stays at the end, also when the list empties).
TEST(NodeListTest, RemovingNodesAtOnceCountsAsRemovingThemOneByOne) {
  {
    TIB_NodeList L;
    L.SetKeyLength(4);
    TIB_Node* only = L.AddKey(Key(1).data());
    L.SetBufferCursor(2);
    ASSERT_TRUE(L.BufferAtEnd());
    L.RemoveNodes({only});
    EXPECT_TRUE(L.BufferAtEnd());
    EXPECT_EQ(Describe(L, L.GetBufferCursor()), "tail@1/0");
  }
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE(seed);
    TIB_NodeList A, B;
    int32_t rowPick = 0, bufferPick = 0;
    BuildForRemoval(A, seed, rowPick, bufferPick);
    BuildForRemoval(B, seed, rowPick, bufferPick);
    std::mt19937 rng(seed * 31 + 5);
    std::vector<TIB_Node*> fromA, fromB;
    for (int32_t r = 1; r <= A.GetCount(); ++r) {
      if (rng() % 2) continue;
      int32_t db;
      fromA.push_back(A.NodeAt(r, db));
      fromB.push_back(B.NodeAt(r, db));
    }
    A.RemoveNodes(fromA);
    for (TIB_Node* n : fromB) B.RemoveNode(n);
    EXPECT_EQ(A.GetCount(), B.GetCount());
    EXPECT_EQ(A.GetModifiedCount(), B.GetModifiedCount());
    EXPECT_EQ(A.GetInsertedCount(), B.GetInsertedCount());
    EXPECT_EQ(A.GetDeletedCount(), B.GetDeletedCount());
    EXPECT_EQ(A.GetDeletedTotal(), B.GetDeletedTotal());
    EXPECT_EQ(A.GetRetainedDeleted(), B.GetRetainedDeleted());
    EXPECT_EQ(A.GetUpdateListCount(), B.GetUpdateListCount());
    EXPECT_EQ(Describe(A, A.GetRowCursor()), Describe(B, B.GetRowCursor())) << rowPick;
    EXPECT_EQ(Describe(A, A.GetBufferCursor()), Describe(B, B.GetBufferCursor())) << bufferPick;
    if (HasFailure()) break;
  }
}
