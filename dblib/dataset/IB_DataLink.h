// Data links: the consumer's end of the path dataset -> data source -> links.
//
// TIB_DataLink holds one data source, turns the numbered events the source passes on into calls of its
// virtual operations and into events of its own, answers what a consumer asks (state, colour, may
// editing start, row numbers), keeps the consumer's search criteria texts and forwards the consumer's
// requests (edit, insert, modify, focus) to the source. TIB_ControlDataLink is the link of data-aware
// controls, grids and bars; TIB_KeyDataLink serves a dataset's KeySource (the dataset is a lookup list
// whose current row gives the key source's row its key); TIB_MasterDataLink serves a dataset's
// MasterSource (the detail follows the master's row).
//
// Ownership: a link owns nothing; it belongs to its consumer (or, for key and master links, to the
// dataset it serves) and leaves its data source when it goes. A key or master link must not outlive
// the dataset it serves.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dblib/IB_Session.h"
#include "dblib/dataset/IB_DataSource.h"

class TIB_Column;
class TIB_DataLink;

using TIB_DataLinkEvent = std::function<void(TIB_DataLink* Sender, TIB_DataSource* ADataSource)>;
// Field nil means every column.
using TIB_DataLinkFieldEvent =
    std::function<void(TIB_DataLink* Sender, TIB_DataSource* ADataSource, TIB_Column* Field)>;

// The numbered requests a link takes from its consumer (Perform).
enum : int32_t {
  dlnAppendRequest = -16,  // post a pending change, move past the last row, then insert
  dlnFocusControl = -17,   // a column asks its control to take the focus (argument: the column)
  dlnInsertRequest = -18,
  dlnModify = -19,      // may the consumer change the data now (starts edit or insert as needed)
  dlnDataChange = -20,  // DataChange with no column
  dlnFocusRequest = -21,
  dlnUpdateData = -22,  // UpdateData with no column
  dlnUpdateDataAll = -23,
};

// What a search action (link event 31) asks of the links' criteria.
enum TIB_SearchAction : uint8_t {
  saClear,
  saSave,
  saRecall,
  saSaveLast,
  saRecallLast,
  saWriteToList,
  saReadFromList,
};

class TIB_DataLink : public TIB_Component {
public:
  explicit TIB_DataLink(TComponent* AOwner);
  ~TIB_DataLink() override;
  // Ends a held busy bracket and leaves the data source.
  void BeforeDestruction() override;
  void Loaded() override;
  void SetSession(TIB_Session* ASession) override;

  TIB_DataSource* GetDataSource() const noexcept { return FDataSource; }
  // Event 0 with the new source, move, event 1 with the old one; nothing when equal.
  void SetDataSource(TIB_DataSource* Value);

  // ---- dispatcher and requests -----------------------------------------------------------------------
  virtual void ProcessEvent(int32_t AEvent, intptr_t AArg);
  // The numbered requests (dlnAppendRequest ... dlnUpdateDataAll).
  virtual bool Perform(int32_t Code, intptr_t AArg = 0);
  // The source's edit request; false without source.
  bool Edit();
  virtual bool Modify();

  // ---- queries ---------------------------------------------------------------------------------------
  TIB_Dataset* GetDataset() const;
  bool GetPrepared() const;
  bool GetActive() const;
  TIB_DatasetState GetDataState() const;
  uint8_t GetRowState() const;
  bool GetModifying() const;
  bool GetCanModify();
  bool GetEditing();
  bool GetEditable() const noexcept { return FEditable; }
  bool GetBof() const;
  bool GetEof() const;
  bool GetDatasetAtEnd() const;
  int32_t GetRowNum() const;
  int32_t GetBufferRowNum() const;
  void SetBufferRowNum(int32_t Value);
  int32_t GetBufferCount() const;
  bool GetDisabled() const;
  bool GetUseColorScheme() const;
  virtual TColor GetStateColor();

  virtual bool GetStatePrevented();
  virtual bool GetPreventDeleting();
  virtual bool GetPreventEditing();
  virtual bool GetPreventInserting();
  virtual bool GetPreventSearching();
  virtual std::string GetLinkName() { return std::string(); }
  virtual TIB_Column* GetField() { return nullptr; }

  // ---- settings --------------------------------------------------------------------------------------
  bool GetReceiveFocus() const override { return FReceiveFocus; }
  void SetReceiveFocus(bool Value);
  void DoReceiveFocus(TIB_Component* AFocused) override;
  bool GetIgnoreColorScheme() const noexcept { return FIgnoreColorScheme; }
  void SetIgnoreColorScheme(bool Value);
  bool GetSearchAlways() const noexcept { return FSearchAlways; }
  void SetSearchAlways(bool Value);
  bool GetAllEvents() const noexcept { return FAllEvents; }
  void SetAllEvents(bool Value) { FAllEvents = Value; }

