// Starting a transaction (the TPB, the TEBs over its connections, the start with its retry) and what
// the transaction has to do with its connections.
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Constants.h"
#include "dblib/IB_Transaction.h"
#include "platform/Forms.h"

namespace {

// How long the start keeps trying while the server answers isc_conn_lost, and the pause between
// attempts (so that the retry does not spin on the processor).
constexpr uint64_t kStartRetryMs = 2000;
constexpr uint64_t kStartRetrySleepMs = 10;

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Connections

void TIB_Transaction::AddConnection(TIB_Connection* AConnection) {
  if (!AConnection || GetConnectionIndex(AConnection) >= 0) return;
  // Owned here until it is in the lists: a link that failed to join goes again.
  std::unique_ptr<TIB_ConnectionTransactionLink> link(new TIB_ConnectionTransactionLink(this, this));
  link->SetIB_Connection(AConnection);
  FConnections.reserve(FConnections.size() + 1);
  FConnectionLinks.reserve(FConnectionLinks.size() + 1);
  AConnection->RegisterTransaction(this);
  FConnections.push_back(AConnection);
  FConnectionLinks.push_back(link.release());
}

void TIB_Transaction::RemoveConnection(TIB_Connection* AConnection) {
  const int index = GetConnectionIndex(AConnection);
  if (index < 0) return;
  TIB_ConnectionTransactionLink* link = FConnectionLinks[static_cast<size_t>(index)];
  FConnections.erase(FConnections.begin() + index);
  FConnectionLinks.erase(FConnectionLinks.begin() + index);
  AConnection->UnregisterTransaction(this);
  delete link;
}

void TIB_Transaction::CloseForConnection() { Close(); }

void TIB_Transaction::ConnectionWasLost(TIB_Connection* /*AConnection*/) { FConnectionLost = true; }

void TIB_Transaction::ProcessConnectionEvent(TIB_ConnectionLink* /*Link*/, int32_t AEvent) {
  // A connection detaches even when closing this transaction failed before: the server transaction
  // went with the attachment, and the handle must not outlive it.
  if (AEvent == cevAfterDisconnect) AbandonServerTransaction();
}

bool TIB_Transaction::AnyConnectionLost() const {
  return std::any_of(FConnections.begin(), FConnections.end(),
                     [](TIB_Connection* c) { return c->GetConnectionWasLost(); });
}

void TIB_Transaction::HandleLostConnection() {
  FConnectionLost = true;
  if (FConnections.size() == 1) {
    FConnections.front()->ConnectionLost();
    return;
  }
  // With several connections only the broken ones are marked: each checks its own.
  for (TIB_Connection* c : std::vector<TIB_Connection*>(FConnections)) RunReported([&] { c->CheckConnection(); });
}

void TIB_Transaction::ConnectionsAfterFailedCommit() {
  for (TIB_Connection* c : std::vector<TIB_Connection*>(FConnections))
    RunReported([&] { c->FlushStatementHandleCache(0); });
}

void TIB_Transaction::AfterServerEnd() {
  FEndTime = Now();
  ++FEndCount;
}

// ---------------------------------------------------------------------------------------------------
// Start on demand

bool TIB_Transaction::SysStart() {
  if (GetStarted()) return true;
  if (HasState(csReading) || HasState(csLoading)) {
    FState = tsStartRequested;
    return false;
  }
  const TIB_TransactionState prior = FState;
  Guarded(prior, [&] {
    if (!BeforeStartStep()) return;
    if (GetStarted() || FState == tsInactive) return;
    StartCore();
    if (!GetStarted()) {
      // A connection stayed detached, or a handler suppressed the start's error: no start to announce.
      RecomputeState();
      return;
    }
    if (FState == tsStartRequested) FState = tsStarted;
    ProcessLinkEvent(tleAfterStart);
    Fire(AfterStart);
    ProcessLinkEvent(tleStateChanged);
  });
  return GetStarted();
}

bool TIB_Transaction::BeforeStartStep() {
  if (FState == tsInactive) FState = tsStartRequested;
  Fire(BeforeStart);
  ProcessLinkEvent(tleBeforeStart);
  for (TIB_Connection* c : std::vector<TIB_Connection*>(FConnections)) {
    const uint8_t status = c->GetConnectionStatus();
    bool usable = !((status == csDisconnecting || status == csDroppingDatabase) && !FReadOnly);
    if (usable && !c->GetConnected()) {
      // Connecting here never raises: a failure is reported and the start does not happen.
      RunReported([&] { c->SetConnected(true); });
      usable = c->GetConnected();
    }
    if (!usable) {
      RecomputeState();
      ProcessLinkEvent(tleStateChanged);
      return false;
    }
  }
  return true;
}

std::vector<char> TIB_Transaction::BuildTPB(bool ReadOnlyDatabase) const {
  std::vector<char> tpb;
  tpb.reserve(IB_TPBBufferSize);
  tpb.push_back(isc_tpb_version3);
  tpb.push_back(FReadOnly || ReadOnlyDatabase ? isc_tpb_read : isc_tpb_write);
  switch (FIsolation) {
    case tiConcurrency: tpb.push_back(isc_tpb_concurrency); break;
    case tiConsistency: tpb.push_back(isc_tpb_consistency); break;
    case tiCommitted:
      tpb.push_back(isc_tpb_read_committed);
      tpb.push_back(FRecVersion ? isc_tpb_rec_version : isc_tpb_no_rec_version);
      break;
  }
  tpb.push_back(FLockWait ? isc_tpb_wait : isc_tpb_nowait);
  if (FServerAutoCommit) tpb.push_back(isc_tpb_autocommit);
  return tpb;
}

void TIB_Transaction::FireCustomizeTPB(TIB_Connection* AConnection, std::vector<char>& Buffer, int32_t& Length) {
  if (!OnCustomizeTPB) return;
  // The handler gets the classic room to write into and may grow it.
  if (Buffer.size() < static_cast<size_t>(IB_TPBBufferSize)) Buffer.resize(IB_TPBBufferSize);
  CallOut(OnCustomizeTPB, this, AConnection, Length, Buffer);
  if (Length < 1 || static_cast<size_t>(Length) > Buffer.size())
    IB_Raise<EIB_TransactionError>(IBMsg::InvalidTPBLength, {int64_t{Length}, static_cast<int64_t>(Buffer.size())});
}

void TIB_Transaction::StartCore() {
  TIB_Session* session = GetSession();
  if (FConnections.empty() && session->GetAllowDefaultConnection()) {
    if (TIB_Connection* def = session->GetDefaultConnection()) AddConnection(def);
  }
  if (FConnections.empty()) IB_Raise<EIB_TransactionError>(IBMsg::TransactionHasNoConnections);

  bool readOnlyDatabase = false;
  for (TIB_Connection* c : std::vector<TIB_Connection*>(FConnections)) {
    c->SetConnected(true);
    if (!c->GetConnected()) return;
    if (c->GetCharacteristics().dbRead_Only) readOnlyDatabase = true;
  }
  if (GetStarted()) return;

  std::vector<char> common = BuildTPB(readOnlyDatabase);
  int32_t commonLength = static_cast<int32_t>(common.size());
  const size_t count = FConnections.size();
  if (count > 1) FireCustomizeTPB(nullptr, common, commonLength);

  // One TPB copy per connection, each customisable on its own, and one TEB pointing at each.
  std::vector<std::vector<char>> tpbs(count);
  std::vector<TIB_TEB> tebs(count);
  for (size_t i = 0; i < count; ++i) {
    tpbs[i].assign(common.begin(), common.begin() + commonLength);
    int32_t length = commonLength;
    FireCustomizeTPB(FConnections[i], tpbs[i], length);
    tebs[i].DBHandle = FConnections[i]->GetdbHandle();
    tebs[i].TPBLength = length;
    tebs[i].TPB = tpbs[i].data();
  }

  // The server may answer a start with a lost connection while it is busy: that is retried for a
  // while, with a short pause between attempts.
  const uint64_t deadline = GetTickCount64() + kStartRetryMs;
  ISC_STATUS result;
  for (;;) {
    result = session->Call(session->Entries.isc_start_multiple, &FHandle, static_cast<short>(count),
                           static_cast<void*>(tebs.data()));
    if (result != isc_conn_lost) break;
    const uint64_t now = GetTickCount64();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kStartRetrySleepMs, deadline - now)));
  }
  if (result != 0) {
    session->HandleISCError(this);
    if (!GetStarted()) return;
  }
  AfterServerStart();
}

void TIB_Transaction::AfterServerStart() {
  FTimeoutProps.ResetForStart();
  FStartTime = Now();
  FStartTick = GetTickCount64();
  FConnectionLost = false;
}
