#include "dblib/data/IB_Row.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cctype>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Errors.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_ColumnTypes.h"
#include "dblib/data/IB_RowNames.h"
#include "platform/ScopeGuards.h"

namespace {

// Length of the nameless VARCHAR that stands in for a parameter the server describes without a type.
constexpr int16_t kNullParamLength = 255;

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}

std::array<TIB_ColumnCreator, TIB_ColumnClassCount>& Registry() {
  // Starts with the library's scalar column classes; the blob and array classes register their own.
  static std::array<TIB_ColumnCreator, TIB_ColumnClassCount> creators = [] {
    std::array<TIB_ColumnCreator, TIB_ColumnClassCount> initial;
    for (int i = 0; i < TIB_ColumnClassCount; ++i) initial[i] = TypedColumnCreator(static_cast<TIB_ColumnClass>(i));
    return initial;
  }();
  return creators;
}

int BaseType(const XSQLVAR& Var) { return Var.sqltype & ~1; }

void WriteInd(uint8_t* Buffer, size_t Offset, int16_t Value) { std::memcpy(Buffer + Offset, &Value, 2); }

// Calls EndUpdate when an exception leaves a BeginUpdate bracket early.
class TUpdateBracket {
public:
  explicit TUpdateBracket(TIB_Row& Row) : FRow(Row) { FRow.BeginUpdate(); }
  void End() {
    FEnded = true;
    FRow.EndUpdate(true);
  }
  ~TUpdateBracket() {
    if (!FEnded) {
      // Unwinding: only the count is restored; no notices fire from a destructor.
      FRow.EndUpdateSilently();
    }
  }

private:
  TIB_Row& FRow;
  bool FEnded = false;
};

}  // namespace

TIB_ColumnCreator RegisterColumnClass(TIB_ColumnClass Class, TIB_ColumnCreator Creator) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  TIB_ColumnCreator previous = std::move(Registry()[static_cast<size_t>(Class)]);
  Registry()[static_cast<size_t>(Class)] = std::move(Creator);
  return previous;
}

TIB_Row::TIB_Row(TIB_RowStatement* AStatement, uint8_t ARowType)
    : FStatement(AStatement), FRowType(ARowType), FRelationNames(std::make_unique<TStringList>()) {
  FRelationNames->SetSorted(true);
  FRelationNames->SetDuplicates(dupIgnore);
}

TIB_Row::~TIB_Row() {
  FAlive.Clear();
  FreeBlobNodeList(FBlobNodeList);
  ClearDescription();
}

// ---- description ----------------------------------------------------------------------------------

void TIB_Row::ClearDescription() {
  for (auto& node : FBlobNodes) ResetBlobNode(node);
  FBlobNodes.clear();
  FBlobIndex.clear();
  FChangedColumns.clear();
  FArrayColumns.clear();
  FBlobColumns.clear();
  FCalculatedColumns.clear();
  FVarColumns.clear();
  FColumns.clear();
  FArrayCount = FBlobCount = FCalculatedCount = FHiddenParamCount = 0;
  FRelationNames->Clear();
  FNamesIndexed = false;
  FPSQLDA = nullptr;
  FSQLDAMemory.reset();
  FRecordLength = 0;
  FLayoutStamp = 0;
  FRecordBuffer.reset();
  FOldRecordBuffer.reset();
  FOldPending = false;
}

void TIB_Row::AllocateXSQLDA(int N) {
  ClearDescription();
  if (N < 0) N = 0;
  int calculated = 0;
  if (N > 0 && FRowType == rtFields && (!FIsKeyRow || FKeyRowCalculated)) {
    calculated = FStatement->GetCalculatedFields().Count();
  }
  const int total = N + calculated;
  // The client counts a row's XSQLVARs in 16 bits.
  if (total > INT16_MAX) IB_Raise<EIB_StatementError>(IBMsg::TooManyColumns, {int64_t(total), int64_t(INT16_MAX)});
  FCalculatedCount = static_cast<uint16_t>(calculated);
  // The header is the XSQLDA without its first XSQLVAR; sized like XSQLDA_LENGTH without its n - 1.
  const size_t length = sizeof(XSQLDA) - sizeof(XSQLVAR) + static_cast<size_t>(std::max(total, 1)) * sizeof(XSQLVAR);
  FSQLDAMemory.reset(new std::byte[length]());
  FPSQLDA = reinterpret_cast<XSQLDA*>(FSQLDAMemory.get());
  FPSQLDA->version = SQLDA_VERSION1;
  FPSQLDA->sqln = static_cast<ISC_SHORT>(total);
  FPSQLDA->sqld = static_cast<ISC_SHORT>(N);
  if (N > 0) {
    try {
      FStatement->SysDescribeFields(*this);
      TParamGroups groups;
      if (FRowType == rtParams) {
        groups = GroupParamsByName(N);
        ConvertNullTypeParams(groups);
        UnifyParams(groups);
      }
      // Calculated XSQLVARs are read from their definitions before anything counts or lays out.
      const TStrings& defs = FStatement->GetCalculatedFields();
      for (int k = 0; k < calculated; ++k) {
        XSQLVAR& var = FPSQLDA->sqlvar[N + k];
        XSQLVARFromDefString(defs.Get(k), FStatement->GetSQLDialect(), var);
      }
      AllocateBlobNodes(total);
      FVarColumns.assign(static_cast<size_t>(total), nullptr);
      for (int i = 0; i < N; ++i) {
        TIB_Column* shared = nullptr;
        if (FRowType == rtParams && SharesParamColumn(groups, i, shared)) {
          FVarColumns[i] = shared;
          continue;
        }
        AddColumn(static_cast<int16_t>(i), &FPSQLDA->sqlvar[i]);
      }
      for (int k = 0; k < calculated; ++k) AddColumn(static_cast<int16_t>(-k - 1), &FPSQLDA->sqlvar[N + k]);
      for (auto& col : FColumns) {
        const std::string rel = col->GetRelName();
        if (!rel.empty()) FRelationNames->Add(rel);
      }
      NameColumns();
      FNamesIndexed = false;
      LayoutBuffers(N);
      InitBuffers();
    } catch (...) {
      ClearDescription();
      throw;
    }
  }
  if (FRowState != rsNone) SetRowState(rsNone);
}

