#include "dblib/trace/IB_DumpTexts.h"

#include <algorithm>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Utils.h"
#include "dblib/sql/IB_Parse.h"
#include "platform/Locale.h"
#include "platform/SysUtils.h"

namespace {

constexpr int kNameSize = 32;           // the characters of a counted XSQLVAR name
constexpr int32_t kDateOffset = 15018;  // day 0 of the client's dates is 1858-11-17

// A counted name: empty for a length of zero or less, at most its 32 characters.
std::string_view CountedName(const char* Name, ISC_SHORT Length) {
  if (Length <= 0) return {};
  return std::string_view(Name, static_cast<size_t>(std::min<int>(Length, kNameSize)));
}

std::string Ident(std::string_view Name) {
  std::string r;
  if (!Name.empty()) MakeSQLIdent(3, Name, r);
  return r;
}

std::string HexText(const XSQLVAR& Var) {
  static const char digits[] = "0123456789ABCDEF";
  std::string r = "$";
  const auto* p = reinterpret_cast<const unsigned char*>(Var.sqldata);
  for (int i = 0; i < Var.sqllen; ++i) {
    r += digits[p[i] >> 4];
    r += digits[p[i] & 15];
  }
  return r;
}

std::string Two(uint32_t V) { return FormatFloat("00", V); }

// hh:mm:ss of a time of day in ten-thousandths of a second, and " tttt" when those are not 0.
std::string TimeText(ISC_TIME T) {
  std::string r = Two(T / 36000000) + ":" + Two(T / 600000 % 60) + ":" + Two(T / 10000 % 60);
  if (T % 10000 != 0) r += " " + FormatFloat("0000", T % 10000);
  return r;
}

std::string DateText(ISC_DATE D) { return FormatDateTime("dd mmm yyyy", static_cast<TDateTime>(D - kDateOffset)); }

std::string Label(const XSQLVAR& Var, bool WithOwner) {
  const std::string_view sqlName = CountedName(Var.sqlname, Var.sqlname_length);
  const std::string_view relName = CountedName(Var.relname, Var.relname_length);
  const std::string_view ownName = CountedName(Var.ownname, Var.ownname_length);
  const std::string_view aliasName = CountedName(Var.aliasname, Var.aliasname_length);
  if (sqlName.empty() && relName.empty() && ownName.empty() && aliasName.empty())
    return "< SQLType: " + IntToStr(Var.sqltype) + " SQLLen: " + IntToStr(Var.sqllen) + " >";
  std::string r;
  for (std::string_view part : {WithOwner ? ownName : std::string_view{}, relName, sqlName}) {
    if (part.empty()) continue;
    r = r.empty() ? Ident(part) : Trim(r) + "." + Ident(part);
  }
  if (!aliasName.empty() && aliasName != sqlName) r += "[" + Ident(aliasName) + "]";
  return r;
}

}  // namespace

void QuadText(const ISC_QUAD& Quad, std::string& Result) {
  Result = "( " + IntToStr(static_cast<int32_t>(Quad.gds_quad_high)) + ", " +
           IntToStr(static_cast<int64_t>(static_cast<uint32_t>(Quad.gds_quad_low))) + " )";
}

