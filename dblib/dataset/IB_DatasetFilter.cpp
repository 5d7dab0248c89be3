// Filtering, row selection and incremental search of the buffered dataset.
#include "dblib/dataset/IB_DatasetFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "dblib/IB_CharSets.h"
#include "dblib/IB_Connection.h"
#include "dblib/IB_Constants.h"
#include "dblib/IB_DSQL.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/sql/IB_SearchBuffer.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_Row.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_Cursor.h"
#include "platform/Clock.h"
#include "platform/Forms.h"
#include "platform/Locale.h"
#include "platform/ScopeGuards.h"

namespace {

constexpr int32_t kNone = 0, kOctets = 1, kUnicodeFss = 3, kUTF8 = 4;

std::string_view TrimTrailingBlanks(std::string_view S) {
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  return S;
}

}  // namespace

bool IsSingleByteCharSet(int32_t CharSetId) { return CharSetBytesPerChar(CharSetId) == 1; }

int32_t CompareTextAsServer(int32_t CharSetId, std::string_view A, std::string_view B, bool CaseInsensitive) {
  CharSetId &= 0xFF;
  // The binary collations pad the shorter value; the named ones of the single-byte sets drop trailing
  // blanks and then count a shorter value as lower.
  const bool padded = CharSetId == kNone || CharSetId == kOctets || CharSetId == kUnicodeFss || CharSetId == kUTF8;
  if (!padded) {
    A = TrimTrailingBlanks(A);
    B = TrimTrailingBlanks(B);
  }
  const unsigned char pad = CharSetId == kOctets ? 0 : ' ';
  std::string upperA, upperB;
  if (CaseInsensitive && CharSetId != kOctets) {
    upperA = CharSetUpperCase(CharSetId, A);
    upperB = CharSetUpperCase(CharSetId, B);
    A = upperA;
    B = upperB;
  }
  const size_t n = std::max(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) {
    if (!padded && (i >= A.size() || i >= B.size())) return i >= A.size() ? -1 : 1;
    const unsigned char a = i < A.size() ? static_cast<unsigned char>(A[i]) : pad;
    const unsigned char b = i < B.size() ? static_cast<unsigned char>(B[i]) : pad;
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------------------
// TIB_BDataset: filter, selection by row and incremental search

namespace {

int16_t BaseType(const TIB_Column& C) { return static_cast<int16_t>(C.GetSQLType() & ~1); }
bool IsTextType(int16_t T) { return T == SQL_TEXT || T == SQL_VARYING; }

std::string HexOf(const uint8_t* P, int32_t Length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string r;
  for (int32_t i = 0; i < Length; ++i) r += kDigits[P[i] >> 4], r += kDigits[P[i] & 15];
  return r;
}

// The bytes of column Index in a node's packed record; false when the node holds no record or the value is
// null. The layout is the node list's: per column a 2-byte indicator, then (unless null) a VARCHAR's
// length word and bytes, or the declared length of bytes.
bool PackedValue(const TIB_Node* Node, const XSQLDA* Da, int Index, const uint8_t*& Data, size_t& Length) {
  if (!Node || !Node->RecordData || Node->RecordLength <= 0 || !Da) return false;
  const uint8_t* p = Node->RecordData;
  const uint8_t* end = p + Node->RecordLength;
  for (int i = 0; i < Da->sqld; ++i) {
    const XSQLVAR& v = Da->sqlvar[i];
    if (end - p < 2) return false;
    const auto ind = static_cast<int16_t>(p[0] | (p[1] << 8));
    p += 2;
    const bool null = (v.sqltype & 1) && ind == -1;
    size_t len = 0;
    const uint8_t* data = p;
    if (!null) {
      if ((v.sqltype & ~1) == SQL_VARYING) {
        if (end - p < 2) return false;
        len = static_cast<size_t>(p[0] | (p[1] << 8));
        data = p + 2;
        p += 2;
      } else {
        len = v.sqllen < 0 ? 0 : static_cast<size_t>(v.sqllen);
      }
      if (static_cast<size_t>(end - p) < len) return false;
      p += len;
    }
    if (i == Index) {
      Data = data;
      Length = len;
      return !null;
    }
  }
  return false;
}

// A packed number or date as a long double (dates and times as TDateTime).
long double PackedNumber(const XSQLVAR& V, const uint8_t* P) {
  auto scaled = [&](int64_t Raw) { return static_cast<long double>(Raw) * std::pow(10.0L, V.sqlscale); };
  switch (V.sqltype & ~1) {
    case SQL_SHORT: {
      int16_t x;
      std::memcpy(&x, P, 2);
      return scaled(x);
    }
    case SQL_LONG: {
      int32_t x;
      std::memcpy(&x, P, 4);
      return scaled(x);
    }
    case SQL_INT64: {
      int64_t x;
      std::memcpy(&x, P, 8);
      return scaled(x);
    }
    case SQL_FLOAT: {
      float x;
      std::memcpy(&x, P, 4);
      return x;
    }
    case SQL_DOUBLE: {
      double x;
      std::memcpy(&x, P, 8);
      return x;
    }
    case SQL_TYPE_DATE: {
      int32_t d;
      std::memcpy(&d, P, 4);
      return d - 15018;
    }
    case SQL_TYPE_TIME: {
      uint32_t t;
      std::memcpy(&t, P, 4);
      return t / 864000000.0L;
    }
    case SQL_TIMESTAMP: {
      ISC_TIMESTAMP ts;
      std::memcpy(&ts, P, 8);
      return IscTimestampToDateTime(ts);
    }
    default: return 0;
  }
}

}  // namespace

std::string OrderingSearchValue(TIB_Column& Column, const std::string& Text, bool Descending, bool& Drop,
                                int32_t ColumnCharSet) {
  Drop = false;
  const int16_t t = BaseType(Column);
  if (IsTextType(t)) {
    const int32_t charset = Column.GetSQLSubType() & 0xFF;
    const int32_t own = ColumnCharSet < 0 ? charset : ColumnCharSet & 0xFF;
    const bool unicode = charset == kUTF8 || charset == kUnicodeFss, ownUnicode = own == kUTF8 || own == kUnicodeFss;
    // The server compares a column with a value of another set in the single-byte one of the two: a
    // column of a Unicode set through a single-byte connection (or of another single-byte set) is bounded
    // in an order that is not the one it is sorted in, and no value bounds the rows the text starts: the
    // value is the empty text's, which keeps every row.
    const bool otherOrder = own != charset && !(unicode && (ownUnicode || IsSingleByteCharSet(own)));
    const auto len = static_cast<size_t>(std::max<int16_t>(Column.GetSQLLen(), 0));
    // The column holds maxLength characters (of up to len bytes together).
    const size_t maxLength = CharSetMaxLength(charset, len);
    std::string r =
        otherOrder ? std::string() : Text.substr(0, std::min(CharSetPrefixBytes(charset, Text, maxLength), len));
    if (Descending) {
      // The character of the values' set that sorts highest in the order the server bounds the column by
      // (0xFF is malformed UTF-8, which the server refuses; the highest code point is no character of a
      // single-byte set, and cannot be compared with its column).
      std::string high = CharSetHighestChar(charset, otherOrder ? charset : own);
      if (high.empty()) high = CharSetHighestChar(charset, charset);
      if (!high.empty()) {
        for (size_t length = CharSetTextLength(charset, r); length < maxLength && r.size() + high.size() <= len;
             ++length)
          r += high;
      }
    }
    // (Ascending text is not padded with NUL: the named collations drop trailing blanks and then count a
    // shorter value as lower, so 'b' + NULs would leave out the row 'b' itself.)
    return r;
  }
  if (!Trim(Text).empty()) return Text;
  const XSQLVAR& v = *Column.GetPSQLVAR();
  auto scaled = [&](const char* Max, const char* Min) {
    // The extreme of the stored integer, with the column's scale.
    std::string digits = Descending ? Max : Min;
    const int scale = -v.sqlscale;
    if (scale <= 0) return digits;
    const bool neg = digits[0] == '-';
    std::string body = neg ? digits.substr(1) : digits;
    body.insert(body.size() - static_cast<size_t>(scale), ".");
    return (neg ? "-" : "") + body;
  };
  switch (t) {
    case SQL_SHORT: return scaled("32767", "-32768");
    case SQL_LONG: return scaled("2147483647", "-2147483648");
    case SQL_INT64: return scaled("9223372036854775807", "-9223372036854775808");
    case SQL_FLOAT: return Descending ? "3.4e38" : "-3.4e38";
    case SQL_DOUBLE: return Descending ? "1.7976931348623157e308" : "-1.7976931348623157e308";
    case SQL_TYPE_DATE: return Descending ? "9999-12-31 00:00:00.0000" : "0001-01-01 00:00:00.0000";
    case SQL_TYPE_TIME: return Descending ? "1899-12-30 23:59:59.9999" : "1899-12-30 00:00:00.0000";
    case SQL_TIMESTAMP: return Descending ? "9999-12-31 23:59:59.9999" : "0001-01-01 00:00:00.0000";
    default: Drop = true; return {};
  }
}

void AssignOrderingSearchValue(TIB_Column& Param, const std::string& Value) {
  const int16_t t = BaseType(Param);
  unsigned y, m, d, hh, nn, ss, frac;
  char tail;
  if ((t == SQL_TYPE_DATE || t == SQL_TYPE_TIME || t == SQL_TIMESTAMP) &&
      std::sscanf(Value.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%4u%c", &y, &m, &d, &hh, &nn, &ss, &frac, &tail) == 7) {
    // Written straight into the parameter, so that the last ten-thousandth of a second is kept.
    ISC_TIMESTAMP ts = DateTimeToIscTimestamp(
        EncodeDate(static_cast<uint16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(d)));
    ts.timestamp_time = ((hh * 60 + nn) * 60 + ss) * 10000 + frac;
    Param.SetAsDateTime(IscTimestampToDateTime(ts));
    XSQLVAR& v = *Param.GetPSQLVAR();
    if (t == SQL_TIMESTAMP) std::memcpy(v.sqldata, &ts, sizeof ts);
    if (t == SQL_TYPE_DATE) std::memcpy(v.sqldata, &ts.timestamp_date, 4);
    if (t == SQL_TYPE_TIME) std::memcpy(v.sqldata, &ts.timestamp_time, 4);
    return;
  }
  if ((t == SQL_SHORT || t == SQL_LONG || t == SQL_INT64) && Param.GetSQLScale() == 0) {
    Param.SetAsInt64(StrToInt64(Value));
    return;
  }
  std::string text = Value;
  if (Param.GetIsNumericKind())
    for (char& c : text)
      if (c == '.') c = FormatSettings.DecimalSeparator;
  Param.SetAsString(text);
}

// ---- filter ------------------------------------------------------------------------------------------------

void TIB_BDataset::SetFilter(const std::string& Value) {
  if (Value == FFilter) return;
  FFilter = Value;
  if (FFiltered) {
    FilterChanged();
  } else if (FFilterCursor) {
    FFilterCursor->InvalidateSQL();
  }
}

TIB_Cursor* TIB_BDataset::GetFilterCursor() {
  if (!FFilterCursor) {
    FFilterCursor = new TIB_Cursor(this);
    FFilterCursor->SetIB_Connection(GetIB_Connection());
    FFilterCursor->SetIB_Transaction(GetIB_Transaction());
  }
  return FFilterCursor;
}

void TIB_BDataset::FreeFilterCursor() {
  if (FFilterCursor) FreeAndNil(FFilterCursor);
}

void TIB_BDataset::SetFiltered(bool Value) {
  if (Value == FFiltered) return;
  FFiltered = Value;
  FilterChanged();
}

void TIB_BDataset::SetFilterOptions(TIB_FilterOptions Value) {
  if (Value == FFilterOptions) return;
  FFilterOptions = Value;
  if (FFiltered) FilterChanged();
}

void TIB_BDataset::SetFilterPlan(const std::string& Value) {
  if (Value == FFilterPlan) return;
  FFilterPlan = Value;
  if (FFiltered) FilterChanged();
}

void TIB_BDataset::SetOnFilterRecord(TIB_FilterRecordEvent Value) {
  FOnFilterRecord = std::move(Value);
  if (FActive && !HasState(csLoading)) Refresh();
}

void TIB_BDataset::FilterChanged() {
  if (!FPrepared) return;
  InvalidateSQL();
  if (FActive) {
    Refresh();
  } else {
    Prepare();
  }
}

bool TIB_BDataset::FilterAccepts() {
  if (!FFiltered || !FOnFilterRecord) return true;
  bool accept = true;
  {
    TIB_AliveRestorer<bool> filtering(FAlive, FFilteringRecord, true);
    CallOutWatching(FOnFilterRecord, GetFields(), accept);
  }
  if (!accept && FSoughtKey) {
    // The refused row never reaches the buffer: a search for its key learns it here.
    std::vector<uint8_t> key;
    KeyFromKeyRow(key);
    if (key == *FSoughtKey) FSoughtRefused = true;
  }
  return accept;
}

void TIB_BDataset::DoPrepareSQL() {
  FreeFilterCursor();
  TIB_Dataset::DoPrepareSQL();
  if (!FFiltered || Trim(FFilter).empty()) return;
  // The filter needs the types of the columns it names. Before the first description the statement is
  // described once on its own, unfiltered, with the dataset's column attributes.
  std::unique_ptr<TIB_DSQL> described;
  TIB_Row* fields = GetFields();
  if (!fields || fields->GetColumnCount() == 0) {
    described = std::make_unique<TIB_DSQL>(nullptr);
    described->SetIB_Connection(GetIB_Connection());
    described->SetIB_Transaction(GetIB_Transaction());
    described->SetColumnAttributes(GetColumnAttributes());
    described->GetSQL().SetText(GetSQL().GetText());
    described->Prepare();
    fields = described->GetFields();
  }
  TIB_QBEColumn found;
  TStringList lines;
  FilterToSQL(
      FFilter, FFilterOptions,
      [&](const std::string& Name) -> const TIB_QBEColumn* {
        TIB_Column* c = nullptr;
        if (!fields->FindByName(Name, c)) return nullptr;
        found = QBEColumnOf(*c);
        return &found;
      },
      lines);
  // The WHERE builder takes parentheses as lines of their own: a closing one that touches a value goes
  // to a line of its own.
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines[i];
    int open = 0;
    char quote = 0;
    for (char ch : line) {
      if (quote) {
        if (ch == quote) quote = 0;
      } else if (ch == '\'' || ch == '"') {
        quote = ch;
      } else {
        open += ch == '(' ? 1 : ch == ')' ? -1 : 0;
      }
    }
    int extra = line == ")" ? 0 : -open;
    std::string tail;
    while (extra-- > 0 && !line.empty() && line.back() == ')') {
      line.pop_back();
      tail += ')';
    }
    GetAddedConditions().Add(Trim(line));
    for (char ch : tail) GetAddedConditions().Add(std::string(1, ch));
  }
}

bool TIB_BDataset::SysNeedPlan() { return TIB_Dataset::SysNeedPlan() || (FFiltered && !Trim(FFilterPlan).empty()); }

void TIB_BDataset::SysBuildPlan() {
  TIB_Dataset::SysBuildPlan();
  if (!FFiltered || Trim(FFilterPlan).empty()) return;
  std::string sql = GetSQL().GetText();
  SetSQLPlan(sql, "PLAN " + Trim(FFilterPlan));
  GetSQL().SetText(sql);
}

// ---- selection ---------------------------------------------------------------------------------------------

namespace {

// The node of visible row ARow: the current row's, else the buffer cursor moves there.
TIB_Node* RowNode(TIB_BDataset& D, TIB_NodeList& L, int32_t ARow) {
  if (L.IsEmpty() || ARow < 1) return nullptr;
  if (ARow != D.GetRowNum()) D.SetBufferRowNum(ARow);
  TIB_Node* n = ARow == D.GetRowNum() ? L.GetRowCursor().Node : L.GetBufferCursor().Node;
  return n && !n->IsSentinel() ? n : nullptr;
}

}  // namespace

bool TIB_BDataset::GetRowSelected(int32_t ARow) {
  const TIB_Node* n = RowNode(*this, *FNodeList, ARow);
  return n && n->Has(nfSelected);
}

void TIB_BDataset::SetRowSelected(int32_t ARow, bool Value) {
  TIB_Node* n = RowNode(*this, *FNodeList, ARow);
  if (!n) return;
  if (n->Has(nfSelected) == Value) IB_Raise<EIB_DatasetError>(IBMsg::InvalidRowNum);
  n->Flags = Value ? (n->Flags | nfSelected) : (n->Flags & static_cast<uint16_t>(~nfSelected));
  ProcessLinkEvent(sleRowSelectedChanged, ARow);
  if (OnRowSelectedChanged)
    CallOutWatching(OnRowSelectedChanged, this, ARow, HexOf(n->KeyData(), FNodeList->GetKeyLength()), Value);
}

void TIB_BDataset::SelectAll(bool Value) {
  FNodeList->SetAllSelected(Value);
  ProcessLinkEvent(sleRowSelectedChanged, -1);
  if (OnMultiSelect) CallOutWatching(OnMultiSelect, this);
}

void TIB_BDataset::SelectRange(int32_t AFrom, int32_t ATo, bool OthersToo, bool Value) {
  FNodeList->SetRangeSelected(std::min(AFrom, ATo), std::max(AFrom, ATo), OthersToo, Value);
  ProcessLinkEvent(sleRowSelectedChanged, -1);
  if (OnMultiSelect) CallOutWatching(OnMultiSelect, this);
}

// ---- incremental search ------------------------------------------------------------------------------------

TIB_Column* TIB_BDataset::OrderingColumn() {
  TIB_Column* c = nullptr;
  if (GetOrderingLink().empty() || !GetFields() || !GetFields()->FindByName(GetOrderingLink(), c)) return nullptr;
  return c;
}

namespace {

int32_t OrderingPos(TIB_BDataset& D) {
  std::string value;
  bool present = false;
  D.GetOrderingLinks().FindLinkAttribute(D.GetOrderingLink(), "POS", value, present);
  return present ? static_cast<int32_t>(StrToIntDef(Trim(value), 0)) : 0;
}

}  // namespace

bool TIB_BDataset::IncSearchKey(char Key, bool SearchNow, bool SeekNearest, bool Timed) {
  const auto k = static_cast<unsigned char>(Key);
  constexpr unsigned char kBack = 8, kTab = 9, kReturn = 13, kEscape = 27;
  if (k < 32 && k != kBack && k != kTab && k != kReturn && k != kEscape) return false;
  const uint64_t now = GetTickCount64();
  bool cleared = false;
  if (Timed && !GetFetching() && k != kTab && k != kReturn && now - FLastKeyTicks > FIncSearchKeyInt) {
    cleared = !FIncSearchText.empty();
    FIncSearchText.clear();
    FMatchNumber = 0;
  }
  const bool printable = k >= 32;
  if (FIncSearchText.empty() && !cleared && printable) {
    // A new search moves the dataset: the scroll bracket begins (a pending edit is posted).
    FMatchNumber = 0;
    SysBeginScroll();
  }
  int32_t startAt = 1;
  bool result = false;
  switch (k) {
    case kBack:
      if (!FIncSearchText.empty()) FIncSearchText.pop_back();
      break;
    case kTab:
    case kReturn:
      result = IncSearchString(FIncSearchText, 1, SeekNearest);
      if (k == kReturn && result && !Timed) {
        FIncSearchText.clear();
        FMatchNumber = 0;
      }
      FLastKeyTicks = now;
      return result;
    case kEscape:
      FIncSearchText.clear();
      FMatchNumber = 0;
      AbortFetching();
      break;
    default:
      if (!FIncSearchText.empty() && FMatchNumber >= 1) startAt = FMatchNumber;
      FIncSearchText += Key;
  }
  FLastKeyTicks = now;
  TIB_Column* c = OrderingColumn();
  if (!c) return false;
  const int32_t pos = OrderingPos(*this);
  if (!IsTextType(BaseType(*c)) && (!c->GetIsNumericKind() || pos < 1)) return false;
  if (CharSetTextLength(c->GetSQLSubType(), FIncSearchText) < static_cast<size_t>(std::max(pos, 0))) return false;
  if (SearchNow && !FIncSearchText.empty())
    result = IncSearchString(FIncSearchText, startAt, SeekNearest);
  else
    result = true;
  FLastKeyTicks = GetTickCount64();
  return result;
}

void TIB_BDataset::IncSearchClear() {
  IncSearchKey(27, false, false, false);
  FLastSearchText.clear();
}

bool TIB_BDataset::IncSearchString(const std::string& Text, int32_t StartAtMatch, bool SeekNearest) {
  TIB_Column* c = OrderingColumn();
  if (!c || (FSearchNesting == 0 && GetFetching())) IB_Raise<EIB_DatasetError>(IBMsg::UnableToPerformSearch);
  // A text that is no text of the column's values' set (malformed UTF-8) starts no value: nothing is found
  // and the dataset stays where it is.
  if (IsTextType(BaseType(*c)) && !CharSetTextWellFormed(c->GetSQLSubType(), Text)) return false;
  FFoundRow = 0;
  FSeekPosition = std::max(StartAtMatch, 1) - 1;
  // With a position condition on the ordering link the dataset first restarts at the text (cut to POS
  // characters) on the server, when it does not start there already.
  std::string bare;
  StripQuotes(GetOrderingLink(), bare);
  TIB_Column* param = nullptr;
  if (!Text.empty() && FSearchNesting == 0 && GetParams() && GetParams()->FindByName("OLNK_" + bare, param)) {
    std::string at = Text;
    const int32_t pos = OrderingPos(*this);
    // POS counts characters; a NOCASE column's restart value is upper-cased as the engine's UPPER() does.
    if (IsTextType(BaseType(*c)) && pos >= 1)
      at.resize(CharSetPrefixBytes(c->GetSQLSubType(), at, static_cast<size_t>(pos)));
    if (c->HasAttribute("NOCASE")) at = CharSetUpperCase(c->GetSQLSubType(), at);
    bool drop = false;
    if (param->GetIsNull() ||
        param->GetAsString() != OrderingSearchValue(*c, at, GetOrderingItemNo() < 0, drop, OrderingCharSet(*c))) {
      SetOrderingSearchText(at);
      FSeekPosition = 0;
    }
  }
  // The search fetches rows (their callbacks may destroy the dataset): its counts and brackets end
  // only while the dataset lives.
  TDatasetOperation search(this);
  ++FSearchNesting;
  search.AtEnd([this] { --FSearchNesting; });
  const int32_t serial = ++FSearchSerial;
  FLastKeyTicks = GetTickCount64();
  FLastSearchText = Text;
  bool matched = false;
  {
    TDatasetOperation fetching(this);
    fetching.Fetching();
    fetching.Run([&] {
      if (Text.empty()) {
        FFoundRow = 1;
      } else {
        matched = Seek(Text, c, SeekNearest);
      }
    });
    fetching.End();
  }
  // A search started meanwhile has the last word.
  if (FSearchNesting > 1 || serial != FSearchSerial) return search.Ended(false);
  search.AtEnd(nullptr);
  --FSearchNesting;
  if (FFoundRow == 0) {
    if (FMatchNumber > 0) ProcessLinkEvent(sleIncSearchMatch, FMatchNumber);
    return false;
  }
  if (FFoundRow != GetRowNum()) {
    SetRowNum(FFoundRow);
  } else {
    ProcessLinkEvent(sleIncSearchMatch, FFoundRow);
  }
  return matched;
}

bool TIB_BDataset::Seek(const std::string& AText, TIB_Column* Column, bool SeekNearest) {
  const int32_t serial = FSearchSerial;
  FMatchNumber = FSeekPosition;
  std::string text = AText;
  if (Column->GetCharCase() == 1) text = UpperCase(text);
  if (Column->GetCharCase() == 2) text = LowerCase(text);
  const int16_t type = BaseType(*Column);
  const bool isText = IsTextType(type);
  const bool numeric = Column->GetIsNumericKind() && !isText;
  const bool dateTime = Column->GetIsDateTimeKind();
  const int32_t charset = Column->GetSQLSubType() & 0xFF;
  const bool caseInsensitive = Column->HasAttribute("NOCASE");
  // The server orders the column in its own character set: where the connection hands its values over in
  // another, both sides are compared as converted back into it (a value that does not convert is
  // compared as it came).
  const int32_t stored = isText ? StoredCharSet(*Column) : charset;
  std::string key = text;
  int32_t keySet = charset;
  if (stored != charset && CharSetConvert(charset, stored, text, key)) keySet = stored;
  if (caseInsensitive) key = CharSetUpperCase(keySet, key);
  const size_t keyLength = CharSetTextLength(keySet, key);
  std::string value;
  const bool descending = GetOrderingItemNo() < 0;
  TIB_Connection* conn = GetIB_Connection();
  const TIB_CompareTextEvent customText = conn ? conn->OnCustomCompareText : nullptr;
  const TIB_CompareTextEvent customStr = conn ? conn->OnCustomCompareStr : nullptr;
  // The hooks are the connection's: one that destroyed the dataset or the connection ends the search.
  const TIB_AliveFlag alive = FAlive, connection = conn ? conn->GetAlive() : FAlive;
  long double target = 0;
  if (numeric) target = StrToFloat(text);
  if (dateTime) target = StrToDateTime(text);
  const XSQLDA* da = GetFields()->GetPSQLDA();
  const XSQLVAR& var = *Column->GetPSQLVAR();
  const int index = Column->GetFieldNo();
  // The sign of the row's value against the text (+1: the row's value is greater); nulls sort first.
  auto compare = [&](int32_t Row, bool Partial) {
    TIB_NodeList::TCursor at = FNodeList->LocateVisibleRow(Row);
    // In keys-only mode a row not shown yet holds only its key: it is read by its key first.
    if (at.Node && !at.Node->IsSentinel() && at.Node->RecordLength == 0 && !at.Node->Has(nfInserted)) {
      SysFetchRowRange(Row, Row);
      at = FNodeList->LocateVisibleRow(Row);
    }
    const uint8_t* data = nullptr;
    size_t len = 0;
    if (!PackedValue(at.Node, da, index, data, len)) return -1;
    if (isText) {
      std::string_view v(reinterpret_cast<const char*>(data), len);
      // The connection's own comparison when it has one, else the server's order.
      const TIB_CompareTextEvent& hook = caseInsensitive ? customText : customStr;
      if (hook) {
        if (Partial && v.size() > text.size()) v = v.substr(0, text.size());
        // Taken as a copy above.
        const int32_t sign = hook(Column, std::string(v), text);
        IB_CheckAlive(alive);
        IB_CheckAlive(connection);
        return static_cast<int>(sign);
      }
      if (keySet != charset) {
        if (!CharSetConvert(charset, keySet, v, value)) {
          if (Partial) v = v.substr(0, CharSetPrefixBytes(charset, v, CharSetTextLength(charset, text)));
          return CompareTextAsServer(charset, v, text, caseInsensitive);
        }
        v = value;
      }
      if (caseInsensitive) {
        value = CharSetUpperCase(keySet, v);
        v = value;
      }
      // The row's value is cut to as many characters as the text has.
      if (Partial && v.size() > key.size()) v = v.substr(0, CharSetPrefixBytes(keySet, v, keyLength));
      return CompareTextAsServer(keySet, v, key, false);
    }
    if (numeric || dateTime) {
      const long double x = PackedNumber(var, data);
      return x < target ? -1 : x > target ? 1 : 0;
    }
    return 0;
  };
  const uint64_t started = GetTickCount64();
  int32_t pos = FSeekPosition, step = 1, moves = 0;
  // Steps grow tenfold up to 100 while rows may still have to be fetched (a longer step would fetch rows
  // the search may not need); over a complete buffer nothing is fetched, and they grow up to 10000.
  const int32_t maxStep = FCursorDone ? 10000 : 100;
  if (GetBufferCount() > 1000 || !GetBufferAtEnd()) step = 10;
  while (true) {
    if (FAbort) return false;
    if (FIncSearchSeekInt != 0 && GetTickCount64() - started >= FIncSearchSeekInt) {
      MessageBeep(0);
      if (SeekNearest && pos > 0) FFoundRow = pos;
      AbortFetching();
      return false;
    }
    const int32_t next = pos + step;
    if (next > GetBufferCount()) FetchUntil(next);
    if (next > GetBufferCount()) {
      if (step > 1) {
        step /= 10;
        moves = 0;
        continue;
      }
      if (SeekNearest && pos > 0) FFoundRow = pos;
      return false;
    }
    // A text is compared by its first characters at every step: in descending order the whole value of
    // a row that starts with the text sorts above it, and the long steps would pass over the rows it
    // starts.
    const int cmp = compare(next, isText);
    const bool before = descending ? cmp > 0 : cmp < 0;
    if (before) {
      pos = next;
      if (pos >= FMatchNumber) FMatchNumber = pos + 1;
      if (++moves >= std::min(GetBufferCount(), 10) && step < maxStep) {
        step *= 10;
        moves = 0;
      }
      // Between rounds the application's messages run (a key typed meanwhile starts a nested search,
      // which takes over); the callback settings may forbid it.
      if (FCallbackInc >= 0) {
        ProcessCallbackMessages();
        // A newer search ends this one: its result would be given up anyway.
        if (serial != FSearchSerial) return false;
      }
      continue;
    }
    if (step > 1) {
      step /= 10;
      moves = 0;
      continue;
    }
    if (cmp == 0) {
      FFoundRow = next;
      return true;
    }
    if (SeekNearest) FFoundRow = next;
    return false;
  }
}

int32_t TIB_BDataset::StoredCharSet(TIB_Column& Column) {
  const int32_t transport = Column.GetSQLSubType() & 0xFF;
  TIB_Connection* conn = GetIB_Connection();
  const std::string relation = Column.GetRelName(), name = Column.GetSQLName();
  // Under NONE (or no character set) the values travel in their columns' own sets; an expression has no
  // set of its own to look up.
  const std::string connSet = conn ? UpperCase(Trim(conn->GetCharSet())) : std::string();
  if (connSet.empty() || connSet == "NONE" || relation.empty() || name.empty() || !GetIB_Transaction()) return transport;
  const std::string of = conn->GetDatabaseName() + "|" + relation + "." + name;
  if (of == FStoredCharSetOf) return FStoredCharSet;
  auto* q = new TIB_DSQL(nullptr);
  std::unique_ptr<TIB_DSQL> owned(q);
  q->SetIB_Connection(conn);
  q->SetIB_Transaction(GetIB_Transaction());
  q->GetSQL().SetText(
      "SELECT F.RDB$CHARACTER_SET_ID FROM RDB$RELATION_FIELDS R JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = "
      "R.RDB$FIELD_SOURCE WHERE R.RDB$RELATION_NAME = ? AND R.RDB$FIELD_NAME = ?");
  q->Prepare();
  q->GetParams()->GetColumns(0)->SetAsString(relation);
  q->GetParams()->GetColumns(1)->SetAsString(name);
  q->Execute();
  TIB_Column* id = q->GetFields()->GetColumns(0);
  const int32_t stored = id->GetIsNull() ? transport : id->GetAsInteger() & 0xFF;
  FStoredCharSetOf = of;
  FStoredCharSet = stored;
  return stored;
}

int32_t TIB_BDataset::OrderingCharSet(TIB_Column& Column) {
  return IsTextType(BaseType(Column)) ? StoredCharSet(Column) : -1;
}

std::string TIB_BDataset::GetOrderingColumnText() {
  TIB_Column* c = OrderingColumn();
  if (!c || c->GetIsNull()) return {};
  std::string s = c->GetAsString();
  const int16_t t = BaseType(*c);
  if (IsTextType(t)) {
    const int32_t pos = OrderingPos(*this);
    if (pos >= 1) s.resize(CharSetPrefixBytes(c->GetSQLSubType(), s, static_cast<size_t>(pos)));
    while (!s.empty() && s.back() == '\xFF') s.pop_back();
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
  }
  // The sentinels of an empty search text read back as empty.
  if ((t == SQL_SHORT || t == SQL_LONG || t == SQL_INT64) && c->GetSQLScale() == 0) {
    for (bool descending : {false, true}) {
      bool drop = false;
      if (s == OrderingSearchValue(*c, "", descending, drop)) return {};
    }
  }
  return s;
}

void TIB_BDataset::SetOrderingSearchText(const std::string& Text) {
  TIB_Column* c = OrderingColumn();
  if (!c) return;
  bool drop = false;
  const std::string value = OrderingSearchValue(*c, Text, GetOrderingItemNo() < 0, drop, OrderingCharSet(*c));
  std::string bare;
  StripQuotes(GetOrderingLink(), bare);
  TIB_Column* param = nullptr;
  if (drop || !GetParams() || !GetParams()->FindByName("OLNK_" + bare, param)) return;
  FOrderingSearchText = Text;
  FOrderingSearchLink = GetOrderingLink();
  if (!param->GetIsNull() && param->GetAsString() == value && IsTextType(BaseType(*c))) return;
  const bool wasActive = FActive;
  if (wasActive) Close();
  AssignOrderingSearchValue(*param, value);
  if (wasActive) Open();
  FMatchNumber = 0;
  FSeekPosition = 0;
}

void TIB_BDataset::SysClearFieldBuffers() {
  TIB_Dataset::SysClearFieldBuffers();
  if (FOrderingSearchLink.empty() || !SameText(FOrderingSearchLink, GetOrderingLink())) return;
  TIB_Column* c = OrderingColumn();
  if (!c || !GetParams()) return;
  std::string bare;
  StripQuotes(GetOrderingLink(), bare);
  TIB_Column* param = nullptr;
  if (!GetParams()->FindByName("OLNK_" + bare, param)) return;
  // The value for the order as it is now: an empty text bounds the rows from the other end when the
  // direction changed.
  bool drop = false;
  const std::string value =
      OrderingSearchValue(*c, FOrderingSearchText, GetOrderingItemNo() < 0, drop, OrderingCharSet(*c));
  if (drop) return;
  if (param->GetIsNull() || param->GetAsString() != value) AssignOrderingSearchValue(*param, value);
}
