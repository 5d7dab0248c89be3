#include "dblib/trace/IB_Profiler.h"

#include "dblib/IB_Connection.h"
#include "dblib/IB_Constants.h"
#include "platform/Locale.h"
#include "platform/ScopeGuards.h"

namespace {

constexpr size_t kReplySize = 32760;

// The reply items of the overall block, in report order, with their labels.
struct TCounterItem {
  unsigned char Code;
  const char* Label;
};
constexpr TCounterItem kCounters[8] = {
    {isc_info_current_memory, "  Current Memory = "},  {isc_info_max_memory, "  Max Memory = "},
    {isc_info_num_buffers, "  Num Memory Buffers = "}, {isc_info_fetches, "  Num Buffer Reads = "},
    {isc_info_marks, "  Num Buffer Writes = "},        {isc_info_allocation, "  Num Pages Allocated = "},
    {isc_info_reads, "  Num Page Reads = "},           {isc_info_writes, "  Num Page Writes = "}};
// The per-relation items, in report order, with their section titles.
constexpr TCounterItem kRelationItems[8] = {{isc_info_read_seq_count, "SEQUENTIAL (NON-INDEXED) READS"},
                                            {isc_info_read_idx_count, "INDEXED READS"},
                                            {isc_info_insert_count, "INSERT COUNT"},
                                            {isc_info_update_count, "UPDATE COUNT"},
                                            {isc_info_delete_count, "DELETE COUNT"},
                                            {isc_info_backout_count, "VERSION BACKOUT COUNT"},
                                            {isc_info_expunge_count, "VERSION EXPUNGE COUNT"},
                                            {isc_info_purge_count, "VERSION PURGE COUNT"}};
// The items each group asks for, in request order.
const std::vector<unsigned char> kGroupItems[5] = {
    {isc_info_current_memory, isc_info_max_memory, isc_info_num_buffers, isc_info_fetches, isc_info_marks},
    {isc_info_allocation, isc_info_reads, isc_info_writes},
    {isc_info_read_seq_count, isc_info_read_idx_count},
    {isc_info_insert_count, isc_info_update_count, isc_info_delete_count},
    {isc_info_backout_count, isc_info_expunge_count, isc_info_purge_count}};

// A little-endian integer of Length bytes (the client's portable format), at most 8 of them.
int64_t PortableInteger(const unsigned char* P, size_t Length) {
  uint64_t v = 0;
  for (size_t i = 0; i < Length && i < 8; ++i) v |= static_cast<uint64_t>(P[i]) << (8 * i);
  if (Length > 0 && Length < 8 && (P[Length - 1] & 0x80)) v |= ~uint64_t{0} << (8 * Length);
  return static_cast<int64_t>(v);
}

std::string Count(int64_t V) { return FormatFloat("#,##0", static_cast<long double>(V)); }

}  // namespace

TIB_Profiler::TIB_Profiler(TComponent* AOwner) : TIB_Component(AOwner) {
  FConnectionLink = new TIB_ConnectionLink(this);
  for (TBank& b : FBanks) b.Buffer.assign(kReplySize, 0);
  ResetBanks();
  UpdateRequestItemsBuffer();
}

TIB_Profiler::~TIB_Profiler() = default;

TIB_Connection* TIB_Profiler::GetIB_Connection() const { return FConnectionLink->GetIB_Connection(); }

void TIB_Profiler::SetIB_Connection(TIB_Connection* Value) {
  if (Value == GetIB_Connection()) return;
  if (GetIB_Connection()) ResetBanks();
  FConnectionLink->SetIB_Connection(Value);
}

void TIB_Profiler::SetProfilerGroups(TIB_ProfilerGroups Value) {
  Value &= IB_AllProfilerGroups;
  if (Value == FProfilerGroups) return;
  FProfilerGroups = Value;
  UpdateRequestItemsBuffer();
}

void TIB_Profiler::ResetBanks() {
  for (TBank& b : FBanks) b.Valid = false;
  FStartBank = 0;
  FCurrentBank = 0;
}

void TIB_Profiler::UpdateRequestItemsBuffer() {
  FRequestLength = 0;
  for (int g = pgMemory; g <= pgVersionRemoval; ++g)
    if (FProfilerGroups & (1u << g))
      for (unsigned char item : kGroupItems[g]) FRequestItems[FRequestLength++] = static_cast<char>(item);
  FRequestItems[FRequestLength++] = isc_info_end;
  ResetBanks();
}

void TIB_Profiler::LoadRelationNames() {
  TIB_Connection* conn = GetIB_Connection();
  if (!conn) {
    TIB_Session* s = GetSession();
    conn = s ? s->GetDefaultConnection() : nullptr;
    if (conn) SetIB_Connection(conn);
  }
  if (!conn || !conn->GetConnected()) return;
  if (TIB_ConnectionSchemaCache* cache = conn->GetSchemaCache()) cache->GetRelationsByID();
}

void TIB_Profiler::Grab() {
  if (!FLoadingRelations) {
    // Loading the names runs a query, which under a monitor reaches the profile points again: the
    // nested reports skip the loading.
    TValueRestorer<bool> loading(FLoadingRelations, true);
    LoadRelationNames();
  }
  FCurrentBank = FStartBank == 0 ? 1 : 0;
  TBank& bank = FBanks[FCurrentBank];
  bank.Valid = false;
  bank.Counters.fill(0);
  for (auto& p : bank.Pairs) p.clear();

  TIB_Connection* conn = GetIB_Connection();
  if (!conn || !conn->GetConnected()) IB_Raise<Exception>(IBMsg::ProfilerNotConnected);
  if (FRequestLength <= 0) IB_Raise<Exception>(IBMsg::ProfilerNoRequestItems);
  TIB_Session* s = conn->GetSession();
  s->CallChecked(this, s->Entries.isc_database_info, conn->GetdbHandle(), static_cast<short>(FRequestLength),
                 static_cast<const char*>(FRequestItems.data()), static_cast<short>(kReplySize), bank.Buffer.data());
  ParseReply(bank);
  bank.Valid = true;
}