TIB_Row::TParamGroups TIB_Row::GroupParamsByName(int N) const {
  // Each name is spelled once; names compare as FindByName compares them.
  const int dialect = FStatement->GetSQLDialect();
  TParamGroups groups;
  groups.GroupOf.resize(static_cast<size_t>(N));
  std::unordered_map<std::string, int> ids;
  ids.reserve(static_cast<size_t>(N));
  for (int i = 0; i < N; ++i) {
    const XSQLVAR& v = FPSQLDA->sqlvar[i];
    std::string key = FormatSQLName(dialect, XSQLVARText(v.aliasname, v.aliasname_length));
    if (dialect < 3) key = UpperCase(key);
    const auto [it, added] = ids.emplace(std::move(key), static_cast<int>(groups.Members.size()));
    if (added) groups.Members.emplace_back();
    groups.GroupOf[static_cast<size_t>(i)] = it->second;
    groups.Members[static_cast<size_t>(it->second)].push_back(i);
  }
  return groups;
}

bool TIB_Row::ParamsCanShare(const XSQLVAR& A, const XSQLVAR& B) {
  // One value feeds all occurrences, so the scale must agree as well as the type.
  return SQLTypesCompatible(A.sqltype, B.sqltype) && A.sqlscale == B.sqlscale;
}

void TIB_Row::ConvertNullTypeParams(const TParamGroups& Groups) {
  // Firebird describes a parameter whose type the statement does not fix (as in "? IS NULL") with the
  // type SQL_NULL. It takes the description of the first same-named typed parameter, else a VARCHAR.
  const int n = static_cast<int>(Groups.GroupOf.size());
  for (int i = 0; i < n; ++i) {
    XSQLVAR& var = FPSQLDA->sqlvar[i];
    if (BaseType(var) != SQL_NULL) continue;
    const XSQLVAR* model = nullptr;
    for (int j : Groups.Members[static_cast<size_t>(Groups.GroupOf[static_cast<size_t>(i)])]) {
      if (j != i && BaseType(FPSQLDA->sqlvar[j]) != SQL_NULL) {
        model = &FPSQLDA->sqlvar[j];
        break;
      }
    }
    if (model) {
      var.sqltype = static_cast<ISC_SHORT>(BaseType(*model) | 1);
      var.sqlscale = model->sqlscale;
      var.sqlsubtype = model->sqlsubtype;
      var.sqllen = model->sqllen;
    } else {
      var.sqltype = SQL_VARYING | 1;
      var.sqlscale = 0;
      var.sqlsubtype = 0;
      var.sqllen = kNullParamLength;
    }
  }
}

void TIB_Row::UnifyParams(const TParamGroups& Groups) {
  // Every pair of same-named parameters, in order: the larger description wins.
  const int n = static_cast<int>(Groups.GroupOf.size());
  for (int i = 0; i < n; ++i) {
    for (int j : Groups.Members[static_cast<size_t>(Groups.GroupOf[static_cast<size_t>(i)])]) {
      if (j <= i) continue;
      XSQLVAR& a = FPSQLDA->sqlvar[i];
      XSQLVAR& b = FPSQLDA->sqlvar[j];
      if (!ParamsCanShare(a, b)) continue;
      const bool nullable = ((a.sqltype | b.sqltype) & 1) != 0;
      if (a.sqllen > b.sqllen) {
        b = a;
      } else if (b.sqllen > a.sqllen) {
        a = b;
      }
      // Shared occurrences send the null indicator alike only when all of them are nullable.
      if (nullable) {
        a.sqltype |= 1;
        b.sqltype |= 1;
      }
    }
  }
}

bool TIB_Row::SharesParamColumn(const TParamGroups& Groups, int VarIndex, TIB_Column*& Shared) const {
  Shared = nullptr;
  for (int j : Groups.Members[static_cast<size_t>(Groups.GroupOf[static_cast<size_t>(VarIndex)])]) {
    if (j >= VarIndex) break;
    TIB_Column* col = FVarColumns[static_cast<size_t>(j)];
    if (!col || col->GetFieldNo() != j) continue;
    if (ParamsCanShare(FPSQLDA->sqlvar[VarIndex], FPSQLDA->sqlvar[j])) {
      Shared = col;
      return true;
    }
  }
  return false;
}

