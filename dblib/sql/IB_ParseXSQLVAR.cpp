// XSQLVAR definitions from text, SQL type compatibility, ISC timestamps, quads and buffers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/sql/IB_ParseInternal.h"
#include "platform/Locale.h"
#include "platform/SysUtils.h"

namespace {

void SetName(char* Dest, ISC_SHORT& Length, std::string_view Name) {
  const size_t len = std::min<size_t>(Name.size(), 31);
  std::memset(Dest, 0, 32);
  std::memcpy(Dest, Name.data(), len);
  Length = static_cast<ISC_SHORT>(len);
}

// A length, precision or scale of a definition: up to five digits.
bool ReadNumber(std::string_view S, size_t& P, int32_t& Value) {
  while (P < S.size() && S[P] == ' ') ++P;
  size_t start = P;
  Value = 0;
  while (P < S.size() && S[P] >= '0' && S[P] <= '9' && P - start < 5) Value = Value * 10 + (S[P++] - '0');
  while (P < S.size() && S[P] == ' ') ++P;
  return P > start;
}

}  // namespace

void XSQLVARFromDefString(std::string_view Def, int32_t Dialect, XSQLVAR& Var) {
  auto fail = [&]() { IB_Raise<Exception>(IBMsg::InvalidXSQLVARDefString, {std::string(Def)}); };
  std::string s = UpperCase(Trim(Def));
  if (size_t eq = s.find('='); eq != std::string::npos) s[eq] = ' ';

  size_t p = 0;
  while (p < s.size() && s[p] != ' ') ++p;
  const std::string fullName = s.substr(0, p);
  if (fullName.empty()) fail();
  const std::string rest = s.substr(p);

  // Type words, then an optional "(len[,scale])", then an optional NOT NULL.
  size_t q = 0;
  std::string type = ib_parse::NextWord(rest, q);
  if (type == "DOUBLE") {
    if (ib_parse::NextWord(rest, q) != "PRECISION") fail();
  } else if ((type == "CHAR" || type == "CHARACTER")) {
    size_t r = q;
    if (ib_parse::NextWord(rest, r) == "VARYING") {
      type = "VARCHAR";
      q = r;
    }
  }
  while (q < rest.size() && rest[q] == ' ') ++q;
  bool hasArgs = false, hasScale = false;
  int32_t len = 0, scale = 0;
  if (q < rest.size() && rest[q] == '(') {
    hasArgs = true;
    ++q;
    if (!ReadNumber(rest, q, len)) fail();
    if (q < rest.size() && rest[q] == ',') {
      ++q;
      if (!ReadNumber(rest, q, scale)) fail();
      hasScale = true;
    }
    if (q >= rest.size() || rest[q] != ')') fail();
    ++q;
  }
  const bool notNull = rest.find("NOT ") != std::string::npos && rest.find(" NULL") != std::string::npos;

  int16_t sqltype = 0, sqllen = 0, sqlscale = 0, sqlsubtype = 0;
  auto textLength = [&]() -> int16_t {
    if (!hasArgs) return 256;
    if (hasScale || len < 1 || len > 32767) fail();
    return static_cast<int16_t>(len);
  };
  if (type == "FLOAT") {
    sqltype = 482, sqllen = 4;
  } else if (type == "DOUBLE") {
    sqltype = 480, sqllen = 8;
  } else if (type == "SMALLINT") {
    sqltype = 500, sqllen = 2;
  } else if (type == "INTEGER") {
    sqltype = 496, sqllen = 4;
  } else if (type == "DATE") {
    if (Dialect >= 3)
      sqltype = 570, sqllen = 4;
    else
      sqltype = 510, sqllen = 8;
  } else if (type == "TIME") {
    sqltype = 560, sqllen = 4;
  } else if (type == "TIMESTAMP") {
    sqltype = 510, sqllen = 8;
  } else if (type == "CHAR" || type == "CHARACTER") {
    sqltype = 452, sqllen = textLength();
  } else if (type == "VARCHAR") {
    sqltype = 448, sqllen = textLength();
  } else if (type == "DECIMAL" || type == "NUMERIC") {
    if (hasArgs) {
      if (len < 5)
        sqltype = 500, sqllen = 2;
      else if (len <= 9)
        sqltype = 496, sqllen = 4;
      else if (Dialect < 3)
        sqltype = 480, sqllen = 8;
      else
        sqltype = 580, sqllen = 8;
      sqlscale = static_cast<int16_t>(hasScale ? -scale : -2);
    } else {
      sqltype = 496, sqllen = 4, sqlscale = -2;
    }
  } else if (type == "QUAD") {
    sqltype = 550, sqllen = 8;
  } else if (type == "MEMO") {
    sqltype = 520, sqllen = 8, sqlsubtype = 1;
  } else if (type == "BLOB") {
    sqltype = 520, sqllen = 8;
  } else {
    fail();
  }
  // Only the text and numeric types take an argument list.
  if (hasArgs && sqltype != 452 && sqltype != 448 && type != "DECIMAL" && type != "NUMERIC") fail();

  Var.sqltype = static_cast<ISC_SHORT>(sqltype + (notNull ? 0 : 1));
  Var.sqllen = sqllen;
  Var.sqlscale = sqlscale;
  Var.sqlsubtype = sqlsubtype;
  const size_t dot = fullName.find('.');
  if (dot != std::string::npos) {
    SetName(Var.relname, Var.relname_length, std::string_view(fullName).substr(0, dot));
    SetName(Var.sqlname, Var.sqlname_length, std::string_view(fullName).substr(dot + 1));
    SetName(Var.aliasname, Var.aliasname_length, std::string_view(fullName).substr(dot + 1));
  } else {
    SetName(Var.relname, Var.relname_length, "");
    SetName(Var.sqlname, Var.sqlname_length, "");
    SetName(Var.aliasname, Var.aliasname_length, fullName);
  }
  SetName(Var.ownname, Var.ownname_length, "");
}

