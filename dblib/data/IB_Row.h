// TIB_Row: one descriptor area of a statement (params, fields or key) with its typed columns, its
// record buffers and the blob nodes of its blob and array columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_Alive.h"
#include "dblib/IB_BlobNode.h"
#include "dblib/IB_Header.h"
#include "dblib/data/IB_RowNames.h"
#include "dblib/data/IB_RowStatement.h"
#include "platform/Classes.h"
#include "platform/Variants.h"

class TIB_Column;

using TIB_RowColumnEvent = std::function<void(TIB_Row* Row, TIB_Column* Column)>;
using TIB_RowEvent = std::function<void(TIB_Row* Row)>;

// Row kinds.
inline constexpr uint8_t rtParams = 0;
inline constexpr uint8_t rtFields = 1;
inline constexpr uint8_t rtKey = 2;

// Row states.
inline constexpr uint8_t rsNone = 0;
inline constexpr uint8_t rsUnmodified = 1;
inline constexpr uint8_t rsModified = 2;

// The classes the column factory chooses between, one per column class of the library.
enum class TIB_ColumnClass : uint8_t {
  Numeric,
  VarText,
  DB_KEY,
  Text,
  Curr,
  Comp,
  Double,
  Float,
  Integer,
  SmallInt,
  TimeStamp,
  Memo,
  BLR,
  Binary,
  Array,
  Quad,
  Time,
  Date,
  Int64
};
inline constexpr int TIB_ColumnClassCount = 19;

// What the factory tells a column class beyond the XSQLVAR.
struct TIB_ColumnOptions {
  bool NoRoundErr = false;  // scaled DOUBLE columns with the NOROUNDERR attribute
};

using TIB_ColumnCreator =
    std::function<TIB_Column*(TIB_Row* Row, int16_t FieldNo, XSQLVAR* Var, const TIB_ColumnOptions& Options)>;

// The blob node's flag bit for a value changed in memory and not yet written to the server.
inline constexpr uint8_t bnfModified = 1;

// The buffer node whose record a row shows (a node of a buffered dataset's node list). The node list
// packs and unpacks rows; the row only asks.
class TIB_RowBufferNode {
public:
  virtual ~TIB_RowBufferNode() = default;
  virtual bool HasRecordData() = 0;
  virtual bool HasOldRecordData() = 0;
  // Packs Row's current record into the node.
  virtual void PackRow(TIB_Row& Row) = 0;
  // Unpacks the node's record (with Old, its record as it was before a cached change) into Row's
  // current record buffer.
  virtual void UnpackRow(TIB_Row& Row, bool Old) = 0;
  // The node's cache of blob values.
  virtual TIB_BlobNodeList& BlobNodes() = 0;
};

// Registers the constructor of a column class; the typed column units register theirs. Replacing a
// registration is allowed; an empty creator removes it. Returns the creator registered before.
TIB_ColumnCreator RegisterColumnClass(TIB_ColumnClass Class, TIB_ColumnCreator Creator);

// A row of a statement. The statement owns its rows; a row owns its columns, its XSQLDA and its buffers.
// Columns, XSQLVAR pointers and buffer positions are valid only until the next AllocateXSQLDA.
class TIB_Row : public TObject {
public:
  TIB_Row(TIB_RowStatement* AStatement, uint8_t ARowType);
  ~TIB_Row() override;

  TIB_RowStatement* GetStatement() const noexcept { return FStatement; }
  uint8_t GetRowType() const noexcept { return FRowType; }
  uint8_t GetRowState() const noexcept { return FRowState; }
  XSQLDA* GetPSQLDA() const noexcept { return FPSQLDA; }

  // Description and layout.
  void AllocateXSQLDA(int N);
  void AssignParamNames();
  // The class the factory picks for Var (Options receives the class's extra settings).
  TIB_ColumnClass ChooseColumnClass(const XSQLVAR& Var, TIB_ColumnOptions& Options);
  TIB_Column* CreateColumnForType(int16_t FieldNo, XSQLVAR* Var);