void TIB_Profiler::ParseReply(TBank& Bank) {
  const auto* buf = reinterpret_cast<const unsigned char*>(Bank.Buffer.data());
  size_t pos = 0;
  // A truncated or failed reply ends where the server says so.
  while (pos < kReplySize && buf[pos] != isc_info_end && buf[pos] != isc_info_truncated && buf[pos] != isc_info_error) {
    const unsigned char code = buf[pos];
    if (pos + 3 > kReplySize) IB_Raise<EIB_Error>(IBMsg::ProfilerReplyOutsideBuffer);
    const size_t length = static_cast<size_t>(buf[pos + 1]) | static_cast<size_t>(buf[pos + 2]) << 8;
    pos += 3;
    if (pos + length > kReplySize) IB_Raise<EIB_Error>(IBMsg::ProfilerReplyOutsideBuffer);
    const unsigned char* value = buf + pos;
    for (int i = 0; i < 8; ++i) {
      if (kCounters[i].Code == code) Bank.Counters[i] = PortableInteger(value, length);
      if (kRelationItems[i].Code != code) continue;
      if (length % 6 != 0) IB_Raise<EIB_Error>(IBMsg::ProfilerPairLength);
      auto& pairs = Bank.Pairs[i];
      pairs.reserve(length / 6);
      // Each pair is a 16-bit relation id and a 32-bit count, read byte by byte (no alignment holds).
      for (size_t k = 0; k < length; k += 6)
        pairs.push_back({static_cast<uint16_t>(value[k] | value[k + 1] << 8),
                         static_cast<int64_t>(static_cast<uint32_t>(PortableInteger(value + k + 2, 4)))});
    }
    pos += length;
  }
}

std::string TIB_Profiler::RelationName(uint16_t Id) {
  std::string name;
  TIB_Connection* conn = GetIB_Connection();
  // While the names load, the list is not asked again (that would load it once more).
  if (conn && !FLoadingRelations)
    if (TIB_ConnectionSchemaCache* cache = conn->GetSchemaCache())
      name = Trim(cache->GetRelationsByID()->GetLinkValueByName(IntToStr(Id)));
  return name.empty() ? "RELATION_ID=" + IntToStr(Id) : name;
}

std::string TIB_Profiler::Section(int Item, const char* Title) {
  const auto& current = FBanks[FCurrentBank].Pairs[Item];
  const auto& start = FBanks[FStartBank].Pairs[Item];
  std::string groups[6];
  int64_t total = 0;
  size_t last = start.size() - 1;  // the next lookup begins just after the pair matched last
  size_t matched = 0;
  for (const TPair& pair : current) {
    int64_t diff = pair.Count;
    for (size_t tries = 0; matched < start.size() && tries < start.size(); ++tries) {
      last = (last + 1) % start.size();
      if (start[last].Id == pair.Id) {
        diff -= start[last].Count;
        ++matched;
        break;
      }
    }
    total += diff;
    if (diff < 1 || diff < FMinRelationCount) continue;
    const int group = diff >= 100000 ? 0 : diff >= 10000 ? 1 : diff >= 1000 ? 2 : diff >= 100 ? 3 : diff >= 10 ? 4 : 5;
    groups[group] += "  " + Count(diff) + "  " + RelationName(pair.Id) + sLineBreak;
  }
  if (total <= 0 || total < FMinSectionCount) return {};
  std::string text = std::string("*** ") + Title + " ***  " + Count(total) + sLineBreak;
  for (const std::string& g : groups) text += g;
  return text;
}

std::string TIB_Profiler::TimeStampLine() const {
  return FIncludeTimeStamp ? "[ " + DateTimeToStr(Now()) + " ]" + sLineBreak : std::string();
}

void TIB_Profiler::Report(const std::string& Label, bool MarkAsStart, std::string& Text) {
  Text.clear();
  Grab();
  const std::string loading = FLoadingRelations ? "(loading RelationsByID)" : "";
  const std::string label = Label.empty() ? "" : " -- " + Label;
  const TBank& start = FBanks[FStartBank];
  const TBank& current = FBanks[FCurrentBank];
  if (!start.Valid) {
    FStartBank = FCurrentBank;
    Text = TimeStampLine() + (current.Valid ? "PROFILE MARKED START" : "ERROR -- PROFILE MARK FAILED") + loading +
           label + sLineBreak;
    return;
  }
  if (current.Valid) {
    Text = TimeStampLine() + "PROFILE DIFF REPORT" + loading + label + sLineBreak;
    std::string overall;
    for (int i = 0; i < 8; ++i) {
      const int64_t diff = current.Counters[i] - start.Counters[i];
      if (diff == 0) continue;
      overall += kCounters[i].Label + Count(current.Counters[i]) + " (" +
                 FormatFloat("+#,##0;-#,##0", static_cast<long double>(diff)) + ")" + sLineBreak;
    }
    if (!overall.empty()) Text += std::string("*** OVERALL SERVER PROCESS ***") + sLineBreak + overall;
    for (int i = 0; i < 8; ++i)
      if (!current.Pairs[i].empty()) Text += Section(i, kRelationItems[i].Label);
  } else {
    Text = std::string("ERROR -- NO PROFILE DATA FOR REPORT") + sLineBreak;
  }
  if (MarkAsStart) {
    FStartBank = FCurrentBank;
    if (current.Valid) Text += std::string("PROFILE DATA MARKED AS START") + sLineBreak;
  }
}
