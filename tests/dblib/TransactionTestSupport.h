// A stand-in for a dataset as its transaction sees it: it does what a dataset would and records each
// step ("Name.Post", "Name.DML1:ID" ...) in a log shared by the test.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dblib/IB_Transaction.h"
#include "platform/Dialogs.h"

using TLog = std::vector<std::string>;

class TFakeDataset : public TIB_TransactionDatasetIntf {
public:
  TFakeDataset(std::string Name, TLog& Log) : FName(std::move(Name)), FLog(Log) {}

  std::string GetDatasetName() const override { return FName; }
  TIB_Connection* GetDatasetConnection() const override { return Connection; }
  bool GetActive() const override { return Active; }
  bool GetIsModifying() const override { return Modifying; }
  bool GetCachedUpdates() const override { return CachedUpdates; }
  bool GetUpdatesPending() const override { return UpdatesPending; }
  bool GetBuffered() const override { return Buffered; }
  bool GetUnidirectional() const override { return Unidirectional; }
  bool GetCursorIsOpen() const override { return CursorOpen; }
  TIB_CommitAction GetCommitAction() const override { return CommitAction; }
  bool GetHoldsRowLock() const override { return RowLock; }
  void ClearRowLock() override { RowLock = false; }
  bool GetHasPartner() const override { return Partner; }
  TIB_DMLCacheFlags GetDMLCacheFlags() const override { return Flags; }

  void Post() override {
    Do("Post");
    if (PostFails) throw EIB_DatasetError("post refused");
    if (!PostIsIgnored) EndEdit();
  }
  void Cancel() override {
    Do("Cancel");
    EndEdit();
  }
  void Close() override {
    Do("Close");
    Active = false;
  }
  void FetchAll() override { Do("FetchAll"); }
  void RefreshKeys() override { Do("RefreshKeys"); }
  void Refresh() override {
    Do("Refresh");
    if (RefreshFails) throw EIB_DatasetError("refresh failed");
  }
  void ApplyUpdates() override { Do("ApplyUpdates"); }
  void CommitUpdates() override { Do("CommitUpdates"); }
  void CancelUpdates() override { Do("CancelUpdates"); }
  void ProcessDMLCacheItem(const TIB_DMLCacheItem& Item) override {
    Do("DML" + std::to_string(Item.GetDMLCacheItemType()) + ":" + Item.GetKeyFieldNames());
  }
  int32_t GetBufferedRowCount() const override { return Rows; }
  // Logs the limit; a fetch that reaches the end closes the cursor, as a dataset tells its transaction.
  void FetchForTicks(uint32_t Ticks) override {
    Do("Fetch" + std::to_string(Ticks));
    if (OnFetch) OnFetch(Ticks);
    if (!FetchReachesEnd || !CursorOpen) return;
    CursorOpen = false;
    if (Transaction) Transaction->AdjustOpenCursorCount(-1);
  }

  // Puts the dataset in edit state, as a dataset tells its transaction.
  void BeginEdit() {
    Modifying = true;
    if (Transaction) Transaction->AdjustPostPendingCount(1);
  }

  TIB_Transaction* Transaction = nullptr;
  TIB_Connection* Connection = nullptr;
  bool Active = true, Modifying = false, CachedUpdates = false, UpdatesPending = false, Buffered = false;
  bool Unidirectional = false, CursorOpen = false, RowLock = false, Partner = false;
  bool PostFails = false, PostIsIgnored = false, RefreshFails = false;
  TIB_CommitAction CommitAction = caClose;
  TIB_DMLCacheFlags Flags = 0;
  int32_t Rows = 0;
  bool FetchReachesEnd = false;
  std::function<void(uint32_t Ticks)> OnFetch;

private:
  void Do(const std::string& What) { FLog.push_back(FName + "." + What); }
  void EndEdit() {
    if (!Modifying) return;
    Modifying = false;
    if (Transaction) Transaction->AdjustPostPendingCount(-1);
  }
  std::string FName;
  TLog& FLog;
};

// Answers every confirmation with one result (mrNone: the headless dialogs' answer, as when nobody is
// there), keeps the texts it was asked and runs Inside while the box shows.
class TAnsweringDialogs : public TDialogs {
public:
  explicit TAnsweringDialogs(TModalResult Answer) : FAnswer(Answer) { FPrevious = SetDialogs(this); }
  ~TAnsweringDialogs() override { SetDialogs(FPrevious); }
  TModalResult MessageDlg(const std::string& Msg, TMsgDlgType Type, const TMsgDlgButtons& Buttons, int32_t Help,
                          TMsgDlgBtn Default) override {
    Asked.push_back(Msg);
    AllThree = Buttons.Contains(mbYes) && Buttons.Contains(mbNo) && Buttons.Contains(mbCancel);
    if (Inside) Inside();
    return FAnswer != mrNone ? FAnswer : TDialogs::MessageDlg(Msg, Type, Buttons, Help, Default);
  }
  std::vector<std::string> Asked;
  bool AllThree = false;
  std::function<void()> Inside;

private:
  TModalResult FAnswer;
  TDialogs* FPrevious;
};
