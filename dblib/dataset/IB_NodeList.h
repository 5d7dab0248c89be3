// The row buffer of the buffered dataset: one node per row the dataset has seen, in result order.
//
// A node always holds the row's key bytes and may hold the row's packed column values, a second packed
// copy (the row before a cached change), the key the server still knows the row by, and the row's
// cached blob data. Nodes form one doubly linked list framed by two sentinels (Head, row 0; Tail, row
// Count+1); two cursors (the row cursor: the dataset's current row; the buffer cursor: the row controls
// walk over) point into it. Nodes taken out of the list go to a free pool; nodes that carry state of
// their own (cached changes, selection, blob data) survive a trim in the retained list (row -1) and are
// reused when their key is fetched again. The list knows nothing of SQL: the dataset fills keys and
// records, the list finds, orders, counts and frees nodes.
//
// Ownership: the list owns every node, the packed records and the blob data. A node pointer stays valid
// until the node is removed (RemoveNode, Clear) or the list is cleared or given a new key length; a
// pooled node is reused for another row, so never keep a node across a refresh.
//
// Cost: nodes come from fixed-size slabs (the key lives inside the node) and records from a compacting
// store, so a row costs its packed record plus one small node. Row numbers are found through an index
// built on demand (with a tree of deleted-row counts), keys through hash tables with back-pointers,
// and the update list is linked through the nodes: no operation walks the list once per row or change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dblib/IB_BlobNode.h"
#include "platform/SysUtils.h"

class TIB_Row;

// Node flags.
enum : uint16_t {
  nfHead = 1,
  nfTail = 2,
  nfSelected = 4,
  nfInserted = 8,
  nfModified = 16,
  nfDeleted = 32,
  nfApplied = 64,
  nfApplyFailed = 128,
  nfOutOfOrder = 256,
  // The flags a caller sees; the bits above say where the node lies.
  nfPublic = 511,
};

// What a node holds besides its record; allocated for the few rows that need it.
struct TIB_NodeExtra {
  std::unique_ptr<uint8_t[]> OldRecordData;
  // Negated when the record was moved here by InvalidateNode.
  int32_t OldRecordLength = 0;
  std::unique_ptr<uint8_t[]> OldKeyData;
  TIB_BlobNodeList BlobNodes;
  // Links of the update list (nodes with a pending cached change).
  struct TIB_Node* UpdPrior = nullptr;
  struct TIB_Node* UpdNext = nullptr;
};

// One row. Allocated by the list only; the key bytes follow the fixed fields in the same block.
struct TIB_Node {
  TIB_Node* Prior;
  TIB_Node* Next;
  uint8_t* RecordData;
  TIB_NodeExtra* Extra;
  int32_t RecordLength;
  // Position in the row index while the index is valid.
  int32_t Pos;
  uint16_t Flags;
  uint8_t KeyStart[6];

  uint8_t* KeyData() noexcept { return KeyStart; }
  const uint8_t* KeyData() const noexcept { return KeyStart; }
  uint16_t GetFlags() const noexcept { return Flags & nfPublic; }
  bool Has(uint16_t F) const noexcept { return (Flags & F) != 0; }
  bool IsSentinel() const noexcept { return (Flags & (nfHead | nfTail)) != 0; }
  // The key the server knows the row by: the old key when a cached edit changed it.
  const uint8_t* ServerKey() const noexcept { return Extra && Extra->OldKeyData ? Extra->OldKeyData.get() : KeyStart; }
  int32_t OldRecordLength() const noexcept { return Extra ? Extra->OldRecordLength : 0; }
  uint8_t* OldRecordData() const noexcept { return Extra ? Extra->OldRecordData.get() : nullptr; }
  bool HasBlobNodes() const noexcept { return Extra && Extra->BlobNodes; }
};

class TIB_NodeList : public TObject {
public:
  struct TCursor {
    TIB_Node* Node = nullptr;
    int32_t Row = 0;
    int32_t DeletedBefore = 0;
  };