void TIB_Row::AddColumn(int16_t FieldNo, XSQLVAR* Var) {
  TIB_Column* created = nullptr;
  if (!FStatement->DoCreateColumn(*this, FieldNo, *Var, created)) created = CreateColumnForType(FieldNo, Var);
  if (!created) IB_Raise<EIB_Error>(IBMsg::MustCreateATIB_ColumnInstance);
  std::unique_ptr<TIB_Column> col(created);
  const size_t varIndex = FieldNo >= 0 ? static_cast<size_t>(FieldNo)
                                       : static_cast<size_t>(FPSQLDA->sqld) + static_cast<size_t>(-FieldNo - 1);
  FVarColumns[varIndex] = created;
  bool hidden = false;
  if (FRowType == rtParams) {
    std::string name;
    StripQuotes(created->GetColumnName(), name);
    hidden = CompareText(name.substr(0, 5), "MLNK_") == 0 || CompareText(name.substr(0, 4), "QBE_") == 0;
  }
  if (hidden) {
    FColumns.push_back(std::move(col));
    ++FHiddenParamCount;
  } else {
    FColumns.insert(FColumns.end() - FHiddenParamCount, std::move(col));
  }
  if (FieldNo < 0) FCalculatedColumns.push_back(created);
  const int type = BaseType(*Var);
  if (type == SQL_BLOB) FBlobColumns.push_back(created);
  if (type == SQL_ARRAY) FArrayColumns.push_back(created);
}

void TIB_Row::NameColumns() {
  const size_t n = FColumns.size();
  std::vector<std::string> unique(n), shortNames(n);
  for (size_t i = 0; i < n; ++i) {
    unique[i] = FColumns[i]->GetColumnName();
    if (unique[i].empty()) unique[i] = "COLUMN" + std::to_string(i);
    shortNames[i] = unique[i].substr(0, 10);
  }
  const std::vector<std::string> bases = unique;
  MakeNamesUnique(unique, bases, 31);
  MakeNamesUnique(shortNames, bases, 10);
  for (size_t i = 0; i < n; ++i) {
    FColumns[i]->FUniqueName = unique[i];
    FColumns[i]->FShortName = shortNames[i];
  }
}

void TIB_Row::LayoutBuffers(int N) {
  static std::atomic<uint64_t> stamps{0};
  FLayoutStamp = ++stamps;
  size_t length = 0;
  for (auto& col : FColumns) length += col->DataSize() + 2;
  FRecordLength = length;
  if (length > 0) {
    FRecordBuffer.reset(new uint8_t[length]());
    FOldRecordBuffer.reset(new uint8_t[length]());
  }
  FOldPending = false;
  size_t pos = 0;
  auto place = [&](TIB_Column* col) {
    XSQLVAR* var = col->GetPSQLVAR();
    col->FOffset = pos;
    col->FSlot = FRecordBuffer.get() + pos;
    col->FOldSlot = FOldRecordBuffer.get() + pos;
    var->sqlind = reinterpret_cast<ISC_SHORT*>(FRecordBuffer.get() + pos);
    var->sqldata = reinterpret_cast<ISC_SCHAR*>(FRecordBuffer.get() + pos + 2);
    pos += 2 + col->DataSize();
  };
  for (int i = 0; i < N; ++i) {
    TIB_Column* col = FVarColumns[i];
    if (col && col->GetFieldNo() == i) place(col);
  }
  for (TIB_Column* col : FCalculatedColumns) place(col);
  // Further occurrences of a shared parameter read the one value of its column.
  for (int i = 0; i < N; ++i) {
    TIB_Column* col = FVarColumns[i];
    if (!col || col->GetFieldNo() == i) continue;
    FPSQLDA->sqlvar[i].sqlind = col->GetPSQLVAR()->sqlind;
    FPSQLDA->sqlvar[i].sqldata = col->GetPSQLVAR()->sqldata;
  }
}

void TIB_Row::InitBuffers() {
  if (FRecordLength == 0) return;
  std::memset(FRecordBuffer.get(), 0, FRecordLength);
  for (auto& col : FColumns) WriteInd(FRecordBuffer.get(), col->FOffset, -1);
  std::memcpy(FOldRecordBuffer.get(), FRecordBuffer.get(), FRecordLength);
  FOldPending = false;
}

void TIB_Row::CopyOldValues() const noexcept {
  FOldPending = false;
  std::memcpy(FOldRecordBuffer.get(), FRecordBuffer.get(), FRecordLength);
}

