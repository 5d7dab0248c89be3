// Helpers of the data source, data link and search tests: a cursor that accepts edits and inserts, and
// a data link that logs what reaches it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_DataLink.h"
#include "dblib/dataset/IB_DataSource.h"

namespace linktest {

// A forward-only cursor that may edit its current row and insert.
class EditableCursor : public TIB_Cursor {
public:
  using TIB_Cursor::TIB_Cursor;
  bool CanInsert = true;
  bool GetCanEdit() override { return GetFields()->GetRowState() != rsNone; }
  bool GetCanInsert() override { return CanInsert; }
};

// Logs "<name>:<event code>" for each event and "<name>:state" for each state notice.
class LogLink : public TIB_ControlDataLink {
public:
  LogLink(TComponent* AOwner, std::vector<std::string>& ALog, std::string AName,
          std::vector<int> ACodes = {0, 1, 20, 22, 23, 24})
      : TIB_ControlDataLink(AOwner), Log(ALog), Name(std::move(AName)), Codes(std::move(ACodes)) {}
  std::vector<std::string>& Log;
  std::string Name;
  std::vector<int> Codes;
  std::function<void()> OnState;
  void ProcessEvent(int32_t AEvent, intptr_t AArg) override {
    if (std::find(Codes.begin(), Codes.end(), AEvent) != Codes.end())
      Log.push_back(Name + ":" + std::to_string(AEvent));
    TIB_ControlDataLink::ProcessEvent(AEvent, AArg);
  }
  void StateChanged() override {
    Log.push_back(Name + ":state");
    TIB_ControlDataLink::StateChanged();
    if (OnState) OnState();
  }
};

}  // namespace linktest
