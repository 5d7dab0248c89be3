#include <gtest/gtest.h>

#include <functional>

#include "BlobTestSupport.h"
#include "dblib/IB_Errors.h"

namespace {

using blobtest::BlobDbTest;
using testsupport::MessageOf;

class ColumnArrayTest : public BlobDbTest {
protected:
  // Makes table Table with the array column A of Type and writes Value into it through a parameter.
  TIB_ColumnArray* Insert(const std::string& Table, const std::string& Type, const Variant& Value) {
    Exec("CREATE TABLE " + Table + " (ID INTEGER, A " + Type + ")");
    Tr->Commit();
    TIB_DSQL* ins = Prepared("INSERT INTO " + Table + " (ID, A) VALUES (1, :A)");
    auto* a = dynamic_cast<TIB_ColumnArray*>(ins->ParamByName("A"));
    EXPECT_NE(a, nullptr);
    if (a) a->SetAsVariant(Value);
    ins->Execute();
    return a;
  }
  TIB_Column* Read(const std::string& Table) {
    TIB_DSQL* sel = Prepared("SELECT A FROM " + Table);
    sel->Execute();
    return sel->GetFields()->GetColumns(0);
  }
};

// Calls Visit with the position of every element of array V in the server's order (the last dimension
// varies fastest).
void ForEach(const Variant& V, const std::function<void(const std::vector<int>&)>& Visit) {
  const int dims = VarArrayDimCount(V);
  std::vector<int> at(static_cast<size_t>(dims));
  for (int d = 0; d < dims; ++d) at[d] = VarArrayLowBound(V, d + 1);
  for (;;) {
    Visit(at);
    int d = dims - 1;
    for (; d >= 0 && at[d] == VarArrayHighBound(V, d + 1); --d) at[d] = VarArrayLowBound(V, d + 1);
    if (d < 0) return;
    ++at[d];
  }
}

// A variant array with the given bounds (low, high pairs) holding Values in the server's order.
Variant Filled(const std::vector<int>& Bounds, uint16_t Type, const std::vector<Variant>& Values) {
  Variant v = VarArrayCreate(Bounds, Type);
  size_t k = 0;
  ForEach(v, [&](const std::vector<int>& At) { v.PutElement(At, Values.at(k++)); });
  return v;
}

// The elements' texts (right-trimmed) in the server's order.
std::vector<std::string> Flat(const Variant& V) {
  std::vector<std::string> texts;
  ForEach(V, [&](const std::vector<int>& At) { texts.push_back(TrimRight(VarToStr(V.GetElement(At)))); });
  return texts;
}

TEST_F(ColumnArrayTest, ElementsRoundTripInTheServersOrder) {
  struct Case {
    const char* Type;
    std::vector<int> Bounds;  // of the variant written (the column's may differ, element counts agree)
    uint16_t VarType;
    std::vector<Variant> Values;
    // Single elements as the server reads them, and the texts they must give.
    const char* Elements;
    const char* Texts;
  };
  const Case cases[] = {
      {"INTEGER[3]", {0, 2}, varInteger, {1, -2, 2147483647}, "A[1] || ',' || A[3]", "1,2147483647"},
      {"SMALLINT[0:2]",
       {0, 2},
       varSmallint,
       {int16_t(-32768), int16_t(0), int16_t(7)},
       "A[0] || ',' || A[2]",
       "-32768,7"},
      {"BIGINT[2]", {1, 2}, varVariant, {int64_t(1) << 40, int64_t(-5)}, "A[1] || ',' || A[2]", "1099511627776,-5"},
      {"NUMERIC(9,2)[2]", {1, 2}, varVariant, {1.25, -0.5}, "A[1] || ',' || A[2]", "1.25,-0.50"},
      {"NUMERIC(18,4)[2]", {1, 2}, varVariant, {"123456.7891", 0}, "A[1] || ',' || A[2]", "123456.7891,0.0000"},
      {"DOUBLE PRECISION[2]",
       {1, 2},
       varDouble,
       {0.5, -1e300},
       "A[1] || ',' || CAST(A[2] / 1e298 AS INTEGER)",
       "0.5000000000000000,-100"},
      {"FLOAT[2]", {1, 2}, varSingle, {0.25, 3}, "A[1] || ',' || A[2]", "0.25000000,3.0000000"},
      {"CHAR(3)[2]", {1, 2}, varVariant, {"ab", "xyz"}, "'<' || A[1] || '>' || A[2]", "<ab >xyz"},
      {"VARCHAR(4)[3]", {1, 3}, varVariant, {"", "a", "abcd"}, "CHAR_LENGTH(A[1]) || A[2] || A[3]", "0aabcd"},
      {"TIMESTAMP[2]",
       {1, 2},
       varVariant,
       {Variant::FromDate(45000.75), Variant::FromDate(-1.25)},
       "A[1] || ',' || A[2]",
       "2023-03-15 18:00:00.0000,1899-12-29 06:00:00.0000"},
      {"DATE[2]",
       {1, 2},
       varVariant,
       {Variant::FromDate(45000), Variant::FromDate(1)},
       "A[1] || ',' || A[2]",
       "2023-03-15,1899-12-31"},
      {"TIME[2]",
       {1, 2},
       varVariant,
       {Variant::FromDate(0.5), Variant::FromDate(0.25)},
       "A[1] || ',' || A[2]",
       "12:00:00.0000,06:00:00.0000"},
      {"INTEGER[2,3]", {1, 2, 1, 3}, varInteger, {11, 12, 13, 21, 22, 23}, "A[1,3] || ',' || A[2,1]", "13,21"},
      {"SMALLINT[2,2,2]",
       {1, 2, 1, 2, 1, 2},
       varSmallint,
       {int16_t(111), int16_t(112), int16_t(121), int16_t(122), int16_t(211), int16_t(212), int16_t(221), int16_t(222)},
       "A[1,1,2] || ',' || A[1,2,1] || ',' || A[2,1,1]",
       "112,121,211"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Type);
    const std::string table = "T" + std::to_string(++n);
    const Variant written = Filled(c.Bounds, c.VarType, c.Values);
    Insert(table, c.Type, written);
    EXPECT_EQ(Scalar(std::string("SELECT ") + c.Elements + " FROM " + table), c.Texts);
    // Read back through the library: the same elements in the same order, under the column's bounds.
    EXPECT_EQ(Flat(Read(table)->GetAsVariant()), Flat(written));
  }
}

}  // namespace