void TIB_Row::AssignParamNames() {
  if (!FPSQLDA) return;
  const int dialect = FStatement->GetSQLDialect();
  const TStrings& names = FStatement->GetParamNames();
  const int scanned = FStatement->GetParamNameCount();
  for (int i = 0; i < FPSQLDA->sqld; ++i) {
    XSQLVAR& var = FPSQLDA->sqlvar[i];
    std::memset(var.sqlname, 0, sizeof(var.sqlname));
    std::memset(var.relname, 0, sizeof(var.relname));
    std::memset(var.aliasname, 0, sizeof(var.aliasname));
    var.sqlname_length = -1;
    var.relname_length = -1;
    var.aliasname_length = 0;
    std::string name;
    if (i < names.Count()) {
      name = Trim(names.Get(i));
    } else if (scanned < 1 || i - scanned >= names.Count()) {
      name = "PARAM_" + std::to_string(i);
    } else {
      name = Trim(names.Get(i - scanned));
    }
    std::string rel;
    const int dot = CharPosOutsideQuotes('.', name, 1);
    if (dot > 0) {
      rel = name.substr(0, static_cast<size_t>(dot - 1));
      name = name.substr(static_cast<size_t>(dot));
    }
    auto normalize = [dialect](std::string part) {
      if (dialect < 3 || part.find('"') == std::string::npos) part = UpperCase(part);
      std::string stripped;
      StripQuotes(part, stripped);
      return stripped;
    };
    name = normalize(name);
    if (CompareText(name, "DB_KEY") == 0) name = "RDB$DB_KEY";
    SetXSQLVARText(var.aliasname, var.aliasname_length, name);
    if (dot > 0) SetXSQLVARText(var.relname, var.relname_length, normalize(rel));
  }
}

// ---- column factory -------------------------------------------------------------------------------

TIB_ColumnClass TIB_Row::ChooseColumnClass(const XSQLVAR& Var, TIB_ColumnOptions& Options) {
  Options = TIB_ColumnOptions{};
  const int type = BaseType(Var);
  const int dialect = FStatement->GetSQLDialect();
  // The column's attribute text: under RELATION.ALIAS first, then under the alias alone.
  auto hasWord = [&](const char* Word) {
    const std::string alias = XSQLVARText(Var.aliasname, Var.aliasname_length);
    const std::string rel = XSQLVARText(Var.relname, Var.relname_length);
    std::string aliasIdent;
    MakeSQLIdent(dialect, alias, aliasIdent);
    if (!rel.empty()) {
      std::string relIdent;
      MakeSQLIdent(dialect, rel, relIdent);
      const std::string text =
          UpperCase(Trim(FStatement->GetColumnAttributesValue(alStatement, relIdent + "." + aliasIdent)));
      if (text.find(Word) != std::string::npos) return true;
    }
    const std::string text = UpperCase(Trim(FStatement->GetColumnAttributesValue(alStatement, aliasIdent)));
    return text.find(Word) != std::string::npos;
  };
  const bool scaled = Var.sqlscale != 0;
  switch (type) {
    case SQL_DOUBLE:
    case SQL_LONG:
    case SQL_SHORT:
    case SQL_QUAD:
    case SQL_INT64:
      if (scaled) {
        if (type == SQL_DOUBLE && hasWord("NOROUNDERR")) Options.NoRoundErr = true;
        return TIB_ColumnClass::Numeric;
      }
      break;
    default: break;
  }
  switch (type) {
    case SQL_VARYING: return TIB_ColumnClass::VarText;
    case SQL_TEXT: {
      const std::string sqlName = XSQLVARText(Var.sqlname, Var.sqlname_length);
      if (sqlName == "DB_KEY" || sqlName == "RDB$DB_KEY") return TIB_ColumnClass::DB_KEY;
      return TIB_ColumnClass::Text;
    }
    case SQL_DOUBLE:
      if (hasWord("CURR")) return TIB_ColumnClass::Curr;
      if (hasWord("COMP")) return TIB_ColumnClass::Comp;
      return TIB_ColumnClass::Double;
    case SQL_FLOAT: return TIB_ColumnClass::Float;
    case SQL_LONG: return TIB_ColumnClass::Integer;
    case SQL_SHORT: return TIB_ColumnClass::SmallInt;
    case SQL_TIMESTAMP: return TIB_ColumnClass::TimeStamp;
    case SQL_BLOB:
      if (Var.sqlsubtype == 1) return TIB_ColumnClass::Memo;
      if (Var.sqlsubtype == 2) return TIB_ColumnClass::BLR;
      return TIB_ColumnClass::Binary;
    case SQL_ARRAY: return TIB_ColumnClass::Array;
    case SQL_QUAD: return TIB_ColumnClass::Quad;
    case SQL_TYPE_TIME: return TIB_ColumnClass::Time;
    case SQL_TYPE_DATE: return TIB_ColumnClass::Date;
    case SQL_INT64: return TIB_ColumnClass::Int64;
    default: IB_Raise<EIB_StatementError>(IBMsg::UnsupportedColumnType, {int64_t(Var.sqltype)});
  }
}

TIB_Column* TIB_Row::CreateColumnForType(int16_t FieldNo, XSQLVAR* Var) {
  TIB_ColumnOptions options;
  const TIB_ColumnClass cls = ChooseColumnClass(*Var, options);
  TIB_ColumnCreator creator;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    creator = Registry()[static_cast<size_t>(cls)];
  }
  if (!creator) return nullptr;
  return creator(this, FieldNo, Var, options);
}

// ---- columns --------------------------------------------------------------------------------------

