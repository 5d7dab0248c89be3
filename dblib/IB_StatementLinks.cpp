#include "dblib/IB_StatementLinks.h"

#include <algorithm>

#include "dblib/IB_Statement.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

// ---------------------------------------------------------------------------------------------------------
// TIB_TransactionLink

TIB_TransactionLink::TIB_TransactionLink(TComponent* AOwner) : TIB_Component(AOwner) {
  if (GetBoundSession()) JoinSessionRegistry(srTransactionLinks);
}

TIB_TransactionLink::~TIB_TransactionLink() = default;

void TIB_TransactionLink::BeforeDestruction() {
  RunReported([&] { SetIB_Transaction(nullptr); });
  if (FTransaction) {
    // A handler refused the move: leave the list all the same, the link is going away.
    FTransaction->RemoveTransactionLink(this);
    FTransaction->RemoveFreeNotification(this);
    FTransaction = nullptr;
  }
  TIB_Component::BeforeDestruction();
}

void TIB_TransactionLink::SetSession(TIB_Session* ASession) {
  if (ASession == GetBoundSession()) return;
  LeaveSessionRegistry(srTransactionLinks);
  TIB_Component::SetSession(ASession);
  JoinSessionRegistry(srTransactionLinks);
  if (ASession && !HasState(csLoading)) CheckFocus(ASession->GetFocusedTransaction());
}

void TIB_TransactionLink::SetIB_Transaction(TIB_Transaction* Value) {
  if (Value == FTransaction) return;
  TValueRestorer<TIB_Transaction*> incoming(FIncoming, Value);
  ProcessEvent(tleLinkBeforeLeave);
  if (TIB_Transaction* old = FTransaction) {
    old->RemoveTransactionLink(this);
    old->RemoveFreeNotification(this);
  }
  FTransaction = Value;
  if (Value) {
    Value->AddTransactionLink(this);
    Value->FreeNotification(this);
  }
  ProcessEvent(tleLinkAfterJoin);
}

void TIB_TransactionLink::SetReceiveFocus(bool Value) {
  FReceiveFocus = Value;
  if (TIB_Session* s = GetBoundSession()) CheckFocus(s->GetFocusedTransaction());
}

void TIB_TransactionLink::DoReceiveFocus(TIB_Component* AFocused) {
  CheckFocus(dynamic_cast<TIB_Transaction*>(AFocused));
}

void TIB_TransactionLink::CheckFocus(TIB_Transaction* AFocused) {
  if (!FReceiveFocus || AFocused == FTransaction) return;
  if (HasState(csDestroying)) return;
  if (OnReceiveFocus) {
    CallOut(OnReceiveFocus, this, AFocused);
  } else {
    SetIB_Transaction(AFocused);
  }
}

void TIB_TransactionLink::Loaded() {
  TIB_Component::Loaded();
  if (TIB_Session* s = GetBoundSession()) CheckFocus(s->GetFocusedTransaction());
}

void TIB_TransactionLink::ProcessEvent(uint8_t /*AEvent*/) {}

void TIB_TransactionLink::TransactionDestroying(TIB_Transaction* ATransaction) {
  if (ATransaction == FTransaction) SetIB_Transaction(nullptr);
}

void TIB_TransactionLink::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Component::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FTransaction && FTransaction) {
    RunReported([&] { SetIB_Transaction(nullptr); });
    FTransaction = nullptr;
  }
}

// ---------------------------------------------------------------------------------------------------------
// TIB_TransactionStatementLink

TIB_TransactionStatementLink::TIB_TransactionStatementLink(TComponent* AOwner, TIB_Statement* AStatement)
    : TIB_TransactionLink(AOwner), FStatement(AStatement) {}

void TIB_TransactionStatementLink::ProcessEvent(uint8_t AEvent) {
  if (FStatement) FStatement->TransactionLinkEvent(AEvent);
}

// ---------------------------------------------------------------------------------------------------------
// TIB_StatementLink

TIB_StatementLink::TIB_StatementLink(TComponent* AOwner) : TIB_Component(AOwner) {}

TIB_StatementLink::~TIB_StatementLink() = default;

void TIB_StatementLink::BeforeDestruction() {
  RunReported([&] { SetStatement(nullptr); });
  if (FStatement) {
    auto& links = FStatement->FStatementLinks;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
    FStatement->RemoveFreeNotification(this);
    FStatement = nullptr;
  }
  TIB_Component::BeforeDestruction();
}

void TIB_StatementLink::SetStatement(TIB_Statement* AStatement) {
  if (AStatement == FStatement) return;
  ProcessEvent(sleBeforeLeave, 0);
  if (TIB_Statement* old = FStatement) {
    auto& links = old->FStatementLinks;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
    old->RemoveFreeNotification(this);
  }
  FStatement = AStatement;
  if (AStatement) {
    AStatement->FStatementLinks.push_back(this);
    AStatement->FreeNotification(this);
  }
  ProcessEvent(sleAfterJoin, 0);
}

void TIB_StatementLink::DoPrepareSQL() {
  if (OnPrepareSQL) CallOut(OnPrepareSQL, this, FStatement);
}

void TIB_StatementLink::ProcessEvent(int32_t AEvent, intptr_t /*AArg*/) {
  if (AEvent == slePreparedChanged && OnPreparedChanged) CallOut(OnPreparedChanged, this, FStatement);
}

bool TIB_StatementLink::GetPrepared() const { return FStatement && FStatement->GetPrepared(); }

bool TIB_StatementLink::GetActive() const { return FStatement && FStatement->GetActive(); }

void TIB_StatementLink::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Component::Notification(AComponent, Operation);
  if (Operation == opRemove && FStatement && AComponent == static_cast<TComponent*>(FStatement)) {
    RunReported([&] { SetStatement(nullptr); });
    FStatement = nullptr;
  }
}