  // Columns.
  int GetColumnCount() const noexcept { return static_cast<int>(FColumns.size()); }
  TIB_Column* GetColumns(int Index) const;
  bool FindByNumber(int FieldNo, TIB_Column*& Column) const;
  TIB_Column* ColumnByNumber(int FieldNo) const;
  bool FindByName(const std::string& Name, TIB_Column*& Column) const;
  TIB_Column* ColumnByName(const std::string& Name) const;
  int GetBlobCount() const noexcept { return FBlobCount; }
  int GetArrayCount() const noexcept { return FArrayCount; }
  int GetCalculatedCount() const noexcept { return FCalculatedCount; }
  int GetHiddenParamCount() const noexcept { return FHiddenParamCount; }
  const std::vector<TIB_Column*>& GetBlobColumns() const noexcept { return FBlobColumns; }
  const std::vector<TIB_Column*>& GetArrayColumns() const noexcept { return FArrayColumns; }
  const std::vector<TIB_Column*>& GetCalculatedColumns() const noexcept { return FCalculatedColumns; }
  int GetRelationCount() const;
  std::string GetRelationName(int Index) const;
  // Position of Column in the column order; -1 when it is not one of this row's.
  int IndexOfColumn(const TIB_Column* Column) const;
  // Moves the column at CurIndex to NewIndex (both valid positions).
  void MoveColumn(int CurIndex, int NewIndex);

  // Buffers.
  size_t GetRecordLength() const noexcept { return FRecordLength; }
  // Both take the old record's copy first when it is still due (see TakeOldValues): whoever holds the
  // raw buffers may read the old one or write the current one.
  uint8_t* GetRecordBuffer() const noexcept {
    TakeOldValues();
    return FRecordBuffer.get();
  }
  uint8_t* GetOldRecordBuffer() const noexcept {
    TakeOldValues();
    return FOldRecordBuffer.get();
  }
  // The old record holds the values the row had at its last reset. A fields row without blob, array or
  // calculated columns takes that copy only when it is first needed: before the current record is
  // written (a column's change, a clear, an unpack) or the old one is read. Every writer of the current
  // record and every reader of the old one calls this first.
  void TakeOldValues() const noexcept {
    if (FOldPending) CopyOldValues();
  }
  // Changes, to a value no layout of any row had before, whenever the buffers are laid out (0 without a
  // layout): what is worked out from the columns' places, types and lengths stays good while it is the
  // same. (Only a parameter made nullable by a null changes its type after the layout.)
  uint64_t GetLayoutStamp() const noexcept { return FLayoutStamp; }

  bool GetIsKeyRow() const noexcept { return FIsKeyRow; }
  void SetIsKeyRow(bool Value) { FIsKeyRow = Value; }
  bool GetKeyRowCalculated() const noexcept { return FKeyRowCalculated; }
  void SetKeyRowCalculated(bool Value) { FKeyRowCalculated = Value; }
  bool GetNoBlobNodes() const noexcept { return FNoBlobNodes; }
  void SetNoBlobNodes(bool Value) { FNoBlobNodes = Value; }
  bool GetCalculating() const noexcept { return FCalculating; }
  bool GetRowChanged() const noexcept { return FRowChanged; }
  int GetUpdateCount() const noexcept { return FUpdateCount; }

  // Blob nodes.
  TIB_RowBufferNode* GetBufferNode() const noexcept { return FBufferNode; }
  void SetBufferNode(TIB_RowBufferNode* Value) { FBufferNode = Value; }
  TIB_BlobNodeList& GetBlobNodeList();
  TIB_BlobNode* GetBlobNode(int VarIndex);
  int32_t GetNewBlobCount() const noexcept { return FNewBlobCount; }
  void PostBlobNodes();
  // After a statement that failed once PostBlobNodes ran: the changed values lose the ids they were
  // written under and keep their bytes, so that the next PostBlobNodes writes them again.
  void ForgetPostedBlobNodes();
  void ResetBlobNodes(bool AKeepCached);
  void LoadCachedBlobNodes();
  void SaveToNode();
  void CancelBlobNodes();
  void LoadFromNode(bool ANotify, bool ALoadBlobs);