TIB_Column* TIB_Row::GetColumns(int Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FColumns.size()) return nullptr;
  return FColumns[static_cast<size_t>(Index)].get();
}

int TIB_Row::IndexOfColumn(const TIB_Column* Column) const {
  for (size_t i = 0; i < FColumns.size(); ++i) {
    if (FColumns[i].get() == Column) return static_cast<int>(i);
  }
  return -1;
}

void TIB_Row::MoveColumn(int CurIndex, int NewIndex) {
  const int count = GetColumnCount();
  if (CurIndex < 0 || CurIndex >= count || NewIndex < 0 || NewIndex >= count || CurIndex == NewIndex) return;
  FNamesIndexed = false;
  auto first = FColumns.begin();
  if (CurIndex < NewIndex) {
    std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
  } else {
    std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
  }
}

bool TIB_Row::FindByNumber(int FieldNo, TIB_Column*& Column) const {
  Column = nullptr;
  for (auto& col : FColumns) {
    if (col->GetFieldNo() == static_cast<int16_t>(FieldNo)) {
      Column = col.get();
      return true;
    }
  }
  return false;
}

TIB_Column* TIB_Row::ColumnByNumber(int FieldNo) const {
  TIB_Column* col = nullptr;
  if (!FindByNumber(FieldNo, col)) IB_Raise<EIB_Error>(IBMsg::FieldNoNotFound, {int64_t(FieldNo)});
  return col;
}

void TIB_Row::IndexNames(int Dialect) const {
  const size_t n = FColumns.size();
  const bool caseInsensitive = Dialect < 3;
  FByColumnName.Reset(n, caseInsensitive, false);
  FBySQLName.Reset(n, caseInsensitive, false);
  FByRelColumnName.Reset(n, caseInsensitive, true);
  FByRelSQLName.Reset(n, caseInsensitive, true);
  for (size_t i = 0; i < n; ++i) {
    const TIB_Column& col = *FColumns[i];
    const std::string name = col.GetColumnName();
    const std::string sqlName = col.GetSQLName();
    const std::string rel = col.GetRelName();
    const auto pos = static_cast<int32_t>(i);
    FByColumnName.Add(name, {}, pos);
    FBySQLName.Add(sqlName, {}, pos);
    FByRelColumnName.Add(rel, name, pos);
    FByRelSQLName.Add(rel, sqlName, pos);
  }
  for (TNameMemo& memo : FNameMemo) memo = TNameMemo{};
  FIndexedDialect = Dialect;
  FNamesIndexed = true;
}

namespace {

// Per byte: its ASCII upper case, or 0 for a byte that a plain name does not hold (a quote, a dot, a
// blank or control character, which the full rules handle).
struct TPlainNameBytes {
  unsigned char Upper[256];
  constexpr TPlainNameBytes() : Upper() {
    for (int c = 0; c < 256; ++c) {
      const bool breaks = c <= ' ' || c == '"' || c == '.';
      Upper[c] = static_cast<unsigned char>(breaks ? 0 : c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    }
  }
};
constexpr TPlainNameBytes kPlainNameBytes;

// A name of 1 to 16 bytes of which none is a quote, a dot, a blank or a control character needs no
// other rule than upper case: Words receives it in upper case as TIB_NameIndex::FindShort takes it.
// False for any other name.
bool PlainShortName(const std::string& Name, uint64_t (&Words)[2]) {
  const size_t n = Name.size();
  if (n - 1 >= TIB_NameIndex::kShortKey) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(Name.data());
  uint64_t w[2] = {0, 0};
  unsigned char all = 0xFF;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = kPlainNameBytes.Upper[p[i]];
    all = c < all ? c : all;
    w[i / 8] |= static_cast<uint64_t>(c) << (8 * (i % 8));
  }
  Words[0] = w[0];
  Words[1] = w[1];
  return all != 0;
}

// The N (1 to 16) bytes at P as two words, the bytes past N zero, read without touching a byte beyond
// P + N. Only compared with words made here (the name memo of TIB_Row).
void RawWords(const unsigned char* P, size_t N, uint64_t& Word0, uint64_t& Word1) {
  Word1 = 0;
  if (N >= 8) {
    std::memcpy(&Word0, P, 8);
    if (N > 8) {
      std::memcpy(&Word1, P + N - 8, 8);
      Word1 >>= 8 * (16 - N);
    }
  } else if (N >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, P, 4);
    std::memcpy(&tail, P + N - 4, 4);
    Word0 = head | (static_cast<uint64_t>(tail) << (8 * (N - 4)));
  } else {
    Word0 =
        P[0] | (static_cast<uint64_t>(P[N / 2]) << (8 * (N / 2))) | (static_cast<uint64_t>(P[N - 1]) << (8 * (N - 1)));
  }
}

}  // namespace