  TIB_NodeList();
  ~TIB_NodeList() override;

  // ---- layout --------------------------------------------------------------------------------------
  int32_t GetKeyLength() const noexcept { return FKeyLength; }
  // Copies key bytes; the short keys of a row (a number and its indicator) are moved inline, where a call
  // to memcpy would cost more than the copy. (A node's key bytes run past the node's fields: they are
  // addressed from the node's start.)
  static void CopyKeyBytes(uint8_t* To, const uint8_t* From, size_t Length) noexcept {
    if (Length >= 8 && Length <= 16) {
      std::memcpy(To, From, 8);
      std::memcpy(To + Length - 8, From + Length - 8, 8);
    } else if (Length >= 4 && Length < 8) {
      std::memcpy(To, From, 4);
      std::memcpy(To + Length - 4, From + Length - 4, 4);
    } else if (Length > 0) {
      std::memcpy(To, From, Length);
    }
  }
  // Frees every node, then stores the length.
  void SetKeyLength(int32_t Value);

  // ---- counts --------------------------------------------------------------------------------------
  int32_t GetCount() const noexcept { return FCount; }
  int32_t GetPoolCount() const noexcept { return FPoolCount; }
  bool IsEmpty() const noexcept { return FCount == 0; }
  int32_t GetModifiedCount() const noexcept { return FModifiedCount; }
  int32_t GetInsertedCount() const noexcept { return FInsertedCount; }
  int32_t GetDeletedCount() const noexcept { return FDeletedCount; }
  int32_t GetDeletedTotal() const noexcept { return FDeletedTotal; }
  int32_t GetRetainedDeleted() const noexcept { return FRetainedDeleted; }
  void LowerRetainedDeleted() noexcept {
    if (FRetainedDeleted > 0) --FRetainedDeleted;
  }
  // Deleted rows that lie in the main list.
  int32_t HiddenCount() const noexcept { return FDeletedTotal - FRetainedDeleted; }
  // Nodes with a pending cached change.
  int32_t GetUpdateListCount() const noexcept { return FUpdateListCount; }
  TIB_Node* GetUpdateListFirst() const noexcept { return FUpdateFirst; }
  int32_t GetRetainedCount() const noexcept { return FRetainedCount; }
  // The pending (unapplied) cached inserts and deletes among the rows of the list, leaving out those
  // retained for rows out of view (a detail's changes under another master row). Walks the update list.
  void CountPendingInView(int32_t& Inserted, int32_t& Deleted) const;
  // The nodes of the pending (unapplied) cached deletes that wait in the retained list: rows the cursor
  // has not brought back since a trim, or rows out of view. Walks the update list.
  std::vector<const TIB_Node*> RetainedPendingDeletes() const;

  TIB_Node* GetHead() const noexcept { return FHead; }
  TIB_Node* GetTail() const noexcept { return FTail; }
  // The first node of the retained list (chained through Next).
  TIB_Node* GetRetained() const noexcept { return FRetained; }
  const TCursor& GetRowCursor() const noexcept { return FRowCursor; }
  const TCursor& GetBufferCursor() const noexcept { return FBufferCursor; }
  bool GetSelectNew() const noexcept { return FSelectNew; }

  // ---- adding and removing -------------------------------------------------------------------------
  TIB_Node* Append();
  // A new node at the row cursor; the row cursor moves onto it. EIB_Error "Invalid ANode" without one.
  TIB_Node* InsertAtRow();
  // The node for a fetched key, appended: a retained node of that key is reused. Nil when a locally
  // inserted row already stands for the key.
  TIB_Node* AddKey(const uint8_t* Key);
  // Puts a retained node back after the last row, flagged out of order (a row whose key the cursor
  // will not bring back, such as a cached insert).
  void RestoreRetained(TIB_Node* Node);
  // A node for a key the main list does not hold, kept among the retained nodes (a row read by key
  // before the cursor reaches it); AddKey takes it over when the cursor brings the key.
  TIB_Node* AddRetainedKey(const uint8_t* Key);
  // Takes the node out of every list and pools it, keeping both cursors and every count right.
  void RemoveNode(TIB_Node* Node);
  // The same for many nodes of the main list at once (one pass, whatever their number).
  void RemoveNodes(const std::vector<TIB_Node*>& Nodes);
  void DeleteAtRow();
  void DeleteAtBuffer();