  // ---- search criteria -------------------------------------------------------------------------------
  virtual std::string GetSearchBuffer() { return FSearchBuffer; }
  void SetSearchBuffer(const std::string& Value);
  const std::string& GetSearchDisplay() const noexcept { return FSearchDisplay; }
  void SetSearchDisplay(const std::string& Value);
  std::string GetSearchDisplayText();
  const std::string& GetSearchWhere() const noexcept { return FSearchWhere; }
  void SetSearchWhere(const std::string& Value);
  const std::string& GetSearchData() const noexcept { return FSearchData; }
  virtual void SetSearchData(const std::string& Value);
  void ClearCriteria();
  // Clears the criteria and the saved criteria (the dataset was unprepared).
  void ForgetCriteria();
  void SaveCriteria();
  void RecallCriteria();
  void SaveLastCriteria();
  void RecallLastCriteria();
  void WriteCriteria();
  void ReadCriteria();

  // ---- consumer notices ------------------------------------------------------------------------------
  virtual void StateChanged();
  virtual void DataChange(TIB_Column* Field);
  virtual void UpdateData(TIB_Column* Field);
  virtual void Refresh();
  void NotifyDataChange() { DataChange(nullptr); }
  // Adds the link's criteria to the dataset's search conditions while it prepares.
  virtual void SysPrepareSQL();

  // Holds the session busy (without the busy cursor) until EndBusy; once per link.
  void BeginBusy();
  void EndBusy();

  TIB_DataLinkEvent AfterAssignment, AfterExecute, BeforeAssignment, BeforeExecute, OnPreparedChanged, OnPrepareSQL,
      OnReceiveFocus, OnEditingChanged, OnActiveChange, OnStateChanged, OnLayoutChanged;
  TIB_DataLinkFieldEvent OnDataChange, OnUpdateData;
  TIB_DataLinkEvent OnOrderingChanged, OnOrderingLinkChanged, OnSearchingLinkChanged;

protected:
  friend class TIB_DataSource;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Lets go of the source without events (the source is going and the link refused to leave).
  void DropDataSource() noexcept;
  bool CanFire() const { return !HasState(csLoading) && !HasState(csDestroying); }
  void Fire(const TIB_DataLinkEvent& Event);
  void FireField(const TIB_DataLinkFieldEvent& Event, TIB_Column* Field);

  virtual TColor GetEditingColor();
  virtual TColor GetInsertingColor();
  virtual TColor GetDeletingColor();
  virtual TColor GetSearchingColor();
  virtual TColor GetInvalidColor();
  virtual void DoPreparedChanged();
  virtual void DoLayoutChanged() { Fire(OnLayoutChanged); }
  virtual void SysRebindField() {}
  virtual void SysAfterEvent(int32_t /*AEvent*/, intptr_t /*AArg*/) {}
  virtual void DoBeforeAssignment();
  virtual void DoAfterAssignment();
  virtual void DoPrepareSQL() { Fire(OnPrepareSQL); }
  virtual void SysBeforeRowChange() {}
  virtual void SysActiveChanged() {}
  virtual void SysAfterAssignment() { SysColumnHook(nullptr); }
  virtual void SysEditingChanged() {}
  virtual void SysColumnHook(TIB_Column* /*Column*/) {}
  void DoEditingChanged();
  // Runs the criteria action of link event 31.
  void SearchAction(int32_t Action);
  // Criteria changed outside an update: the dataset's SQL is invalid and, in search mode, the
  // consumer shows the change.
  void ApplyCriteria(TIB_Column* Field);
  void InvalidateDatasetSQL();

  int32_t FModifyLevel = 0;
  bool FUpdatingData = false;
  int32_t FCriteriaLevel = 0;
  bool FCriteriaPending = false;
  std::string FSearchBuffer, FSavedBuffer, FLastBuffer;
  std::string FSearchDisplay, FSavedDisplay, FLastDisplay;
  std::string FSearchWhere, FSavedWhere, FLastWhere;
  std::string FSearchData, FSavedData, FLastData;

private:
  // Stores Value in Text when it differs; true when stored (and, outside an update, clears the flag).
  bool StoreCriteria(std::string& Text, const std::string& Value);