bool TIB_Row::FindByName(const std::string& Name, TIB_Column*& Column) const {
  Column = nullptr;
  if (FColumns.empty()) return false;
  const int dialect = FStatement->GetSQLDialect();
  // The common case: a short name asked before in the same spelling.
  const auto length = static_cast<uint32_t>(Name.size());
  if (FNamesIndexed && FIndexedDialect == dialect && length - 1 < TIB_NameIndex::kShortKey) {
    uint64_t raw0, raw1;
    RawWords(reinterpret_cast<const unsigned char*>(Name.data()), length, raw0, raw1);
    const TNameMemo& memo = FNameMemo[NameMemoSlot(raw0, raw1, length)];
    if (memo.Length == length && memo.Word0 == raw0 && memo.Word1 == raw1) {
      Column = FColumns[static_cast<size_t>(memo.Position)].get();
      return true;
    }
  }
  return FindByNameIndexed(Name, dialect, Column);
}

bool TIB_Row::FindByNameIndexed(const std::string& Name, int Dialect, TIB_Column*& Column) const {
  if (!FNamesIndexed || FIndexedDialect != Dialect) IndexNames(Dialect);
  int32_t pos = -1;
  // A plain short name by ColumnName, then by SQLName, in upper case; found, it goes to the memo.
  const auto length = static_cast<uint32_t>(Name.size());
  uint64_t words[2];
  if (PlainShortName(Name, words)) {
    pos = FByColumnName.FindShort(words[0], words[1], length);
    if (pos < 0) pos = FBySQLName.FindShort(words[0], words[1], length);
    if (pos >= 0) {
      uint64_t raw0, raw1;
      RawWords(reinterpret_cast<const unsigned char*>(Name.data()), length, raw0, raw1);
      FNameMemo[NameMemoSlot(raw0, raw1, length)] = TNameMemo{raw0, raw1, length, pos};
    }
  }
  if (pos < 0 && !FindByNameRules(Name, Dialect, pos)) return false;
  Column = FColumns[static_cast<size_t>(pos)].get();
  return true;
}

bool TIB_Row::FindByNameRules(const std::string& Name, int Dialect, int32_t& Position) const {
  Position = -1;
  const std::string name = Trim(Name);
  if (name.empty()) return false;
  // A quoted part is spelled as the columns spell their names; an unquoted one is upper-cased.
  auto normalize = [Dialect](const std::string& Part) -> std::string {
    const std::string p = Trim(Part);
    if (p == "\"\"") return std::string();
    if (IsQuoted(p, '"')) {
      std::string stripped;
      StripQuotes(p, stripped);
      return FormatSQLName(Dialect, stripped);
    }
    return UpperCase(p);
  };
  // First by ColumnName, then by SQLName; with a relation part, among the columns of that relation.
  auto find = [&](const std::string& Text) -> bool {
    const int dot = CharPosOutsideQuotes('.', Text, 1);
    if (dot == 0) {
      const std::string n = normalize(Text);
      Position = FByColumnName.Find(n);
      if (Position >= 0) return true;
      if (n.empty()) return false;
      Position = FBySQLName.Find(n);
      return Position >= 0;
    }
    const std::string rel = normalize(Text.substr(0, static_cast<size_t>(dot - 1)));
    const std::string fld = normalize(Text.substr(static_cast<size_t>(dot)));
    Position = FByRelColumnName.Find(rel, fld);
    if (Position >= 0) return true;
    Position = FByRelSQLName.Find(rel, fld);
    return Position >= 0;
  };
  if (find(name)) return true;
  // A column whose name is a reserved word (a parameter :KEY, say) is spelled quoted; its plain
  // name still finds it.
  if (name.find('"') == std::string::npos && CharPosOutsideQuotes('.', name, 1) == 0) {
    const std::string spelled = FormatSQLName(Dialect, UpperCase(name));
    if (spelled != UpperCase(name)) return find(spelled);
  }
  return false;
}

TIB_Column* TIB_Row::ColumnByName(const std::string& Name) const {
  TIB_Column* col = nullptr;
  if (!FindByName(Name, col)) IB_Raise<EIB_StatementError>(IBMsg::FieldNameNotFound, {Name});
  return col;
}

int TIB_Row::GetRelationCount() const { return FRelationNames ? FRelationNames->Count() : 0; }

std::string TIB_Row::GetRelationName(int Index) const {
  if (!FRelationNames || Index < 0 || Index >= FRelationNames->Count()) return std::string();
  return FRelationNames->Get(Index);
}

// ---- state and lifecycle --------------------------------------------------------------------------

void TIB_Row::SetRowState(uint8_t State) {
  if (State == FRowState) return;
  FRowState = State;
  if (OnRowStateChanged) OnRowStateChanged(this);
}

void TIB_Row::ClearBuffers(bool ANotNull) {
  if (!FRecordBuffer) return;
  TakeOldValues();
  for (auto& c : FColumns) {
    TIB_Column& col = *c;
    if (col.NullInd() == -1) {
      // A NOT NULL column starts from an empty value, never from what the buffer held before.
      if (ANotNull && !col.GetIsNullable()) col.SetNullInd(0);
      col.FillPad();
    } else if (col.IsVarChar()) {
      // The bytes after the value are padded; a length beyond the declared size is cut to it.
      uint8_t* data = col.Data();
      if (!data) continue;
      const auto max = static_cast<uint16_t>(std::max<int16_t>(col.GetSQLLen(), 0));
      uint16_t len;
      std::memcpy(&len, data, 2);
      if (len > max) {
        len = max;
        std::memcpy(data, &len, 2);
      }
      std::memset(data + 2 + len, col.GetPadChar(), max - len);
    }
  }
}