bool SQLTypesCompatible(int32_t A, int32_t B) {
  A &= ~1;
  B &= ~1;
  if (A == B) return true;
  auto map = [](int32_t t) { return t == 500 ? 496 : t == 480 ? 482 : t; };
  return map(A) == map(B);
}

namespace {

constexpr int64_t kIscDateDelta = 15018;  // 1858-11-17 .. 1899-12-30

}  // namespace

ISC_TIMESTAMP DateTimeToIscTimestamp(double Value) {
  // Beyond what a TDateTime can name (years 1..9999) no ISC date is meant; refuse it rather than wrap.
  if (!std::isfinite(Value) || Value < -693594.0 || Value > 2958466.0) {
    IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  }
  const double whole = std::trunc(Value);
  int64_t day = static_cast<int64_t>(whole);
  int64_t ms = std::llround(std::fabs(Value - whole) * 86400000.0);
  if (ms >= 86400000) {
    // Rounded up to midnight: the next calendar day. Before 1899-12-30 too, as the time counts forward
    // from the start of the (negative) day.
    ms -= 86400000;
    day += 1;
  }
  // Whole milliseconds of the day, in the client's units of 1/10000 s.
  ISC_TIMESTAMP r;
  r.timestamp_date = static_cast<ISC_DATE>(day + kIscDateDelta);
  r.timestamp_time = static_cast<ISC_TIME>(ms * 10);
  return r;
}

bool QuadsEqual(const ISC_QUAD& A, const ISC_QUAD& B) {
  return A.gds_quad_high == B.gds_quad_high && A.gds_quad_low == B.gds_quad_low;
}

bool QuadIsNull(const ISC_QUAD& Q) { return Q.gds_quad_high == 0 && Q.gds_quad_low == 0; }

void ResizeBuffer(char*& P, int32_t OldSize, int32_t NewSize) {
  if (OldSize == NewSize) return;
  char* block = NewSize > 0 ? new char[static_cast<size_t>(NewSize)]() : nullptr;
  const int32_t common = std::min(OldSize, NewSize);
  if (block && P && common > 0) std::memcpy(block, P, static_cast<size_t>(common));
  delete[] P;
  P = block;
}