  TIB_DataSource* FDataSource = nullptr;
  bool FReceiveFocus = false;
  bool FEditable = false;
  bool FIgnoreColorScheme = false;
  bool FSearchAlways = false;
  bool FAllEvents = false;
  bool FBusyHold = false;
};

// The link of a data-aware control, grid or bar. Control is the visual component that owns the link.
class TIB_ControlDataLink : public TIB_DataLink {
public:
  explicit TIB_ControlDataLink(TComponent* AOwner);
  TComponent* GetControl() const noexcept { return FControl; }
  void SetControl(TComponent* Value) { FControl = Value; }
  // The control reports whether it is enabled for input (true without a control).
  std::function<bool()> GetControlEnabled;
  // The control repaints (Refresh).
  std::function<void()> OnRepaint;

  bool GetModified() const noexcept { return FModified; }
  // True in search mode makes the dataset's SQL invalid.
  void SetModified(bool Value);
  bool GetReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool Value);
  void SetPreventDeleting(bool Value);
  void SetPreventEditing(bool Value);
  void SetPreventInserting(bool Value);
  void SetPreventSearching(bool Value);

  bool GetStatePrevented() override;
  bool GetPreventDeleting() override;
  bool GetPreventEditing() override;
  bool GetPreventInserting() override;
  bool GetPreventSearching() override;
  // "CTL." + owner name + "." + control name ("CTL." + control name without owner); empty without control.
  std::string GetLinkName() override;
  std::string GetSearchBuffer() override;
  void DataChange(TIB_Column* Field) override;
  void UpdateData(TIB_Column* Field) override;
  void Refresh() override;

protected:
  TColor GetInvalidColor() override;

private:
  void SetFlag(bool& Flag, bool Value);
  TComponent* FControl = nullptr;
  bool FModified = false;
  bool FReadOnly = false;
  bool FPreventDeleting = false;
  bool FPreventEditing = false;
  bool FPreventInserting = false;
  bool FPreventSearching = false;
};

// Serves a dataset D whose KeySource is this link's source: D follows the key source's row and, while
// the key source searches, D's current row becomes the key source's criteria.
class TIB_KeyDataLink : public TIB_DataLink {
public:
  TIB_KeyDataLink(TComponent* AOwner, TIB_Dataset* ADataset);
  TIB_Dataset* GetOwningDataset() const noexcept { return FOwningDataset; }
  // The key link that serves ADataset (nil without one).
  static TIB_KeyDataLink* ForDataset(const TIB_Dataset* ADataset);

  // "KLNK." + owner name + "." + dataset name ("KLNK." + dataset name without owner).
  std::string GetLinkName() override;
  void SetSearchData(const std::string& Value) override;
  void StateChanged() override;
  void DataChange(TIB_Column* Field) override;
  bool Modify() override;
  // D's row as the key source's criteria (called when D's data changes while the key source searches).
  void SyncCriteria();
  // "(" KEYCOL = value [AND ...] ")" for D's current row; empty without a row. Values are written as
  // SQL literals: numbers with a '.' whatever the locale, NULL as IS NULL, text quoted safely.
  std::string BuildKeyWhere();

  // Raised while the link clears its criteria on leaving its source (no bookmark moves meanwhile).
  int32_t FSyncCount = 0;

protected:
  void DoBeforeAssignment() override;
  void DoAfterAssignment() override;
  void DoPreparedChanged() override;
  void SysBeforeRowChange() override;

private:
  void OwnerStateChanged();
  void MoveOwnerToSearchData();
  TIB_Dataset* FOwningDataset;
  bool FGuard = false;
  int32_t FStateNesting = 0;
};

// Serves a detail dataset D whose MasterSource is this link's source: D hears the master's events
// first, posts before the master leaves its row and follows the master's row.
class TIB_MasterDataLink : public TIB_DataLink {
public:
  TIB_MasterDataLink(TComponent* AOwner, TIB_Dataset* ADataset);
  TIB_Dataset* GetOwningDataset() const noexcept { return FOwningDataset; }
  // The master link that serves ADataset (nil without one), and its data source.
  static TIB_MasterDataLink* ForDataset(const TIB_Dataset* ADataset);
  static TIB_DataSource* MasterSourceOf(const TIB_Dataset* ADataset);

  void StateChanged() override;
  void DataChange(TIB_Column* Field) override;
  void SysPrepareSQL() override;

protected:
  void DoAfterAssignment() override;
  void SysBeforeRowChange() override;

private:
  TIB_Dataset* FOwningDataset;
  int32_t FNesting = 0;
};