void TIB_Row::ResetRecord() {
  if (FRecordLength == 0) return;
  InitBuffers();
}

void TIB_Row::ClearRow(uint8_t AState) {
  if (FIsKeyRow) return;
  ResetRecord();
  ClearBlobNodes(false);
  FRowChanged = AState != FRowState;
  SetRowState(FRowType == rtParams ? rsUnmodified : AState);
  NotifyDataChange(nullptr);
}

void TIB_Row::RevertRow() {
  if (FIsKeyRow) return;
  TakeOldValues();
  if (FRecordLength > 0) std::memcpy(FRecordBuffer.get(), FOldRecordBuffer.get(), FRecordLength);
  ClearBlobNodes(false);
  FRowChanged = false;
  SetRowState(rsUnmodified);
  NotifyDataChange(nullptr);
}

void TIB_Row::ResetRow(bool AClear, bool AResetBlobs, bool ACalculate, bool AQuietStep) {
  if (AClear) ClearBuffers(true);
  if (AResetBlobs && (FBlobCount > 0 || FArrayCount > 0)) ClearBlobNodes(AClear);
  if (ACalculate && !FCalculatedColumns.empty()) CalculateFields();
  // Another record than the one the row held (the old record is the last one reset): asked only where
  // cached blob values depend on it.
  const bool prunesBlobs = AResetBlobs && !AClear && (FBlobCount > 0 || FArrayCount > 0);
  // The compare reads the old record as it stands: a row with blobs or arrays never defers its copy.
  assert(!prunesBlobs || !FOldPending);
  const bool otherRecord = prunesBlobs && !FIsKeyRow && FRecordLength > 0 && FOldRecordBuffer && FRecordBuffer &&
                           std::memcmp(FOldRecordBuffer.get(), FRecordBuffer.get(), FRecordLength) != 0;
  if (!FIsKeyRow) {
    // The old record becomes this record.
    if (FRecordLength > 0) CopyOldValues();
    FRowChanged = AClear;
  }
  if (prunesBlobs) DropCachedValuesOfOtherRecords(otherRecord);
  if (FRowState != rsUnmodified) SetRowState(rsUnmodified);
  if (!AQuietStep || (ACalculate && !FCalculatedColumns.empty())) NotifyDataChange(nullptr);
}

void TIB_Row::CalculateFields() {
  if (FCalculating) return;
  // A handler that destroys the row's statement (and so the row) ends the calculation with the silent
  // abort; nothing of the row is touched after it.
  TIB_AliveRestorer<bool> calculating(FAlive, FCalculating, true);
  for (TIB_Column* col : std::vector<TIB_Column*>(FCalculatedColumns)) {
    FStatement->DoCalculateField(*this, *col);
    IB_CheckAlive(calculating.Token());
  }
}

// ---- change notices -------------------------------------------------------------------------------

void TIB_Row::BeginUpdate() {
  if (FUpdateCount < UINT8_MAX) ++FUpdateCount;
}

void TIB_Row::EndUpdateSilently() {
  if (FUpdateCount > 0) --FUpdateCount;
  if (FUpdateCount == 0) {
    FChangedColumns.clear();
    FAllChanged = false;
    FHeldRowChanged = false;
  }
}

void TIB_Row::EndUpdate(bool AOnePerColumn) {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount > 0) return;
  // The held notices are taken out first, so a handler that raises leaves no stale ones behind.
  const std::vector<TIB_Column*> changed = std::move(FChangedColumns);
  FChangedColumns.clear();
  const bool all = FAllChanged;
  const bool held = FHeldRowChanged;
  FAllChanged = false;
  FHeldRowChanged = false;
  if (all) {
    if (!FRowChanged) FRowChanged = held;
    if (OnDataChange) IB_CallOwn(FAlive, OnDataChange, this, nullptr);
    FRowChanged = false;
  } else if (!AOnePerColumn || changed.size() < 2) {
    for (TIB_Column* col : changed) {
      if (OnDataChange) IB_CallOwn(FAlive, OnDataChange, this, col);
    }
  } else if (OnDataChange) {
    IB_CallOwn(FAlive, OnDataChange, this, nullptr);
  }
  if (FRowType == rtParams) SetRowState(rsUnmodified);
}

void TIB_Row::NotifyDataChange(TIB_Column* Column) {
  if (FUpdateCount == 0) {
    // The notice reaches the statement's links and their handlers: the row may be gone after it. A
    // fields row (a notice for every row shown) touches nothing of itself afterwards.
    if (FRowType == rtParams) [[unlikely]] {
      NotifyParamsChange(Column);
      return;
    }
    if (OnDataChange) OnDataChange(this, Column);
    return;
  }
  if (Column) {
    if (std::find(FChangedColumns.begin(), FChangedColumns.end(), Column) == FChangedColumns.end()) {
      FChangedColumns.push_back(Column);
    }
  } else {
    FAllChanged = true;
    if (FRowChanged) FHeldRowChanged = true;
  }
}

void TIB_Row::NotifyParamsChange(TIB_Column* Column) {
  if (OnDataChange) IB_CallOwn(FAlive, OnDataChange, this, Column);
  SetRowState(rsUnmodified);
}