  // State and lifecycle.
  void SetRowState(uint8_t State);
  void ClearBuffers(bool ANotNull);
  void ClearRow(uint8_t AState);
  void RevertRow();
  // AQuietStep: a forward-only cursor's step that nobody watches resets the row it fetched: the
  // data-change notice is left out (nobody hears it; it is sent still when calculated columns ran
  // handlers).
  void ResetRow(bool AClear, bool AResetBlobs, bool ACalculate, bool AQuietStep = false);
  // The reset of a fetched row that takes the place of the one shown (nothing writes the row before the
  // next reset but a fetch that takes the copy first or replaces the row again), where the row has
  // nothing to clear, prune or calculate: the old record's copy is marked due (see TakeOldValues), the
  // row unmodified; the caller sends the notice. False (nothing done) for any other row.
  bool ResetDeferringOldCopy() {
    if (!GetOldCopyDeferrable()) return false;
    FOldPending = true;
    FRowChanged = false;
    if (FRowState != rsUnmodified) SetRowState(rsUnmodified);
    return true;
  }
  void CalculateFields();

  // Change notices.
  void BeginUpdate();
  void EndUpdate(bool AOnePerColumn);
  // Lowers the update count without firing the held notices (for brackets left by an exception).
  void EndUpdateSilently();
  void NotifyDataChange(TIB_Column* Column);
  void NotifyBeforeChange(TIB_Column* Column) {
    if (OnBeforeColumnChange) IB_CallOut(FAlive, OnBeforeColumnChange, this, Column);
  }
  void NotifyColumnChanged(TIB_Column* Column);
  // NotifyDataChange of a parameter row, which marks itself unmodified after the notice.
  [[gnu::noinline]] void NotifyParamsChange(TIB_Column* Column);
  // Whether a change of a column now goes unheard beyond the column's own events: a parameter row
  // outside an update bracket whose statement has nothing that hears it (see GetRowChangesHeard).
  bool GetChangesUnheard() const {
    return FRowType == rtParams && FUpdateCount == 0 && !FCalculating && FStatement &&
           !FStatement->GetRowChangesHeard(*this);
  }
  // What an unheard change leaves: the state the notices would have left, none of them sent.
  void NoteUnheardChange() {
    FRowChanged = false;
    FRowState = rsUnmodified;
  }

  // The record buffers as upper-case hexadecimal text.
  std::string GetRowData() const;
  void SetRowData(const std::string& Text);
  std::string GetOldRowData() const;
  void SetOldRowData(const std::string& Text);

  // Values by name lists ("A;B" gives and takes variant arrays).
  Variant GetValues(const std::string& Names);
  Variant GetOldValues(const std::string& Names);
  void SetValues(const std::string& Names, const Variant& Value);

  TIB_RowColumnEvent OnBeforeColumnChange;
  TIB_RowColumnEvent OnDataChange;
  TIB_RowEvent OnRowStateChanged;

private:
  friend class TIB_Column;

  // The described parameters by name: for each XSQLVAR the positions (ascending) of all XSQLVARs of
  // its name, the name compared as the dialect compares names.
  struct TParamGroups {
    std::vector<int> GroupOf;
    std::vector<std::vector<int>> Members;
  };

  void ClearDescription();
  TParamGroups GroupParamsByName(int N) const;
  static bool ParamsCanShare(const XSQLVAR& A, const XSQLVAR& B);
  void ConvertNullTypeParams(const TParamGroups& Groups);
  void UnifyParams(const TParamGroups& Groups);
  bool SharesParamColumn(const TParamGroups& Groups, int VarIndex, TIB_Column*& Shared) const;
  // Builds the name indexes for Dialect (each column's names read once).
  void IndexNames(int Dialect) const;
  bool FindByNameRules(const std::string& Name, int Dialect, int32_t& Position) const;
  // FindByName past its memo: the names indexed for Dialect, the plain short road, then the full rules.
  bool FindByNameIndexed(const std::string& Name, int Dialect, TIB_Column*& Column) const;
  void AddColumn(int16_t FieldNo, XSQLVAR* Var);
  void NameColumns();
  void LayoutBuffers(int N);
  void InitBuffers();
  void ResetRecord();
  void AllocateBlobNodes(int Total);
  void ClearBlobNodes(bool AFreeCache);
  // All: every saved value goes (the row holds another record), else those its record no longer names.
  void DropCachedValuesOfOtherRecords(bool All);
  bool IsUnsavedCacheEntry(const TIB_BlobNode& Node);
  void UnlinkCacheEntries(const std::function<bool(const TIB_BlobNode&)>& Which);
  Variant GetValuesOf(const std::string& Names, bool Old);
  std::vector<TIB_Column*> ColumnsOfList(const std::string& Names) const;
  void SetBufferFromHex(uint8_t* Buffer, const std::string& Text);
  void CopyOldValues() const noexcept;
  // Whether a reset may leave the old record's copy until it is needed: nothing of this row reads the old
  // record while a fetch writes the next row (no blob caches, no calculations, no key row).
  bool GetOldCopyDeferrable() const noexcept {
    return FRowType == rtFields && !FIsKeyRow && FBlobCount == 0 && FArrayCount == 0 && FCalculatedColumns.empty() &&
           FRecordLength > 0;
  }
  void NormalizeVarLengths(uint8_t* Buffer);