void DumpXSQLVAR(const XSQLVAR& Var, std::string& Result) {
  // Rows may place an indicator at any address: it is read bytewise.
  const bool indicatorNull = Var.sqlind && ReadAs<ISC_SHORT>(reinterpret_cast<const char*>(Var.sqlind)) == -1;
  const bool nullable = (Var.sqltype & 1) != 0;
  if (nullable && indicatorNull) {
    Result = "<NULL>";
    return;
  }
  if (!Var.sqldata) {
    Result = "<NIL>";
    return;
  }
  const int type = Var.sqltype & ~1;
  const char* p = Var.sqldata;
  if (Var.sqlscale != 0) {
    long double v;
    switch (type) {
      case SQL_FLOAT: Result = FloatToStr(ReadAs<float>(p)); return;
      case SQL_DOUBLE: Result = FloatToStr(ReadAs<double>(p)); return;
      case SQL_SHORT: v = ReadAs<int16_t>(p); break;
      case SQL_LONG: v = ReadAs<int32_t>(p); break;
      case SQL_QUAD:
      case SQL_INT64: v = static_cast<long double>(ReadAs<int64_t>(p)); break;
      default: IB_Raise<Exception>(IBMsg::UnsupportedDumpType);
    }
    for (int i = std::abs(static_cast<int>(Var.sqlscale)); i > 0; --i) v /= 10;
    Result = FloatToStr(v);
    return;
  }
  // "<n> " marks a value whose indicator says NULL although the type is not nullable.
  const std::string mark = indicatorNull ? "<n> " : "";
  std::string q;
  switch (type) {
    case SQL_VARYING: {
      // The length prefix never reaches past the declared length.
      const auto length = std::clamp<int>(ReadAs<int16_t>(p), 0, std::max<int>(Var.sqllen, 0));
      Result = mark + "'" + std::string(p + 2, static_cast<size_t>(length)) + "'";
      return;
    }
    case SQL_TEXT: {
      const std::string_view name = CountedName(Var.sqlname, Var.sqlname_length);
      if (SameText(name, "DB_KEY") || SameText(name, "RDB$DB_KEY")) {
        Result = "DB_KEY " + mark + HexText(Var);
        return;
      }
      QuoteText(std::string_view(p, static_cast<size_t>(std::max<int>(Var.sqllen, 0))), '\'', q);
      Result = mark + q;
      return;
    }
    case SQL_DOUBLE: Result = mark + FloatToStr(ReadAs<double>(p)); return;
    case SQL_FLOAT: Result = mark + FloatToStr(ReadAs<float>(p)); return;
    case SQL_LONG: Result = mark + IntToStr(ReadAs<int32_t>(p)); return;
    case SQL_SHORT: Result = mark + IntToStr(ReadAs<int16_t>(p)); return;
    case SQL_INT64: Result = mark + IntToStr(ReadAs<int64_t>(p)); return;
    case SQL_TIMESTAMP: {
      const auto ts = ReadAs<ISC_TIMESTAMP>(p);
      std::string text = DateText(ts.timestamp_date);
      if (ts.timestamp_time != 0) text += " " + TimeText(ts.timestamp_time);
      Result = mark + "'" + text + "'";
      return;
    }
    case SQL_TYPE_TIME: Result = mark + "'" + TimeText(ReadAs<ISC_TIME>(p)) + "'"; return;
    case SQL_TYPE_DATE: Result = mark + "'" + DateText(ReadAs<ISC_DATE>(p)) + "'"; return;
    case SQL_BLOB:
      QuadText(ReadAs<ISC_QUAD>(p), q);
      Result = "BLOB ID " + q;
      return;
    case SQL_ARRAY:
      QuadText(ReadAs<ISC_QUAD>(p), q);
      Result = "ARRAY ID " + q;
      return;
    case SQL_QUAD:
      QuadText(ReadAs<ISC_QUAD>(p), q);
      Result = "QUAD " + q;
      return;
    default: Result = "UNKNOWN " + mark + HexText(Var); return;
  }
}

void DumpXSQLDA(const XSQLDA* DA, bool WithOwner, std::string& Result) {
  Result.clear();
  if (!DA) return;
  Result = " Version " + IntToStr(DA->version) + " SQLd " + IntToStr(DA->sqld) + " SQLn " + IntToStr(DA->sqln);
  const int count = std::min<int>(DA->sqld, DA->sqln);
  for (int i = 0; i < count; ++i) {
    const XSQLVAR& var = DA->sqlvar[i];
    std::string value;
    try {
      DumpXSQLVAR(var, value);
    } catch (const std::exception& e) {
      value = "<" + std::string(e.what()) + ">";
    }
    Result += "\r\n  " + Label(var, WithOwner) + " = " + value;
  }
}