namespace {

TEST_F(ColumnArrayTest, AValueThatDoesNotFitIsRefusedAndNothingChanges) {
  const Variant one = Filled({1, 3}, varVariant, {1, 2, 3});
  TIB_ColumnArray* a = Insert("T", "INTEGER[3]", one);
  struct Case {
    Variant Value;
    const char* Message;
  };
  const Case cases[] = {
      {Variant(5), "Variant must be of an array type"},
      {VarArrayCreate({1, 3, 1, 1}, varInteger), "Dimensions are different"},
      {VarArrayCreate({1, 4}, varInteger), "Dimension has different number of elements"},
      // An element that does not convert is an error, never an element of blanks.
      {Filled({1, 3}, varVariant, {1, "abc", 3}), "'abc' is not a valid integer value"},
      {Filled({1, 3}, varVariant, {1, int64_t(1) << 40, 3}), "Value out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    EXPECT_EQ(MessageOf<Exception>([&] { a->SetAsVariant(c.Value); }), c.Message);
    EXPECT_EQ(Flat(a->GetAsVariant()), Flat(one));
  }
  EXPECT_EQ(MessageOf<EIB_ColumnError>([&] { a->SetAsString("x"); }), "Unable to assign to array AsString");
  EXPECT_EQ(a->GetAsString(), "(ARRAY)");
  a->SetAsVariant(Variant::Null());
  EXPECT_EQ(a->GetAsString(), "(array)");
}

// Parameters are named after their markers: their bounds come from the column the server described them
// as (INSERT, UPDATE), else from an output column of the same name.
TEST_F(ColumnArrayTest, ParametersTakeTheBoundsOfTheirColumn) {
  const Variant v = VarArrayCreate({1, 10, 1, 5}, varInteger);
  EXPECT_EQ(Insert("T1", "INTEGER[10, 5]", v)->GetSQLTypeSource(), "INTEGER[ 10, 5 ]");
  EXPECT_EQ(Insert("T2", "VARCHAR(7)[0:2]", VarArrayCreate({0, 2}, varVariant))->GetSQLTypeSource(),
            "VARCHAR( 7 )[ 0:2 ]");
  TIB_DSQL* q = Prepared("SELECT A FROM T2 WHERE A = :A");
  EXPECT_EQ(q->ParamByName("A")->GetSQLTypeSource(), "VARCHAR( 7 )[ 0:2 ]");
}

}  // namespace
