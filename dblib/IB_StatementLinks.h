// Links: small components that follow a transaction or a statement and receive its numbered notices.
//
// A link keeps itself in its target's link list; the target broadcasts to the list and a link leaves
// it when it moves to another target or is destroyed. The transaction link follows the session's
// focused transaction on request; the statement link is the base of the data source.
#pragma once

#include <cstdint>
#include <functional>

#include "dblib/IB_Session.h"
#include "dblib/IB_Transaction.h"
#include "dblib/IB_TransactionIntf.h"

class TIB_Statement;
class TIB_StatementLink;
class TIB_TransactionLink;

// (TIB_TransactionLinkEvent names the transaction's event codes.)
using TIB_TransactionLinkReceiveFocusEvent =
    std::function<void(TIB_TransactionLink* Sender, TIB_Transaction* ATransaction)>;
using TIB_StmtLinkEvent = std::function<void(TIB_StatementLink* Sender, TIB_Statement* Statement)>;

// A transaction link's own notices as it moves between transactions (the transaction sends 2 to 16).
enum : uint8_t {
  tleLinkBeforeLeave = 0,  // about to leave its transaction (GetIncomingTransaction tells where it goes)
  tleLinkAfterJoin = 1,    // joined its new transaction
};

// Follows one transaction. Besides its own two notices it receives the transaction's event codes.
class TIB_TransactionLink : public TIB_Component, public TIB_TransactionLinkIntf {
public:
  explicit TIB_TransactionLink(TComponent* AOwner);
  ~TIB_TransactionLink() override;
  void BeforeDestruction() override;
  void Loaded() override;
  void SetSession(TIB_Session* ASession) override;

  TIB_Transaction* GetIB_Transaction() const noexcept { return FTransaction; }
  void SetIB_Transaction(TIB_Transaction* Value);
  // While a move runs: the transaction the link is moving to (handlers of notice 0 look at it).
  TIB_Transaction* GetIncomingTransaction() const noexcept { return FIncoming; }

  bool GetReceiveFocus() const override { return FReceiveFocus; }
  void SetReceiveFocus(bool Value);
  void DoReceiveFocus(TIB_Component* AFocused) override;

  void ProcessEvent(uint8_t AEvent) override;
  void TransactionDestroying(TIB_Transaction* ATransaction) override;

  TIB_TransactionLinkReceiveFocusEvent OnReceiveFocus;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Applies the focus rule against the session's focused transaction.
  void CheckFocus(TIB_Transaction* AFocused);

private:
  TIB_Transaction* FTransaction = nullptr;
  TIB_Transaction* FIncoming = nullptr;
  bool FReceiveFocus = false;
};

// The transaction link of a statement: passes each notice to the statement.
class TIB_TransactionStatementLink : public TIB_TransactionLink {
public:
  TIB_TransactionStatementLink(TComponent* AOwner, TIB_Statement* AStatement);
  TIB_Statement* GetStatement() const noexcept { return FStatement; }
  void ProcessEvent(uint8_t AEvent) override;

private:
  TIB_Statement* FStatement;
};

// Follows one statement: the base of data sources.
class TIB_StatementLink : public TIB_Component {
public:
  explicit TIB_StatementLink(TComponent* AOwner);
  ~TIB_StatementLink() override;
  void BeforeDestruction() override;

  TIB_Statement* GetStatement() const noexcept { return FStatement; }
  virtual void SetStatement(TIB_Statement* AStatement);
  // Fired by the statement while it builds its server text.
  virtual void DoPrepareSQL();
  // Statement event codes (see IB_Statement.h); 12 fires OnPreparedChanged.
  virtual void ProcessEvent(int32_t AEvent, intptr_t AArg);

  bool GetPrepared() const;
  bool GetActive() const;

  TIB_StmtLinkEvent OnPrepareSQL;
  TIB_StmtLinkEvent OnPreparedChanged;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  TIB_Statement* FStatement = nullptr;
};