void TIB_Row::NotifyColumnChanged(TIB_Column* Column) {
  FRowChanged = false;
  if (!FCalculating && FRowState != rsModified) SetRowState(rsModified);
  NotifyDataChange(Column);
}

// ---- row data as text -----------------------------------------------------------------------------

std::string TIB_Row::GetRowData() const {
  if (!FIsKeyRow && FRowState == rsNone) return std::string();
  if (FRecordLength == 0) return std::string();
  return BinaryToHexText(FRecordBuffer.get(), FRecordLength);
}

std::string TIB_Row::GetOldRowData() const {
  if (!FIsKeyRow && FRowState == rsNone) return std::string();
  if (FRecordLength == 0) return std::string();
  TakeOldValues();
  return BinaryToHexText(FOldRecordBuffer.get(), FRecordLength);
}

void TIB_Row::SetBufferFromHex(uint8_t* Buffer, const std::string& Text) {
  if (Text.empty()) return;
  // The text must describe exactly this record: a shorter or longer one comes from another layout.
  bool valid = Text.size() == 2 * FRecordLength;
  for (size_t i = 0; valid && i < Text.size(); ++i) valid = std::isxdigit(static_cast<unsigned char>(Text[i])) != 0;
  if (!valid) IB_Raise<EIB_DatasetError>(IBMsg::InvalidBookmarkString);
  std::vector<uint8_t> bytes(FRecordLength);
  try {
    HexTextToBinary(Text, bytes.data(), FRecordLength);
  } catch (const Exception&) {
    IB_Raise<EIB_DatasetError>(IBMsg::InvalidBookmarkString);
  }
  std::memcpy(Buffer, bytes.data(), FRecordLength);
  NormalizeVarLengths(Buffer);
}

void TIB_Row::NormalizeVarLengths(uint8_t* Buffer) {
  // A VARCHAR length beyond the declared size would make readers and the client run past the value.
  for (auto& col : FColumns) {
    if (!col->IsVarChar()) continue;
    uint16_t len;
    std::memcpy(&len, Buffer + col->FOffset + 2, 2);
    const uint16_t max = static_cast<uint16_t>(col->GetSQLLen());
    if (len > max) std::memcpy(Buffer + col->FOffset + 2, &max, 2);
  }
}

void TIB_Row::SetRowData(const std::string& Text) {
  TakeOldValues();
  SetBufferFromHex(FRecordBuffer.get(), Text);
}

void TIB_Row::SetOldRowData(const std::string& Text) {
  TakeOldValues();
  SetBufferFromHex(FOldRecordBuffer.get(), Text);
}

// ---- values by name -------------------------------------------------------------------------------

std::vector<TIB_Column*> TIB_Row::ColumnsOfList(const std::string& Names) const {
  std::vector<TIB_Column*> result;
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(Names.size())) {
    const std::string item = Trim(NextListItem(Names, pos));
    if (!item.empty()) result.push_back(ColumnByName(item));
  }
  if (result.empty()) {
    for (auto& col : FColumns) result.push_back(col.get());
  }
  return result;
}

Variant TIB_Row::GetValuesOf(const std::string& Names, bool Old) {
  if (!FStatement->GetPrepared()) FStatement->Prepare();
  if (Names.find(';') == std::string::npos) {
    TIB_Column* col = ColumnByName(Names);
    return Old ? col->GetOldAsVariant() : col->GetAsVariant();
  }
  const std::vector<TIB_Column*> cols = ColumnsOfList(Names);
  Variant result = VarArrayCreate({0, static_cast<int>(cols.size()) - 1}, varVariant);
  for (size_t i = 0; i < cols.size(); ++i) {
    result.PutElement({static_cast<int>(i)}, Old ? cols[i]->GetOldAsVariant() : cols[i]->GetAsVariant());
  }
  return result;
}

Variant TIB_Row::GetValues(const std::string& Names) { return GetValuesOf(Names, false); }

Variant TIB_Row::GetOldValues(const std::string& Names) { return GetValuesOf(Names, true); }

void TIB_Row::SetValues(const std::string& Names, const Variant& Value) {
  if (!FStatement->GetPrepared()) FStatement->Prepare();
  if (Names.find(';') == std::string::npos) {
    TIB_Column* col = ColumnByName(Names);
    if (!col->GetIsArrayKind() && VarIsArray(Value)) {
      col->SetAsVariant(Value.GetElement({VarArrayLowBound(Value, 1)}));
    } else {
      col->SetAsVariant(Value);
    }
    return;
  }
  const std::vector<TIB_Column*> cols = ColumnsOfList(Names);
  if (!VarIsArray(Value)) IB_Raise<EIB_Error>(IBMsg::VariantMustBeOfAnArrayType);
  const int low = VarArrayLowBound(Value, 1);
  const int high = VarArrayHighBound(Value, 1);
  TUpdateBracket bracket(*this);
  for (size_t i = 0; i < cols.size(); ++i) {
    const int index = low + static_cast<int>(i);
    if (index > high) break;
    cols[i]->SetAsVariant(Value.GetElement({index}));
  }
  bracket.End();
}
