#include "dblib/trace/IB_DumpTexts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/SysUtils.h"

namespace {

// One variable over its own data bytes and indicator.
struct VarCase {
  const char* Name;
  short Type;
  short Scale;
  short Len;
  std::vector<unsigned char> Data;
  short Ind;
  const char* Expected;
};

std::vector<unsigned char> Bytes(const void* P, size_t N) {
  const auto* b = static_cast<const unsigned char*>(P);
  return {b, b + N};
}
template <class T>
std::vector<unsigned char> Of(T V) {
  return Bytes(&V, sizeof V);
}
std::vector<unsigned char> Varying(short Prefix, const char* Text) {
  auto r = Of(Prefix);
  r.insert(r.end(), Text, Text + std::strlen(Text));
  return r;
}

XSQLVAR MakeVar(const VarCase& C, std::vector<unsigned char>& Data, short& Ind) {
  XSQLVAR v{};
  v.sqltype = C.Type;
  v.sqlscale = C.Scale;
  v.sqllen = C.Len;
  Data = C.Data;
  Ind = C.Ind;
  v.sqldata = Data.empty() ? nullptr : reinterpret_cast<char*>(Data.data());
  v.sqlind = &Ind;
  v.sqlname_length = static_cast<short>(std::strlen(C.Name));
  std::memcpy(v.sqlname, C.Name, static_cast<size_t>(v.sqlname_length));
  return v;
}

TEST(DumpXSQLVARTest, EachTypeHasItsText) {
  const ISC_TIMESTAMP midnight{58849, 0};  // 2020-01-01
  const ISC_TIMESTAMP morning{58849, (10 * 3600 + 5 * 60 + 3) * 10000 + 42};
  const ISC_QUAD quad{-2, 4000000000u};
  const VarCase cases[] = {
      {"N", SQL_LONG + 1, 0, 4, Of<int32_t>(5), -1, "<NULL>"},
      {"N", SQL_LONG, 0, 4, Of<int32_t>(5), -1, "<n> 5"},
      {"N", SQL_LONG, 0, 4, {}, 0, "<NIL>"},
      {"N", SQL_LONG, -2, 4, Of<int32_t>(12345), 0, "123.45"},
      {"N", SQL_SHORT, -1, 2, Of<int16_t>(-5), 0, "-0.5"},
      {"N", SQL_INT64, 0, 8, Of<int64_t>(-9000000000), 0, "-9000000000"},
      {"N", SQL_DOUBLE, -2, 8, Of<double>(1.5), 0, "1.5"},
      {"N", SQL_FLOAT, 0, 4, Of<float>(0.25f), -1, "<n> 0.25"},
      {"S", SQL_VARYING, 0, 10, Varying(3, "it's"), 0, "'it''"},
      {"S", SQL_VARYING, 0, 3, Varying(50, "abcdef"), 0, "'abc'"},  // the prefix never reaches past sqllen
      {"S", SQL_VARYING, 0, 3, Varying(-4, "abc"), 0, "''"},
      {"S", SQL_TEXT, 0, 4, Bytes("it's", 4), 0, "'it''s'"},
      {"DB_KEY", SQL_TEXT, 0, 2, {0xAB, 0x01}, 0, "DB_KEY $AB01"},
      {"rdb$db_key", SQL_TEXT, 0, 1, {0x0F}, -1, "DB_KEY <n> $0F"},
      {"T", SQL_TIMESTAMP, 0, 8, Of(midnight), 0, "'01 Jan 2020'"},
      {"T", SQL_TIMESTAMP, 0, 8, Of(morning), 0, "'01 Jan 2020 10:05:03 0042'"},
      {"T", SQL_TYPE_TIME, 0, 4, Of<ISC_TIME>(0), 0, "'00:00:00'"},
      {"T", SQL_TYPE_DATE, 0, 4, Of<ISC_DATE>(58849), -1, "<n> '01 Jan 2020'"},
      {"B", SQL_BLOB, 0, 8, Of(quad), -1, "BLOB ID ( -2, 4000000000 )"},
      {"A", SQL_ARRAY, 0, 8, Of(quad), 0, "ARRAY ID ( -2, 4000000000 )"},
      {"Q", SQL_QUAD, 0, 8, Of(quad), 0, "QUAD ( -2, 4000000000 )"},
      {"X", 999, 0, 2, {0x00, 0xFF}, 0, "UNKNOWN $00FF"},
  };
  for (const VarCase& c : cases) {
    std::vector<unsigned char> data;
    short ind;
    const XSQLVAR v = MakeVar(c, data, ind);
    std::string text;
    DumpXSQLVAR(v, text);
    EXPECT_EQ(c.Expected, text) << "type " << c.Type << " scale " << c.Scale;
  }
}

TEST(DumpXSQLDATest, ListsTheVariablesInUseWithTheirLabels) {
  std::vector<char> buffer(XSQLDA_LENGTH(4), 0);
  auto* da = reinterpret_cast<XSQLDA*>(buffer.data());
  da->version = SQLDA_VERSION1;
  da->sqln = 3;
  da->sqld = 4;  // more in use than room: only sqln are listed
  int32_t values[3] = {1, 2, 3};
  auto name = [](char* Dest, short& Length, const char* Text, short Declared) {
    std::memcpy(Dest, Text, std::min<size_t>(std::strlen(Text), 32));
    Length = Declared;
  };
  for (int i = 0; i < 3; ++i) {
    da->sqlvar[i].sqltype = SQL_LONG;
    da->sqlvar[i].sqllen = 4;
    da->sqlvar[i].sqldata = reinterpret_cast<char*>(&values[i]);
  }
  XSQLVAR& a = da->sqlvar[0];
  name(a.sqlname, a.sqlname_length, "ID", 2);
  name(a.relname, a.relname_length, "T", 1);
  name(a.ownname, a.ownname_length, "SYSDBA", 6);
  name(a.aliasname, a.aliasname_length, "key", 3);
  XSQLVAR& b = da->sqlvar[1];
  name(b.sqlname, b.sqlname_length, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 40);  // cut at 32
  name(b.relname, b.relname_length, "IGNORED", -3);                               // no name at all
  // the third has no names

  std::string text;
  DumpXSQLDA(da, false, text);
  EXPECT_EQ(
      " Version 1 SQLd 4 SQLn 3\r\n"
      "  T.ID[\"key\"] = 1\r\n"
      "  ABCDEFGHIJKLMNOPQRSTUVWXYZ012345 = 2\r\n"
      "  < SQLType: 496 SQLLen: 4 > = 3",
      text);
  DumpXSQLDA(da, true, text);
  EXPECT_NE(std::string::npos, text.find("  SYSDBA.T.ID[\"key\"] = 1")) << text;
  DumpXSQLDA(nullptr, true, text);
  EXPECT_EQ("", text);
}

TEST(DumpXSQLDATest, AnUnsupportedScaledTypeBecomesAMarker) {
  std::vector<char> buffer(XSQLDA_LENGTH(1), 0);
  auto* da = reinterpret_cast<XSQLDA*>(buffer.data());
  da->version = SQLDA_VERSION1;
  da->sqln = da->sqld = 1;
  char data[6] = {3, 0, 'a', 'b', 'c', 0};
  da->sqlvar[0].sqltype = SQL_VARYING;
  da->sqlvar[0].sqlscale = -2;
  da->sqlvar[0].sqllen = 4;
  da->sqlvar[0].sqldata = data;
  std::string text;
  EXPECT_THROW(DumpXSQLVAR(da->sqlvar[0], text), Exception);
  DumpXSQLDA(da, false, text);
  EXPECT_EQ(" Version 1 SQLd 1 SQLn 1\r\n  < SQLType: 448 SQLLen: 4 > = <Unsupported column type>", text);
}

}  // namespace