  // ---- positions -----------------------------------------------------------------------------------
  // Nil when empty or outside 0..Count+1.
  TIB_Node* NodeAt(int32_t Row, int32_t& DeletedBefore);
  TCursor LocateRow(int32_t Row);
  void SetRowCursor(int32_t Row);
  void SetBufferCursor(int32_t Row);
  void SetBufferPosition(TIB_Node* Node, int32_t Row, int32_t DeletedBefore);
  void SetRowPosition(TIB_Node* Node, int32_t Row, int32_t DeletedBefore);
  // Moves passing over deleted rows without counting them.
  void MoveRowBy(int32_t n) { MoveBy(FRowCursor, n); }
  void MoveBufferBy(int32_t n) { MoveBy(FBufferCursor, n); }
  // Row and deleted-before count of a main-list node; 0 and 0 for other nodes.
  void IndexOfNode(TIB_Node* Node, int32_t& Row, int32_t& DeletedBefore);
  // The node of the n-th visible row (1-based) with its node row and deleted-before count.
  TCursor LocateVisibleRow(int32_t VisibleRow);
  bool FindKey(const uint8_t* Key, bool IncludeRetained, TIB_Node*& Node, int32_t& Row, int32_t& DeletedBefore);
  void SeekKey(const uint8_t* Key);
  bool RowAtStart() const noexcept { return FRowCursor.Node->Has(nfHead); }
  bool RowAtEnd() const noexcept { return FRowCursor.Node->Has(nfTail); }
  bool BufferAtStart() const noexcept { return FBufferCursor.Node->Has(nfHead); }
  bool BufferAtEnd() const noexcept { return FBufferCursor.Node->Has(nfTail); }

  // ---- clearing and invalidating ---------------------------------------------------------------------
  // Keep: nodes with state survive in the retained list (the trim); DropRecords: records do not count
  // as state.
  void Clear(bool Keep, bool DropRecords);
  void ClearAll();
  void InvalidateNode(TIB_Node* Node);
  // Keep: a node whose data stays (the row being edited starts from it); its row is still answered.
  int32_t InvalidateKey(const uint8_t* Key, const TIB_Node* Keep = nullptr);
  void InvalidateAll(const TIB_Node* Keep = nullptr);
  // Frees the pending inserts (fetching reached the end).
  void ClearPendingInserts();

  // ---- records -------------------------------------------------------------------------------------
  // Packs the row's column values into the node; lengths are clamped to the columns' declared lengths.
  void PackRow(TIB_Node* Node, const TIB_Row& Row);
  // Unpacks the node's record into the row; EIB_Error when the record does not fit the row's columns.
  void UnpackRow(const TIB_Node* Node, TIB_Row& Row) const;
  // The packed length of the row's current values.
  static int32_t PackedLength(const TIB_Row& Row);
  void SetRecord(TIB_Node* Node, const uint8_t* Data, int32_t Length);
  void FreeRecord(TIB_Node* Node);
  // Moves the record into the old-record slot (the row as it was before a cached change).
  void MoveRecordToOld(TIB_Node* Node);
  // Keeps a copy of the node's key as the key the server knows (once).
  void KeepOldKey(TIB_Node* Node);
  // Gives the node a new key, keeping the hashed lookups right; frees the old key when equal.
  void SetNodeKey(TIB_Node* Node, const uint8_t* Key);
  TIB_NodeExtra& ExtraOf(TIB_Node* Node);

