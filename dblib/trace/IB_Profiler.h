// The server statistics profiler: asks the server for the statistics of one attachment (memory, buffers,
// pages and per-relation record operations) with the database information request, keeps two snapshots
// (banks) and writes a text report of what changed from the start snapshot to the newest one.
//
// A TIB_Profiler owns its connection link and both reply buffers; the per-relation pairs of a bank are
// copies, valid until that bank is filled again. The call monitor owns one profiler and reports at every
// profile point; a profiler can also stand alone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dblib/IB_Session.h"

class TIB_Connection;
class TIB_ConnectionLink;

enum TIB_ProfilerGroup { pgMemory, pgPages, pgRead, pgRecord, pgVersionRemoval };
using TIB_ProfilerGroups = uint8_t;  // bits 1 << TIB_ProfilerGroup
inline constexpr TIB_ProfilerGroups IB_AllProfilerGroups = 0x1F;

class TIB_Profiler : public TIB_Component {
public:
  explicit TIB_Profiler(TComponent* AOwner);
  ~TIB_Profiler() override;

  virtual TIB_Connection* GetIB_Connection() const;
  // A different connection discards both snapshots.
  virtual void SetIB_Connection(TIB_Connection* Value);

  TIB_ProfilerGroups GetProfilerGroups() const noexcept { return FProfilerGroups; }
  // A different set of groups rebuilds the request and discards both snapshots.
  void SetProfilerGroups(TIB_ProfilerGroups Value);
  bool GetIncludeTimeStamp() const noexcept { return FIncludeTimeStamp; }
  void SetIncludeTimeStamp(bool Value) { FIncludeTimeStamp = Value; }
  // Per-relation lines below MinRelationCount, and sections whose total is below MinSectionCount, are
  // left out (0: all that grew).
  int32_t GetMinRelationCount() const noexcept { return FMinRelationCount; }
  void SetMinRelationCount(int32_t Value) { FMinRelationCount = Value; }
  int32_t GetMinSectionCount() const noexcept { return FMinSectionCount; }
  void SetMinSectionCount(int32_t Value) { FMinSectionCount = Value; }
  bool GetLoadingRelations() const noexcept { return FLoadingRelations; }

  // The information request (item codes ended by isc_info_end).
  std::string GetRequestItems() const { return std::string(FRequestItems.data(), FRequestLength); }

  // Both banks invalid, the start and current bank 0.
  void ResetBanks();
  // Takes a snapshot into the bank that is not the start bank. Raises Exception "Profiler not connected!"
  // without an attached connection, "Profiler has no request items" for an empty request; a failed
  // request raises the engine's error.
  void Grab();
  // Takes a snapshot and writes the report of the differences to the start bank (CR LF line ends). The
  // first report only marks the start. With MarkAsStart the new snapshot becomes the next start.
  void Report(const std::string& Label, bool MarkAsStart, std::string& Text);

private:
  struct TPair {
    uint16_t Id;
    int64_t Count;
  };
  struct TBank {
    bool Valid = false;
    std::array<int64_t, 8> Counters{};        // in the order of the report's overall block
    std::array<std::vector<TPair>, 8> Pairs;  // per relation item, in the order of the report's sections
    std::vector<char> Buffer;
  };

  void UpdateRequestItemsBuffer();
  void LoadRelationNames();
  void ParseReply(TBank& Bank);
  std::string RelationName(uint16_t Id);
  std::string Section(int Item, const char* Title);
  std::string TimeStampLine() const;

  TIB_ConnectionLink* FConnectionLink;
  TIB_ProfilerGroups FProfilerGroups = IB_AllProfilerGroups;
  std::array<char, 18> FRequestItems{};
  int32_t FRequestLength = 0;
  bool FLoadingRelations = false;
  TBank FBanks[2];
  int32_t FStartBank = 0;
  int32_t FCurrentBank = 0;
  bool FIncludeTimeStamp = false;
  int32_t FMinRelationCount = 0;
  int32_t FMinSectionCount = 0;
};
