// The data source: the joint between one dataset and the data links of the controls that show it.
//
// TIB_DataSource is a statement link whose statement is a TIB_Dataset. It passes every numbered
// event of the dataset on to its data links (holding data changes back while it is disabled), tells
// them when the dataset's state changes, answers the questions links ask about the dataset (state,
// row state, read-only, may editing start) and carries the links' requests back to the dataset (edit,
// insert, modify, refresh, focus). One dataset may feed several data sources.
//
// Ownership: a data source owns only its list of links, not the links nor the dataset. A link leaves
// the list when it moves elsewhere or goes; the source detaches every remaining link and its dataset
// when it goes itself, and a dataset that goes first detaches its sources. Do not keep the pointer
// GetDataset() returns beyond the dataset's life.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "dblib/IB_StatementLinks.h"
#include "dblib/dataset/IB_Dataset.h"

class TIB_Column;
class TIB_DataLink;
class TIB_DataSource;

using TIB_DataSourceEvent = std::function<void(TIB_DataSource* Sender, TIB_Dataset* ADataset)>;
// Field nil means every column.
using TIB_ColLinkEvent = std::function<void(TIB_StatementLink* Sender, TIB_Statement* Statement, TIB_Column* Field)>;

// The numbered requests a data source takes (Perform): links ask these of it.
enum : int32_t {
  dsnEditRequest = -16,    // put the dataset into dssEdit when AutoEdit allows
  dsnInsertRequest = -17,  // put the dataset into dssInsert when AutoInsert allows
  dsnModifyRequest = -18,  // edit, or insert when there is no current row
  dsnModifying = -19,      // true in dssSearch, dssEdit and dssInsert
  dsnRefresh = -20,        // data change (22) with no column to every link
  dsnFocusRequest = -21,   // become the session's focused data source when AllowFocus
};

// Statement-link codes a data source and its links handle besides the statement's own.
enum : int32_t {
  sleBeforeRowChange = 14,
  sleOrderingChanged = 28,
  sleOrderingLinkChanged = 29,
  sleSearchingLinkChanged = 30,
  sleSearchAction = 31,
};

class TIB_DataSource : public TIB_StatementLink, public TIB_DatasetSourceIntf, public TIB_DatasetLinkSource {
public:
  explicit TIB_DataSource(TComponent* AOwner);
  ~TIB_DataSource() override;
  // Detaches the dataset (links see events 0 and 1), then every link; leaves the session's list.
  void BeforeDestruction() override;
  void SetSession(TIB_Session* ASession) override;

  TIB_Dataset* GetDataset() const;
  // EIB_DatasetError "Circular reference not allowed" when Value's chain of master sources leads back
  // to this source; nothing changes then.
  void SetDataset(TIB_Dataset* Value);
  // EIB_DatasetError "Invalid class type" for a statement that is not a dataset, before anything changes.
  void SetStatement(TIB_Statement* AStatement) override;
  void DoPrepareSQL() override;
  void ProcessEvent(int32_t AEvent, intptr_t AArg) override;

  // The numbered requests (dsnEditRequest ... dsnFocusRequest); other codes answer false.
  virtual bool Perform(int32_t Code);

  // ---- properties ------------------------------------------------------------------------------------
  bool GetAutoEdit() const noexcept { return FAutoEdit; }
  void SetAutoEdit(bool Value) { FAutoEdit = Value; }
  bool GetAutoInsert() const noexcept { return FAutoInsert; }
  void SetAutoInsert(bool Value) { FAutoInsert = Value; }
  bool GetAnnounceFocus() const override { return FAnnounceFocus; }
  // True also turns AllowFocus on.
  void SetAnnounceFocus(bool Value);
  bool GetAllowFocus() const noexcept { return FAllowFocus; }
  // False also turns AnnounceFocus off.
  void SetAllowFocus(bool Value);
  // AllowFocus goes to a stored form only where AnnounceFocus does not imply it.
  bool IsAllowFocusStored() const noexcept { return FAllowFocus && !FAnnounceFocus; }
  bool GetEnabled() const noexcept { return FUpdateCount == 0; }
  // False holds the dataset's state and data notices back. True runs a held-back state change through
  // the links (StateChanged) and then fires OnDataChange once when anything was held back; the links
  // themselves get no data notice at re-enabling.
  void SetEnabled(bool Value);
  int32_t GetUpdateCount() const noexcept { return FUpdateCount; }

  // ---- links -----------------------------------------------------------------------------------------
  int32_t Get_DataLinkCount() const noexcept { return static_cast<int32_t>(FDataLinks.size()); }
  // Nil outside 0..count-1.
  TIB_DataLink* GetDataLink(int32_t Index) const;
  bool HasDataLink(const TIB_DataLink* ALink) const;
  // Moves a registered link to the front of the list (it then hears every event first).
  void MoveDataLinkToFront(TIB_DataLink* ALink);

  // ---- what links ask --------------------------------------------------------------------------------
  TIB_DatasetState GetState() const;
  uint8_t GetRowState() const;
  bool GetEof() const;
  bool GetBof() const;
  bool GetReadOnly() const;
  bool GetModifying() const;
  bool GetCanModify();
  // The state fan-out: OnStateChanged, then every link's StateChanged.
  void NotifyDataLinks();

  // ---- focus -----------------------------------------------------------------------------------------
  void DoGainFocus() override;
  void DoLoseFocus() override;
  TIB_Component* GetFocusPeer(TIB_FocusRole Role) const override;

  // ---- what the dataset asks -------------------------------------------------------------------------
  void DatasetStateChanged(TIB_Dataset* ADataset) override;
  void DatasetDestroying(TIB_Dataset* ADataset) override;
  // What a dataset that names this source as its KeySource or MasterSource asks.
  TIB_Dataset* GetLinkDataset() override { return GetDataset(); }

  TIB_DataSourceEvent BeforeAssignment, AfterAssignment, OnGainFocus, OnLoseFocus, OnStateChanged;
  TIB_ColLinkEvent OnDataChange, OnUpdateData;

private:
  friend class TIB_DataLink;
  void AddDataLink(TIB_DataLink* ALink);
  void RemoveDataLink(TIB_DataLink* ALink);
  bool CanFire() const { return !HasState(csLoading) && !HasState(csDestroying); }
  void Fire(const TIB_DataSourceEvent& Event);
  void FireColumn(const TIB_ColLinkEvent& Event, intptr_t AArg);
  // True when Value's master chain reaches this source (every dataset visited once).
  bool LeadsBackHere(TIB_Dataset* Value) const;

  std::vector<TIB_DataLink*> FDataLinks;
  bool FAutoEdit = true;
  bool FAutoInsert = true;
  bool FAnnounceFocus = false;
  bool FAllowFocus = false;
  bool FStatePending = false;
  bool FDataPending = false;
  int32_t FUpdateCount = 0;
};