  // ---- flags and cached changes ----------------------------------------------------------------------
  void SetAllSelected(bool Value);
  void SetRangeSelected(int32_t RowA, int32_t RowB, bool OthersToo, bool Select);
  // Sets or clears flag 32 keeping the deleted counts and both cursors right.
  void MarkDeleted(TIB_Node* Node, bool Deleted);
  // Flags 8 or 16 on a node (counting it and listing it for update).
  void MarkChanged(TIB_Node* Node, uint16_t Flag);
  // Marks 64 or 128 of the apply walk: the node stops counting as pending.
  void MarkApplied(TIB_Node* Node, uint16_t Mark);
  // Drops marks 64 and 128: the node counts as pending again.
  void ClearApplyMark(TIB_Node* Node);
  bool RevertNode(TIB_Node* Node, bool LeaveInUpdateList);
  void AddToUpdateList(TIB_Node* Node);
  bool RemoveFromUpdateList(TIB_Node* Node);
  // Makes an applied node a plain row (flags cleared, old record and key freed, item dropped).
  void AcceptNode(TIB_Node* Node);

  // Bytes held by records (for the dataset's memory accounting and tests).
  size_t GetRecordBytes() const noexcept { return FStoreLive; }
  // Bytes the record store holds, live or not.
  size_t GetStoreCapacity() const noexcept { return FStoreCapacity; }

private:
  void MoveBy(TCursor& C, int32_t n);
  TIB_Node* TakeNode();
  // The slow steps of TakeNode, IndexAppended and AddKey, kept apart so that the common ones stay short.
  [[gnu::noinline]] TIB_Node* SlabNode();
  [[gnu::noinline]] void IndexAppendedToLookups(TIB_Node* Node);
  [[gnu::noinline]] TIB_Node* AddKeyFound(const uint8_t* Key);
  void ReleaseNode(TIB_Node* Node);
  // Puts a node at the head of the retained list and into its key map.
  void PushRetained(TIB_Node* Node);
  void ClearNodeData(TIB_Node* Node, bool AlsoBlobsAndFlags);
  void LinkBefore(TIB_Node* Node, TIB_Node* Before);
  void Unlink(TIB_Node* Node);
  void CountUp();
  void CountDown(int32_t n);
  // What a removal takes out for Node, whichever way it goes: its update item, the change counts, the
  // deleted totals (InMain: it lies in the main list, else in the retained one) and its entries in the
  // pending and main key maps. The caller unlinks it and fixes the cursors.
  void UncountNode(TIB_Node* Node, bool InMain);
  // The last step of a removal: a cursor at the tail gets the tail's row again, or the last row when it
  // came there only because its own row went (RowWasTail, BufferWasTail: where they stood before).
  void SettleCursorsAtTail(bool RowWasTail, bool BufferWasTail);
  void Reset(bool Full);
  void FreeAllBlocks();
  TIB_Node* NewSentinel();
  size_t NodeSize() const noexcept;
  // The row index and the tree of deleted counts.
  void EnsureIndex();
  void IndexAppended(TIB_Node* Node);
  void InvalidateIndex() noexcept { FIndexValid = FTreeValid = false; }
  void EnsureTree();
  int32_t DeletedUpTo(int32_t Row) const;
  void TreeAdd(int32_t Row, int32_t Delta);
  // Nodes hashed by key bytes (open addressing, linear probing). A node's key must not change while it
  // is in a table: take it out, change the key, put it back.
  class TKeyMap {
  public:
    TKeyMap(int32_t KeyLength = 0, bool ServerKey = false) : FKeyLength(KeyLength), FServerKey(ServerKey) {}
    void emplace(const uint8_t*, TIB_Node* Node);
    void Erase(TIB_Node* Node);
    TIB_Node* Find(const uint8_t* Key) const;
    void clear() noexcept;
    bool empty() const noexcept { return FSize == 0; }
    void reserve(size_t Count);
    template <class F>
    void ForEach(F Fn) const {
      for (TIB_Node* n : FSlots) {
        if (n && n != Tomb()) Fn(n);
      }
    }