  TIB_RowStatement* FStatement;
  uint8_t FRowType;
  uint8_t FRowState = rsNone;
  uint16_t FArrayCount = 0;
  uint16_t FBlobCount = 0;
  uint16_t FCalculatedCount = 0;
  uint16_t FHiddenParamCount = 0;
  std::vector<std::unique_ptr<TIB_Column>> FColumns;
  std::vector<TIB_Column*> FArrayColumns;
  std::vector<TIB_Column*> FBlobColumns;
  std::vector<TIB_Column*> FCalculatedColumns;
  std::vector<TIB_Column*> FChangedColumns;
  // XSQLDA memory: one zeroed block of XSQLDA_LENGTH bytes.
  std::unique_ptr<std::byte[]> FSQLDAMemory;
  XSQLDA* FPSQLDA = nullptr;
  // Per XSQLVAR: the column that stands for it (shared parameters point at one column), or null.
  std::vector<TIB_Column*> FVarColumns;
  std::unique_ptr<TStringList> FRelationNames;
  // The columns' names as FindByName compares them, by column position: built at the first lookup of a
  // description and again when the columns move or the dialect changes.
  mutable bool FNamesIndexed = false;
  mutable int FIndexedDialect = 0;
  mutable TIB_NameIndex FByColumnName, FBySQLName, FByRelColumnName, FByRelSQLName;
  // Short names found by their plain spelling, as callers spelled them: a small table by the bytes of
  // the name, so that a name asked again is known without its upper case. Emptied whenever the names
  // are indexed again (a Length of 0 is a free entry).
  struct TNameMemo {
    uint64_t Word0 = 0, Word1 = 0;
    uint32_t Length = 0;
    int32_t Position = 0;
  };
  static constexpr unsigned kNameMemoBits = 4;
  mutable TNameMemo FNameMemo[1u << kNameMemoBits];
  static size_t NameMemoSlot(uint64_t Word0, uint64_t Word1, uint32_t Length) {
    return static_cast<size_t>(TIB_NameIndex::ShortHash(Word0, Word1, Length) >> (64 - kNameMemoBits));
  }
  bool FAllChanged = false;
  uint8_t FUpdateCount = 0;
  bool FIsKeyRow = false;
  bool FKeyRowCalculated = false;
  bool FNoBlobNodes = false;
  bool FCalculating = false;
  // The row's liveness token, cleared by its destructor: a handler may destroy the row's statement.
  TIB_AliveFlag FAlive;
  bool FRowChanged = false;
  bool FHeldRowChanged = false;
  TIB_RowBufferNode* FBufferNode = nullptr;
  TIB_BlobNodeList FBlobNodeList;
  std::vector<TIB_BlobNode> FBlobNodes;
  std::vector<int32_t> FBlobIndex;
  int32_t FNewBlobCount = 0;
  size_t FRecordLength = 0;
  uint64_t FLayoutStamp = 0;
  std::unique_ptr<uint8_t[]> FRecordBuffer;
  std::unique_ptr<uint8_t[]> FOldRecordBuffer;
  // The old record's copy of the current one is due (taken by TakeOldValues).
  mutable bool FOldPending = false;
};