  private:
    static TIB_Node* Tomb() noexcept { return reinterpret_cast<TIB_Node*>(uintptr_t{1}); }
    const uint8_t* KeyOf(const TIB_Node* N) const noexcept { return FServerKey ? N->ServerKey() : N->KeyData(); }
    size_t Hash(const uint8_t* K) const noexcept;
    void Rehash(size_t Capacity);
    std::vector<TIB_Node*> FSlots;
    size_t FSize = 0;
    size_t FUsed = 0;
    int32_t FKeyLength;
    bool FServerKey;
  };
  TKeyMap MakeKeyMap(bool ServerKey = false) const { return TKeyMap(FKeyLength, ServerKey); }
  static void MapErase(TKeyMap& Map, const uint8_t*, TIB_Node* Node) { Map.Erase(Node); }
  static TIB_Node* MapFind(const TKeyMap& Map, const uint8_t* Key) { return Map.Find(Key); }
  void EnsureMainMap();
  // How the columns of a row are packed, worked out once per layout of the row (its layout stamp): the
  // rows packed are fields rows, whose columns keep their places, types and lengths until laid out anew.
  struct TPackColumn {
    const uint8_t* Ind;  // nil: the column is never null
    const uint8_t* Data;  // nil: packed as zeros
    uint16_t Length;  // the declared length (a VARCHAR's without its length word)
    uint8_t Kind;
  };
  bool PackPlanned(TIB_Node* Node, const TIB_Row& Row);
  [[gnu::noinline]] void PlanPacking(const TIB_Row& Row);
  // PackRow's way for a record that is measured first.
  [[gnu::noinline]] void PackMeasured(TIB_Node* Node, const TIB_Row& Row);
  // Record store.
  uint8_t* StoreAlloc(int32_t Length);
  void StoreFree(int32_t Length) noexcept { FStoreLive -= static_cast<size_t>(Length); }
  void CompactStore();
  void TakeFromRetained(TIB_Node* Node);

  int32_t FKeyLength = 0;
  int32_t FCount = 0;
  int32_t FPoolCount = 0;
  TIB_Node* FHead = nullptr;
  TIB_Node* FTail = nullptr;
  int32_t FModifiedCount = 0;
  int32_t FInsertedCount = 0;
  int32_t FDeletedCount = 0;
  int32_t FDeletedTotal = 0;
  int32_t FRetainedDeleted = 0;
  TIB_Node* FUpdateFirst = nullptr;
  int32_t FUpdateListCount = 0;
  TIB_Node* FPool = nullptr;
  TIB_Node* FRetained = nullptr;
  int32_t FRetainedCount = 0;
  TCursor FRowCursor, FBufferCursor;
  bool FSelectNew = false;

  // Node slabs (fixed-size blocks) and the record store (chunks filled in turn).
  std::vector<std::unique_ptr<std::byte[]>> FSlabs;
  size_t FSlabUsed = 0;
  size_t FSlabSize = 0;
  std::vector<std::unique_ptr<uint8_t[]>> FChunks;
  size_t FChunkUsed = 0;
  size_t FChunkSize = 0;
  size_t FStoreLive = 0;
  size_t FStoreTotal = 0;
  size_t FStoreCapacity = 0;

  std::vector<TIB_Node*> FIndex;
  std::vector<int32_t> FTree;
  bool FIndexValid = false;
  bool FTreeValid = false;
  TKeyMap FMainMap, FRetainedMap, FPendingMap;
  bool FMainMapValid = false;

  std::vector<TPackColumn> FPackPlan;
  uint64_t FPackStamp = 0;
};
