// Any handler may delete any component. For each component kind, every event it offers and every handler
// it calls directly deletes, from inside the call, (a) the component itself, (b) its master or its dataset,
// (c) its transaction; the handler goes on touching what it captured, as a form's handler does. The entry
// point that ran the handler ends done or with the silent abort, nothing freed is read (AddressSanitizer
// watches), no busy level stays raised, and the table, read through a second attachment, holds what was
// committed and nothing else. The events are taken from the headers, so that a new one cannot be missed.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/IB_Constants.h"
#include "dblib/IB_Session.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_DataLink.h"
#include "dblib/dataset/IB_DataSource.h"
#include "dblib/sql/IB_SearchBuffer.h"
#include "platform/Forms.h"

namespace {

using datasettest::DatasetDbTest;
using datasettest::TestClock;

// Whom the handler deletes.
enum TVictim { vSelf, vPartner, vTransaction };
constexpr unsigned kAll = 7, kNoPartner = 5;

// The components of one case, each on the case's own transaction. Kind query: Q is a detail of M (by
// GRP); kinds transaction and data source: Q is a plain query of T; kind statement: S. Kinds connection
// and connection link: the case's own connection Cn to the table's database, T and Q on it, and a link L
// that follows the session's focused connection. Kind lookup: LK looks up its ID by the GRP of the key
// source KS (a data source KSS over it).
struct TWorld {
  TIB_Connection* Cn = nullptr;
  TIB_ConnectionLink* L = nullptr;
  TIB_Query* KS = nullptr;
  TIB_DataSource* KSS = nullptr;
  TIB_Query* LK = nullptr;
  std::string NewFile;  // a database file a case may create
  TIB_Transaction* T = nullptr;
  TIB_Query* M = nullptr;
  TIB_DataSource* MS = nullptr;
  TIB_Query* Q = nullptr;
  TIB_DataSource* QS = nullptr;
  TIB_DSQL* S = nullptr;
  TIB_Cursor* C = nullptr;   // kind cursor: a forward-only detail of M
  TIB_DSQL* Work = nullptr;  // runs the pending change of the transaction cases
};

// The handler of every case, whatever the event's arguments: counts the call, deletes the victim on the
// first one, then touches what it captured.
struct TKill {
  std::function<void()>* Kill;
  int* Calls;
  int* Touched;
  template <class... A>
  void operator()(A&&...) const {
    if (++*Calls == 1) (*Kill)();
    *Touched = *Calls;
  }
};

enum TKind { kQuery, kCursor, kStatement, kTransaction, kSource, kConnection, kLink, kLookup };
const char* KindName(TKind K) {
  switch (K) {
    case kQuery: return "TIB_Query";
    case kCursor: return "TIB_Cursor";
    case kStatement: return "TIB_DSQL";
    case kTransaction: return "TIB_Transaction";
    case kConnection: return "TIB_Connection";
    case kLink: return "TIB_ConnectionLink";
    case kLookup: return "TIB_Query (lookup)";
    default: return "TIB_DataSource";
  }
}
// The victim whose death the entry point must end with the silent abort: the component that runs it.
// A data source runs no operation; a lookup's and a link's handlers run inside their partner's.
TVictim RunnerOf(TKind K) { return K == kLookup || K == kLink ? vPartner : vSelf; }

struct TCase {
  TKind Kind;
  const char* Event;
  std::function<void(TWorld&)> Setup;
  std::function<void(TWorld&, const TKill&)> Arm;
  std::function<void(TWorld&)> Run;
  unsigned Victims = kAll;
  // The victims for which the transaction's pending change (row 2 named "changed") is committed by the
  // entry point before the handler runs, or goes on to be committed after it.
  unsigned Commits = 0;
  // The entry point fails on its own (the handler is an error event that leaves the error alone): when the
  // handler deleted something other than the component, that error goes on.
  bool Fails = false;
};

class DeleteFromHandlerTest : public DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE EXCEPTION E_KEEP 'row 4 stays'");
    Tr->Commit();
    Exec("CREATE TRIGGER T_KEEP FOR T BEFORE DELETE AS BEGIN IF (OLD.ID = 4) THEN EXCEPTION E_KEEP; END");
    Tr->Commit();
    Fill(12);
  }
  std::string Read() { return ReadSecond("SELECT ID, NAME, GRP FROM T ORDER BY ID", ","); }

  TIB_Query* Query(TWorld& W, const std::string& SQL) {
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(W.Cn ? W.Cn : Conn);
    q->SetIB_Transaction(W.T);
    q->GetSQL().SetText(SQL);
    q->SetRequestLive(true);
    q->SetCallbackInc(-1);
    q->SetCallbackInitInt(0);
    q->SetCallbackRefreshInt(0);
    return q;
  }
  void Build(TWorld& W, TKind Kind) {
    if (Kind == kConnection || Kind == kLink) {
      W.Cn = new TIB_Connection(Owner);
      W.Cn->SetDatabaseName(Conn->GetDatabaseName());
      W.Cn->SetCharSet("ISO8859_1");
      W.Cn->SetSQLDialect(3);
      W.Cn->SetPageSize(8192);
      W.NewFile = Dir.File("new" + std::to_string(++FNewFiles) + ".fdb");
    }
    W.T = new TIB_Transaction(Owner);
    W.T->SetIB_Connection(W.Cn ? W.Cn : Conn);
    W.T->SetIsolation(tiConcurrency);
    if (Kind == kConnection || Kind == kLink) {
      W.Q = Query(W, "SELECT ID, NAME, GRP FROM T ORDER BY ID");
      if (Kind == kLink) {
        W.L = new TIB_ConnectionLink(Owner);
        W.L->SetSession(W.Cn->GetSession());
        W.L->SetReceiveFocus(true);
      }
      return;
    }
    if (Kind == kLookup) {
      W.KS = Query(W, "SELECT ID, NAME, GRP FROM T WHERE ID <= 4 ORDER BY ID");
      W.KSS = new TIB_DataSource(Owner);
      W.KSS->SetDataset(W.KS);
      W.LK = Query(W, "SELECT ID, NAME FROM T WHERE ID <= 3 ORDER BY ID");
      W.LK->GetKeyLinks().SetText("ID=GRP");
      W.LK->SetKeySource(W.KSS);
      return;
    }
    if (Kind == kStatement) {
      W.S = new TIB_DSQL(Owner);
      W.S->SetIB_Connection(Conn);
      W.S->SetIB_Transaction(W.T);
      W.S->GetSQL().SetText("UPDATE T SET NAME = 'dsql' WHERE ID = 3");
      return;
    }
    if (Kind == kCursor) {
      W.M = Query(W, "SELECT ID FROM T WHERE ID <= 3 ORDER BY ID");
      W.MS = new TIB_DataSource(Owner);
      W.MS->SetDataset(W.M);
      W.M->Open();
      W.C = new TIB_Cursor(Owner);
      W.C->SetIB_Connection(Conn);
      W.C->SetIB_Transaction(W.T);
      W.C->GetSQL().SetText("SELECT ID, NAME, GRP FROM T ORDER BY ID");
      W.C->SetRequestLive(true);
      W.C->SetSearchedEdits(true);
      W.C->SetSearchedDeletes(true);
      W.C->GetKeyLinks().SetText("ID");
      W.C->GetMasterLinks().SetText("GRP=ID");
      W.C->SetMasterSource(W.MS);
      return;
    }
    if (Kind == kQuery) {
      W.M = Query(W, "SELECT ID FROM T WHERE ID <= 3 ORDER BY ID");
      W.MS = new TIB_DataSource(Owner);
      W.MS->SetDataset(W.M);
      W.M->Open();
      W.Q = Query(W, "SELECT ID, NAME, GRP FROM T ORDER BY ID");
      W.Q->GetMasterLinks().SetText("GRP=ID");
      W.Q->SetMasterSource(W.MS);
    } else {
      W.Q = Query(W, "SELECT ID, NAME, GRP FROM T ORDER BY ID");
    }
    W.QS = new TIB_DataSource(Owner);
    W.QS->SetDataset(W.Q);
  }
  // Deletes what is left, datasets first; the transaction's work is rolled back with it.
  static void TearDownWorld(TWorld& W) {
    for (TComponent** c : {reinterpret_cast<TComponent**>(&W.C), reinterpret_cast<TComponent**>(&W.Q),
                           reinterpret_cast<TComponent**>(&W.QS), reinterpret_cast<TComponent**>(&W.LK),
                           reinterpret_cast<TComponent**>(&W.KS), reinterpret_cast<TComponent**>(&W.KSS),
                           reinterpret_cast<TComponent**>(&W.M), reinterpret_cast<TComponent**>(&W.MS),
                           reinterpret_cast<TComponent**>(&W.S), reinterpret_cast<TComponent**>(&W.Work),
                           reinterpret_cast<TComponent**>(&W.L), reinterpret_cast<TComponent**>(&W.T),
                           reinterpret_cast<TComponent**>(&W.Cn)}) {
      TComponent* doomed = *c;
      *c = nullptr;
      delete doomed;
    }
  }
  // The victim's pointer, nulled by the delete.
  static TComponent** VictimOf(TWorld& W, TKind Kind, TVictim V) {
    if (V == vTransaction) return reinterpret_cast<TComponent**>(&W.T);
    switch (Kind) {
      case kQuery: return V == vSelf ? reinterpret_cast<TComponent**>(&W.Q) : reinterpret_cast<TComponent**>(&W.M);
      case kCursor: return V == vSelf ? reinterpret_cast<TComponent**>(&W.C) : reinterpret_cast<TComponent**>(&W.M);
      case kStatement: return reinterpret_cast<TComponent**>(&W.S);
      case kTransaction: return V == vSelf ? reinterpret_cast<TComponent**>(&W.T) : reinterpret_cast<TComponent**>(&W.Q);
      case kConnection:
        return V == vSelf ? reinterpret_cast<TComponent**>(&W.Cn) : reinterpret_cast<TComponent**>(&W.Q);
      case kLink: return V == vSelf ? reinterpret_cast<TComponent**>(&W.L) : reinterpret_cast<TComponent**>(&W.Cn);
      case kLookup: return V == vSelf ? reinterpret_cast<TComponent**>(&W.LK) : reinterpret_cast<TComponent**>(&W.KS);
      default: return V == vSelf ? reinterpret_cast<TComponent**>(&W.QS) : reinterpret_cast<TComponent**>(&W.Q);
    }
  }
  int FNewFiles = 0;
};

std::vector<TCase> Cases(TestClock& Clock) {
  using W = TWorld;
  const auto none = [](W&) {};
  const auto prepare = [](W& w) { w.Q->Prepare(); };
  const auto open = [](W& w) { w.Q->Open(); };
  const auto edit = [](W& w) {
    w.Q->Open();
    w.Q->Edit();
    w.Q->FieldByName("NAME")->SetAsString("edited");
  };
  const auto copen = [](W& w) { w.C->Open(); };
  const auto cedit = [](W& w) {
    w.C->Open();
    w.C->Edit();
    w.C->FieldByName("NAME")->SetAsString("edited");
  };
  const auto insert = [](W& w) {
    w.Q->Open();
    w.Q->Insert();
    w.Q->FieldByName("ID")->SetAsInteger(100);
    w.Q->FieldByName("NAME")->SetAsString("inserted");
  };
  const auto cached = [](W& w) {
    w.Q->SetCachedUpdates(true);
    w.Q->Open();
    w.Q->Edit();
    w.Q->FieldByName("NAME")->SetAsString("cached");
    w.Q->Post();
  };
  // The transaction holds a change of its own (row 2 named "changed"), through a statement on it.
  const auto pending = [](W& w) {
    w.Q->Open();
    w.Work = new TIB_DSQL(nullptr);
    w.Work->SetIB_Connection(w.T->GetConnection(0));
    w.Work->SetIB_Transaction(w.T);
    w.Work->GetSQL().SetText("UPDATE T SET NAME = 'changed' WHERE ID = 2");
    w.Work->Execute();
  };
  const auto focusTransaction = [](W& w) {
    w.T->SetAnnounceFocus(true);
    w.T->GetSession()->SetFocused(frTransaction, w.T);
  };
  const auto focusSource = [](W& w) {
    w.QS->SetAnnounceFocus(true);
    w.QS->GetSession()->SetFocused(frDataSource, w.QS);
  };
  TestClock* clock = &Clock;
  const auto cnConnect = [](W& w) { w.Cn->Connect(); };
  const auto cnDisconnect = [](W& w) { w.Cn->Disconnect(); };
  // A DDL statement on the case's connection (it changes nothing the table shows).
  const auto ddl = [](W& w) {
    w.Work = new TIB_DSQL(nullptr);
    w.Work->SetIB_Connection(w.Cn);
    w.Work->SetIB_Transaction(w.T);
    w.Work->GetSQL().SetText("COMMENT ON TABLE T IS 'commented'");
    w.Work->Execute();
  };
  const auto newFile = [](W& w) { w.Cn->SetDatabaseName(w.NewFile); };
  const auto create = [](W& w) { w.Cn->CreateDatabase(); };
  const auto qbe = [](W& w) {
    w.Q->GetColumnAttributes().SetText("NAME=SOUNDEX=GRP");
    w.Q->Prepare();
  };
  const auto search = [](W& w) {
    TIB_StringList lines, params;
    SearchBufferToSQL(w.Q->FieldByName("NAME"), "n1", &lines, nullptr, &params);
  };
  const auto ordered = [](W& w) {
    w.Q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
    w.Q->GetOrderingLinks().SetText("NAME=ITEM=1");
    w.Q->SetOrderingItemNo(1);
    w.Q->Open();
  };
  const auto lookupOpen = [](W& w) {
    w.KS->Open();
    w.LK->Open();
  };
  const auto timeoutCheck = [clock](W& w) {
    clock->Now += 100'000'000;
    bool terminate = false;
    w.T->TimeoutCheck(terminate);
  };
#define ARM(member) [](W& w, const TKill& k) { member = k; }
  std::vector<TCase> c = {
      // ---- a buffered query: its dataset events --------------------------------------------------------------
      {kQuery, "BeforeOpen", prepare, ARM(w.Q->BeforeOpen), open},
      {kQuery, "AfterOpen", prepare, ARM(w.Q->AfterOpen), open},
      {kQuery, "BeforeClose", open, ARM(w.Q->BeforeClose), [](W& w) { w.Q->Close(); }},
      {kQuery, "AfterClose", open, ARM(w.Q->AfterClose), [](W& w) { w.Q->Close(); }},
      {kQuery, "BeforeSearch", open, ARM(w.Q->BeforeSearch), [](W& w) { w.Q->EnterSearchMode(); }},
      {kQuery, "AfterSearch", open, ARM(w.Q->AfterSearch), [](W& w) { w.Q->EnterSearchMode(); }},
      {kQuery, "BeforeEdit", open, ARM(w.Q->BeforeEdit), [](W& w) { w.Q->Edit(); }},
      {kQuery, "AfterEdit", open, ARM(w.Q->AfterEdit), [](W& w) { w.Q->Edit(); }},
      {kQuery, "BeforeInsert", open, ARM(w.Q->BeforeInsert), [](W& w) { w.Q->Insert(); }},
      {kQuery, "AfterInsert", open, ARM(w.Q->AfterInsert), [](W& w) { w.Q->Insert(); }},
      {kQuery, "OnNewRecord", open, ARM(w.Q->OnNewRecord), [](W& w) { w.Q->Insert(); }},
      {kQuery, "BeforeDelete", open, ARM(w.Q->BeforeDelete), [](W& w) { w.Q->Delete(); }},
      {kQuery, "AfterDelete", open, ARM(w.Q->AfterDelete), [](W& w) { w.Q->Delete(); }},
      {kQuery, "BeforePost", edit, ARM(w.Q->BeforePost), [](W& w) { w.Q->Post(); }},
      {kQuery, "AfterPost", edit, ARM(w.Q->AfterPost), [](W& w) { w.Q->Post(); }},
      {kQuery, "BeforeCancel", edit, ARM(w.Q->BeforeCancel), [](W& w) { w.Q->Cancel(); }},
      {kQuery, "AfterCancel", edit, ARM(w.Q->AfterCancel), [](W& w) { w.Q->Cancel(); }},
      {kQuery, "BeforeScroll", open, ARM(w.Q->BeforeScroll), [](W& w) { w.Q->Next(); }},
      {kQuery, "AfterScroll", open, ARM(w.Q->AfterScroll), [](W& w) { w.Q->Next(); }},
      {kQuery, "OnOrderingChanged", none, ARM(w.Q->OnOrderingChanged), prepare},
      {kQuery, "AfterFetchRow", prepare, ARM(w.Q->AfterFetchRow), [](W& w) {
         w.Q->Open();
         w.Q->Last();
       }},
      {kQuery, "AfterFetchEof", open, ARM(w.Q->AfterFetchEof), [](W& w) { w.Q->Last(); }},
      {kQuery, "OnCallback",
       [](W& w) {
         w.Q->SetCallbackInc(1);
         w.Q->Open();
       },
       ARM(w.Q->OnCallback), [](W& w) { w.Q->FetchAll(); }},
      {kQuery, "OnConfirmDelete", open, ARM(w.Q->OnConfirmDelete), [](W& w) { w.Q->Delete(); }},
      {kQuery, "OnGetCanModify", open, ARM(w.Q->OnGetCanModify), [](W& w) { w.Q->Edit(); }},
      {kQuery, "OnGetCanScroll", open, ARM(w.Q->OnGetCanScroll), [](W& w) { w.Q->Next(); }},
      {kQuery, "OnGetRecordCount", open, ARM(w.Q->OnGetRecordCount), [](W& w) { w.Q->GetRecordCount(); }},
      {kQuery, "OnEditError",
       [](W& w) {
         w.Q->SetPessimisticLocking(true);
         w.Q->GetLockSQL().SetText("UPDATE NO_SUCH_TABLE SET A = 1");
         w.Q->Open();
       },
       ARM(w.Q->OnEditError), [](W& w) { w.Q->Edit(); }, kAll, 0, true},
      {kQuery, "OnPostError",
       [](W& w) {
         w.Q->Open();
         w.Q->Insert();
         w.Q->FieldByName("ID")->SetAsInteger(1);  // taken
       },
       ARM(w.Q->OnPostError), [](W& w) { w.Q->Post(); }, kAll, 0, true},
      {kQuery, "OnDeleteError",
       [](W& w) {
         w.Q->Open();
         w.Q->SetRowNum(2);  // row 4, kept by a trigger
       },
       ARM(w.Q->OnDeleteError), [](W& w) { w.Q->Delete(); }, kAll, 0, true},
      {kQuery, "OnDMLCacheAnnounceItem",
       [=](W& w) {
         w.Q->SetDMLCacheFlags(IB_DMLCacheFlag(dcfAnnounceEdit));
         edit(w);
       },
       ARM(w.Q->OnDMLCacheAnnounceItem), [](W& w) { w.Q->Post(); }},
      {kQuery, "OnCustomEdit", edit, ARM(w.Q->OnCustomEdit), [](W& w) { w.Q->Post(); }},
      {kQuery, "OnCustomInsert", insert, ARM(w.Q->OnCustomInsert), [](W& w) { w.Q->Post(); }},
      {kQuery, "OnCustomDelete", open, ARM(w.Q->OnCustomDelete), [](W& w) { w.Q->Delete(); }},
      {kQuery, "OnCustomLockRow",
       [](W& w) {
         w.Q->SetPessimisticLocking(true);
         w.Q->Open();
       },
       ARM(w.Q->OnCustomLockRow), [](W& w) { w.Q->Edit(); }},
      {kQuery, "OnUpdateRecord", cached, ARM(w.Q->OnUpdateRecord), [](W& w) { w.Q->ApplyUpdates(); }},
      {kQuery, "OnUpdateError",
       [](W& w) {
         w.Q->SetCachedUpdates(true);
         w.Q->Open();
         w.Q->Insert();
         w.Q->FieldByName("ID")->SetAsInteger(1);  // taken
         w.Q->Post();
       },
       ARM(w.Q->OnUpdateError), [](W& w) { w.Q->ApplyUpdates(); }, kAll, 0, true},
      {kQuery, "OnRowSelectedChanged", open, ARM(w.Q->OnRowSelectedChanged),
       [](W& w) { w.Q->SetRowSelected(1, true); }},
      {kQuery, "OnMultiSelect", open, ARM(w.Q->OnMultiSelect), [](W& w) { w.Q->SelectAll(true); }},
      {kQuery, "OnFilterRecord", [](W& w) { w.Q->SetFiltered(true); },
       [](W& w, const TKill& k) { w.Q->SetOnFilterRecord(k); }, open},
      // ---- ... its statement events ---------------------------------------------------------------------------
      {kQuery, "BeforePrepare", none, ARM(w.Q->BeforePrepare), prepare},
      {kQuery, "AfterPrepare", none, ARM(w.Q->AfterPrepare), prepare},
      {kQuery, "OnPrepareSQL", none, ARM(w.Q->OnPrepareSQL), prepare},
      {kQuery, "OnPreparedChanged", none, ARM(w.Q->OnPreparedChanged), prepare},
      {kQuery, "OnLayoutChanged", none, ARM(w.Q->OnLayoutChanged), prepare},
      {kQuery, "BeforeUnprepare", prepare, ARM(w.Q->BeforeUnprepare), [](W& w) { w.Q->Unprepare(); }},
      {kQuery, "AfterUnprepare", prepare, ARM(w.Q->AfterUnprepare), [](W& w) { w.Q->Unprepare(); }},
      {kQuery, "OnInvalidateSQL", prepare, ARM(w.Q->OnInvalidateSQL), [](W& w) { w.Q->InvalidateSQL(); }},
      {kQuery, "BeforeExecute", prepare, ARM(w.Q->BeforeExecute), open},
      {kQuery, "AfterExecute", prepare, ARM(w.Q->AfterExecute), open},
      {kQuery, "OnActiveChange", prepare, ARM(w.Q->OnActiveChange), open},
      {kQuery, "OnCalculateField",
       [](W& w) {
         TIB_StringList calculated;
         calculated.Add("TWICE INTEGER");
         w.Q->SetCalculatedFields(calculated);
         w.Q->Prepare();
       },
       ARM(w.Q->OnCalculateField), open},
      {kQuery, "OnValidateField", open, ARM(w.Q->OnValidateField), [](W& w) {
         w.Q->Edit();
         w.Q->FieldByName("NAME")->SetAsString("validated");
       }},
      {kQuery, "OnMacroSubstitute",
       [](W& w) { w.Q->GetSQL().SetText("SELECT ID, NAME, GRP FROM T <<WHERE>> ORDER BY ID"); },
       ARM(w.Q->OnMacroSubstitute), prepare},
      {kQuery, "OnError", [](W& w) { w.Q->GetSQL().SetText("SELECT A FROM NO_SUCH_TABLE"); },
       [](W& w, const TKill& k) { w.Q->SetOnError(k); }, prepare, kAll, 0, true},
      // ---- a forward-only cursor (a detail too) -----------------------------------------------------------------
      {kCursor, "BeforeOpen", none, ARM(w.C->BeforeOpen), copen},
      {kCursor, "AfterOpen", none, ARM(w.C->AfterOpen), copen},
      {kCursor, "BeforeClose", copen, ARM(w.C->BeforeClose), [](W& w) { w.C->Close(); }},
      {kCursor, "AfterClose", copen, ARM(w.C->AfterClose), [](W& w) { w.C->Close(); }},
      {kCursor, "BeforeScroll", copen, ARM(w.C->BeforeScroll), [](W& w) { w.C->Next(); }},
      {kCursor, "AfterScroll", copen, ARM(w.C->AfterScroll), [](W& w) { w.C->Next(); }},
      {kCursor, "AfterFetchRow", none, ARM(w.C->AfterFetchRow), copen},
      {kCursor, "AfterFetchEof", copen, ARM(w.C->AfterFetchEof), [](W& w) {
         while (!w.C->GetEof()) w.C->Next();
       }},
      {kCursor, "BeforeEdit", copen, ARM(w.C->BeforeEdit), [](W& w) { w.C->Edit(); }},
      {kCursor, "AfterEdit", copen, ARM(w.C->AfterEdit), [](W& w) { w.C->Edit(); }},
      {kCursor, "BeforePost", cedit, ARM(w.C->BeforePost), [](W& w) { w.C->Post(); }},
      {kCursor, "AfterPost", cedit, ARM(w.C->AfterPost), [](W& w) { w.C->Post(); }},
      {kCursor, "BeforeDelete", copen, ARM(w.C->BeforeDelete), [](W& w) { w.C->Delete(); }},
      {kCursor, "AfterDelete", copen, ARM(w.C->AfterDelete), [](W& w) { w.C->Delete(); }},
      {kCursor, "OnGetCanScroll", copen, ARM(w.C->OnGetCanScroll), [](W& w) { w.C->Next(); }},
      {kCursor, "OnCustomEdit", cedit, ARM(w.C->OnCustomEdit), [](W& w) { w.C->Post(); }},
      {kCursor, "OnValidateField", copen, ARM(w.C->OnValidateField), [](W& w) {
         w.C->Edit();
         w.C->FieldByName("NAME")->SetAsString("validated");
       }},
      // ---- a statement ------------------------------------------------------------------------------------------
      {kStatement, "BeforePrepare", none, ARM(w.S->BeforePrepare), [](W& w) { w.S->Prepare(); }, kNoPartner},
      {kStatement, "AfterPrepare", none, ARM(w.S->AfterPrepare), [](W& w) { w.S->Prepare(); }, kNoPartner},
      {kStatement, "BeforeExecute", none, ARM(w.S->BeforeExecute), [](W& w) { w.S->Execute(); }, kNoPartner},
      {kStatement, "AfterExecute", none, ARM(w.S->AfterExecute), [](W& w) { w.S->Execute(); }, kNoPartner},
      {kStatement, "BeforeExecDML", none, ARM(w.S->BeforeExecDML), [](W& w) { w.S->Execute(); }, kNoPartner},
      {kStatement, "AfterExecDML", none, ARM(w.S->AfterExecDML), [](W& w) { w.S->Execute(); }, kNoPartner},
      {kStatement, "BeforeExecDDL", [](W& w) { w.S->GetSQL().SetText("CREATE TABLE X (A INTEGER)"); },
       ARM(w.S->BeforeExecDDL), [](W& w) { w.S->Execute(); }, kNoPartner},
      {kStatement, "AfterExecDDL", [](W& w) { w.S->GetSQL().SetText("CREATE TABLE X (A INTEGER)"); },
       ARM(w.S->AfterExecDDL), [](W& w) { w.S->Execute(); }, kNoPartner},
      {kStatement, "OnError", [](W& w) { w.S->GetSQL().SetText("UPDATE NO_SUCH_TABLE SET A = 1"); },
       [](W& w, const TKill& k) { w.S->SetOnError(k); }, [](W& w) { w.S->Prepare(); }, kNoPartner, 0, true},
      // ---- a transaction (the partner is a query of it) ------------------------------------------------------------
      {kTransaction, "BeforeStart", none, ARM(w.T->BeforeStart), open},
      {kTransaction, "AfterStart", none, ARM(w.T->AfterStart), open},
      {kTransaction, "OnCustomizeTPB", none, ARM(w.T->OnCustomizeTPB), open},
      {kTransaction, "BeforeEnd", pending, ARM(w.T->BeforeEnd), [](W& w) { w.T->Commit(); }, kAll, 1u << vPartner},
      {kTransaction, "BeforeCommit", pending, ARM(w.T->BeforeCommit), [](W& w) { w.T->Commit(); }, kAll,
       1u << vPartner},
      {kTransaction, "AfterCommit", pending, ARM(w.T->AfterCommit), [](W& w) { w.T->Commit(); }, kAll, kAll},
      {kTransaction, "AfterEnd", pending, ARM(w.T->AfterEnd), [](W& w) { w.T->Commit(); }, kAll, kAll},
      {kTransaction, "BeforeCommitRetaining", pending, ARM(w.T->BeforeCommitRetaining),
       [](W& w) { w.T->CommitRetaining(); }, kAll, 1u << vPartner},
      {kTransaction, "AfterCommitRetaining", pending, ARM(w.T->AfterCommitRetaining),
       [](W& w) { w.T->CommitRetaining(); }, kAll, kAll},
      {kTransaction, "BeforeRollback", pending, ARM(w.T->BeforeRollback), [](W& w) { w.T->Rollback(); }},
      {kTransaction, "AfterRollback", pending, ARM(w.T->AfterRollback), [](W& w) { w.T->Rollback(); }},
      {kTransaction, "BeforeRollbackRetaining", pending, ARM(w.T->BeforeRollbackRetaining),
       [](W& w) { w.T->RollbackRetaining(); }},
      {kTransaction, "AfterRollbackRetaining", pending, ARM(w.T->AfterRollbackRetaining),
       [](W& w) { w.T->RollbackRetaining(); }},
      {kTransaction, "OnGainFocus", none, ARM(w.T->OnGainFocus), focusTransaction},
      {kTransaction, "OnLoseFocus", focusTransaction, ARM(w.T->OnLoseFocus),
       [](W& w) { w.T->GetSession()->SetFocused(frTransaction, nullptr); }},
      {kTransaction, "OnSessionTimer", pending, ARM(w.T->OnSessionTimer), timeoutCheck},
      {kTransaction, "OnTimeoutPromptUser",
       [=](W& w) {
         w.T->GetTimeoutProps().SetPromptUser(1);
         pending(w);
       },
       ARM(w.T->OnTimeoutPromptUser), timeoutCheck},
      // ---- a data source (the partner is its dataset) --------------------------------------------------------------
      {kSource, "BeforeAssignment", open, ARM(w.QS->BeforeAssignment), [](W& w) { w.QS->SetDataset(nullptr); }},
      {kSource, "AfterAssignment", [](W& w) { w.QS->SetDataset(nullptr); }, ARM(w.QS->AfterAssignment),
       [](W& w) { w.QS->SetDataset(w.Q); }},
      {kSource, "OnStateChanged", open, ARM(w.QS->OnStateChanged), [](W& w) { w.Q->Edit(); }},
      {kSource, "OnDataChange", open, ARM(w.QS->OnDataChange), [](W& w) { w.Q->Next(); }},
      {kSource, "OnUpdateData", edit, ARM(w.QS->OnUpdateData), [](W& w) { w.Q->Post(); }},
      {kSource, "OnGainFocus", [](W& w) { w.QS->SetAnnounceFocus(true); }, ARM(w.QS->OnGainFocus), focusSource},
      {kSource, "OnLoseFocus", focusSource, ARM(w.QS->OnLoseFocus),
       [](W& w) { w.QS->GetSession()->SetFocused(frDataSource, nullptr); }},
      // ---- the session's error event, reporting the error of a query or a statement ------------------------------
      {kQuery, "OnError", [](W& w) { w.Q->GetSQL().SetText("SELECT A FROM NO_SUCH_TABLE"); },
       ARM(w.Q->GetSession()->OnError), prepare, kAll, 0, true},
      {kQuery, "OnError",
       [](W& w) {
         w.Q->Open();
         w.Q->Insert();
         w.Q->FieldByName("ID")->SetAsInteger(1);  // taken
       },
       ARM(w.Q->GetSession()->OnError), [](W& w) { w.Q->Post(); }, kAll, 0, true},
      {kStatement, "OnError", [](W& w) { w.S->GetSQL().SetText("UPDATE NO_SUCH_TABLE SET A = 1"); },
       ARM(w.S->GetSession()->OnError), [](W& w) { w.S->Prepare(); }, kNoPartner, 0, true},
      // ---- a connection (the partner is a query on it) --------------------------------------------------------------
      {kConnection, "BeforeConnect", none, ARM(w.Cn->BeforeConnect), cnConnect},
      {kConnection, "AfterConnect", none, ARM(w.Cn->AfterConnect), cnConnect},
      {kConnection, "OnConnectedChanged", none, ARM(w.Cn->OnConnectedChanged), cnConnect},
      {kConnection, "OnCustomizeDPB", none, ARM(w.Cn->OnCustomizeDPB), cnConnect},
      {kConnection, "OnLogin", [](W& w) { w.Cn->SetLoginPrompt(true); }, ARM(w.Cn->OnLogin), cnConnect},
      {kConnection, "OnLoginFailure",
       [](W& w) {
         w.Cn->SetLoginPrompt(true);
         w.Cn->OnLogin = [](TIB_Connection*, bool& AbortLogin) { AbortLogin = true; };
       },
       ARM(w.Cn->OnLoginFailure), cnConnect},
      {kConnection, "OnError", [](W& w) { w.Cn->SetDatabaseName(w.NewFile); },  // no such file
       [](W& w, const TKill& k) { w.Cn->SetOnError(k); }, cnConnect, kAll, 0, true},
      {kConnection, "OnError", [](W& w) { w.Cn->SetDatabaseName(w.NewFile); }, ARM(w.Cn->GetSession()->OnError),
       cnConnect, kAll, 0, true},
      {kConnection, "BeforeDisconnect", open, ARM(w.Cn->BeforeDisconnect), cnDisconnect},
      {kConnection, "AfterDisconnect", open, ARM(w.Cn->AfterDisconnect), cnDisconnect},
      {kConnection, "OnConnectedChanged", open, ARM(w.Cn->OnConnectedChanged), cnDisconnect},
      // ... the handlers the disconnect's walk of its transactions and datasets reaches
      {kConnection, "BeforeClose", open, ARM(w.Q->BeforeClose), cnDisconnect},
      {kConnection, "AfterClose", open, ARM(w.Q->AfterClose), cnDisconnect},
      {kConnection, "BeforeEnd", open, ARM(w.T->BeforeEnd), cnDisconnect},
      {kConnection, "AfterEnd", open, ARM(w.T->AfterEnd), cnDisconnect},
      {kConnection, "BeforeExecDDL", open, ARM(w.Cn->BeforeExecDDL), ddl},
      {kConnection, "AfterExecDDL", open, ARM(w.Cn->AfterExecDDL), ddl},
      {kConnection, "BeforeCreateDatabase", newFile, ARM(w.Cn->BeforeCreateDatabase), create},
      {kConnection, "AfterCreateDatabase", newFile, ARM(w.Cn->AfterCreateDatabase), create},
      {kConnection, "BeforeDropDatabase",
       [=](W& w) {
         newFile(w);
         create(w);
       },
       ARM(w.Cn->BeforeDropDatabase), [](W& w) { w.Cn->DropDatabase(); }},
      {kConnection, "AfterDropDatabase",
       [=](W& w) {
         newFile(w);
         create(w);
       },
       ARM(w.Cn->AfterDropDatabase), [](W& w) { w.Cn->DropDatabase(); }},
      {kConnection, "OnGainFocus", [](W& w) { w.Cn->SetAnnounceFocus(true); }, ARM(w.Cn->OnGainFocus),
       [](W& w) { w.Cn->SetFocus(); }},
      {kConnection, "OnLoseFocus",
       [](W& w) {
         w.Cn->SetAnnounceFocus(true);
         w.Cn->SetFocus();
       },
       ARM(w.Cn->OnLoseFocus), [](W& w) { w.Cn->GetSession()->SetFocused(frConnection, nullptr); }},
      {kConnection, "OnProcessSearchBuffer", qbe, ARM(w.Cn->OnProcessSearchBuffer), search},
      {kConnection, "OnSoundExParse", qbe, ARM(w.Cn->OnSoundExParse), search},
      {kConnection, "OnSoundExMaxParse",
       [=](W& w) {
         w.Q->GetColumnAttributes().SetText("NAME=SOUNDEX=GRP;NOTRAILING");
         w.Cn->OnSoundExParse = [](TIB_Connection*, const std::string&, std::string& R) { R = "1"; };
         w.Q->Prepare();
       },
       ARM(w.Cn->OnSoundExMaxParse), search},
      {kConnection, "OnCustomCompareStr", ordered,
       [](W& w, const TKill& k) {
         w.Cn->OnCustomCompareStr = [k](TIB_Column* C, const std::string& A, const std::string& B) {
           k(C, A, B);
           return int32_t{-1};
         };
       },
       [](W& w) { w.Q->IncSearchString("n5", 1, false); }},
      {kConnection, "OnCustomCompareText",
       [=](W& w) {
         w.Q->GetColumnAttributes().SetText("NAME=NOCASE");
         ordered(w);
       },
       [](W& w, const TKill& k) {
         w.Cn->OnCustomCompareText = [k](TIB_Column* C, const std::string& A, const std::string& B) {
           k(C, A, B);
           return int32_t{-1};
         };
       },
       [](W& w) { w.Q->IncSearchString("n5", 1, false); }},
      {kConnection, "OnReceiveDMLCache",
       [](W& w) {
         w.Q->SetDMLCacheFlags(IB_DMLCacheFlag(dcfAnnounceEdit));
         w.Q->Open();
         w.Q->Next();
         w.Q->Edit();
         w.Q->FieldByName("NAME")->SetAsString("changed");
         w.Q->Post();
       },
       ARM(w.Cn->OnReceiveDMLCache), [](W& w) { w.T->Commit(); }, kAll, kAll},
      // ---- a link that follows the session's focused connection (its partner is that connection) ------------------
      {kLink, "OnReceiveFocus",
       [](W& w) {
         w.Cn->SetAnnounceFocus(true);
         w.Cn->Connect();
       },
       ARM(w.L->OnReceiveFocus),
       [](W& w) { w.Cn->SetFocus(); }},
      // ---- a lookup, moved by its key source (its partner) ----------------------------------------------------------
      {kLookup, "BeforeScroll", lookupOpen, ARM(w.LK->BeforeScroll), [](W& w) { w.KS->Next(); }},
      {kLookup, "AfterScroll", lookupOpen, ARM(w.LK->AfterScroll), [](W& w) { w.KS->Next(); }},
      {kLookup, "AfterScroll", lookupOpen, ARM(w.LK->AfterScroll), [](W& w) {
         w.KS->Edit();
         w.KS->FieldByName("GRP")->SetAsInteger(3);
       }},
      {kLookup, "OnDataChange", lookupOpen, ARM(w.KSS->OnDataChange), [](W& w) { w.KS->Next(); }},
      {kLookup, "OnStateChanged", lookupOpen, ARM(w.KSS->OnStateChanged), [](W& w) { w.KS->Edit(); }},
  };
#undef ARM
  return c;
}

// Events no case of the table reaches, each with its reason.
const std::set<std::string>& NotInTable() {
  static const std::set<std::string> names = {
      // Declared for the application's own pause feature; the library never calls them.
      "OnPauseChanged", "OnGetCanPause",
      // Reached only through another transaction's commit delivering its DML notices.
      "OnDMLCacheReceivedItem",
      // The client library calls it during a blob transfer, between its own segment calls.
      "OnBlobCallback",
  };
  return names;
}

TEST_F(DeleteFromHandlerTest, EveryEventAndHandlerMayDeleteTheComponentItsPartnerOrItsTransaction) {
  TestClock clock(1, 1);
  const std::string table = Read();
  const std::string changed = [&] {
    std::string t = table;
    t.replace(t.find("2,n2,2"), 6, "2,changed,2");
    return t;
  }();
  for (const TCase& k : Cases(clock)) {
    for (TVictim v : {vSelf, vPartner, vTransaction}) {
      if (!(k.Victims & (1u << v))) continue;
      SCOPED_TRACE(std::string(KindName(k.Kind)) + "." + k.Event + " deletes " +
                   (v == vSelf ? "the component" : v == vPartner ? "its partner" : "its transaction"));
      TWorld w;
      Build(w, k.Kind);
      TComponent** victim = VictimOf(w, k.Kind, v);
      std::function<void()> kill = [victim] {
        TComponent* doomed = *victim;
        *victim = nullptr;
        delete doomed;
      };
      int calls = 0, touched = 0;
      bool aborted = false;
      try {
        k.Setup(w);
        k.Arm(w, TKill{&kill, &calls, &touched});
        k.Run(w);
      } catch (const EAbort&) {
        aborted = true;
      } catch (const EIB_Error& e) {
        if (!k.Fails || v == vSelf) ADD_FAILURE() << "the entry point raised: " << e.what();
      } catch (const std::exception& e) {
        ADD_FAILURE() << "the entry point raised: " << e.what();
      }
      EXPECT_GE(calls, 1) << "the handler never ran";
      EXPECT_EQ(calls, touched);
      EXPECT_EQ(nullptr, *victim);
      // Deleting the component that runs the operation never lets the operation return normally.
      if (v == RunnerOf(k.Kind) && calls >= 1 && k.Kind != kSource) EXPECT_TRUE(aborted);
      EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
      TearDownWorld(w);
      Conn->GetSession()->OnError = nullptr;
      EXPECT_EQ((k.Commits & (1u << v)) ? changed : table, Read());
      if (k.Commits & (1u << v)) {
        Exec("UPDATE T SET NAME = 'n2' WHERE ID = 2");
        Tr->Commit();
      }
    }
  }
}

// The table holds every event member the headers declare (and every handler called directly): a new
// event fails here until it has its cases.
TEST_F(DeleteFromHandlerTest, TheTableNamesEveryEventTheHeadersDeclare) {
  TestClock clock(1, 1);
  std::set<std::string> inTable;
  std::set<std::pair<TKind, std::string>> inTableByKind;
  for (const TCase& k : Cases(clock)) {
    inTable.insert(k.Event);
    inTableByKind.insert({k.Kind, k.Event});
  }
  const std::regex member(R"(\n\s+(T\w+)\s+((?:(?:On|Before|After)\w+\s*,\s*)*(?:On|Before|After)\w+)\s*;)");
  const std::regex name(R"((On|Before|After)\w+)");
  std::set<std::string> declared = {"OnFilterRecord", "OnError"};
  for (const char* header : {"dblib/IB_Statement.h", "dblib/dataset/IB_Dataset.h", "dblib/dataset/IB_BDataset.h",
                             "dblib/IB_Transaction.h", "dblib/dataset/IB_DataSource.h"}) {
    std::ifstream in(std::string(DBLIB_SOURCE_ROOT) + "/" + header);
    ASSERT_TRUE(in) << header;
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    int found = 0;
    for (auto m = std::sregex_iterator(s.begin(), s.end(), member); m != std::sregex_iterator(); ++m) {
      const std::string names = (*m)[2];
      for (auto n = std::sregex_iterator(names.begin(), names.end(), name); n != std::sregex_iterator(); ++n) {
        declared.insert(n->str());
        ++found;
      }
    }
    EXPECT_GT(found, 0) << header;
  }
  // The connection's header: each event there has a case of the connection (or of its link) itself, not
  // one of a statement that shares its name.
  {
    std::ifstream in(std::string(DBLIB_SOURCE_ROOT) + "/dblib/IB_Connection.h");
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    int found = 0;
    for (auto m = std::sregex_iterator(s.begin(), s.end(), member); m != std::sregex_iterator(); ++m) {
      const std::string names = (*m)[2];
      for (auto n = std::sregex_iterator(names.begin(), names.end(), name); n != std::sregex_iterator(); ++n) {
        ++found;
        EXPECT_TRUE(inTableByKind.count({kConnection, n->str()}) || inTableByKind.count({kLink, n->str()}))
            << "TIB_Connection." << n->str() << " has no case in the table";
      }
    }
    EXPECT_GE(found, 23);
  }
  EXPECT_GE(declared.size(), 70u);
  for (const std::string& e : declared) {
    EXPECT_TRUE(inTable.count(e) || NotInTable().count(e)) << e << " has no case in the table";
  }
}

}  // namespace

namespace {

// A disconnect whose walk loses a transaction (a dataset's handler deletes it) still detaches: the
// attachment is let go, the entry point ends with the silent abort, and the connection attaches again.
TEST_F(DeleteFromHandlerTest, ADisconnectThatLosesATransactionStillDetachesAndEndsWithTheSilentAbort) {
  auto* cn = new TIB_Connection(Owner);
  cn->SetDatabaseName(Conn->GetDatabaseName());
  cn->SetCharSet("ISO8859_1");
  auto* t = new TIB_Transaction(Owner);
  t->SetIB_Connection(cn);
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(cn);
  q->SetIB_Transaction(t);
  q->GetSQL().SetText("SELECT ID FROM T ORDER BY ID");
  q->Open();
  ASSERT_TRUE(cn->GetConnected());
  q->AfterClose = [&](TIB_Dataset*) { FreeAndNil(t); };
  EXPECT_THROW(cn->Disconnect(), EAbort);
  EXPECT_EQ(nullptr, t);
  EXPECT_FALSE(cn->GetConnected());
  EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
  q->AfterClose = nullptr;
  cn->Connect();
  EXPECT_TRUE(cn->GetConnected());
  delete q;
  delete cn;
}

// The login handler sets its flag after deleting the connection, as a form's handler may: nothing of
// the connection is written, and the connect ends with the silent abort.
TEST_F(DeleteFromHandlerTest, ALoginHandlerMaySetItsFlagAfterDeletingTheConnection) {
  auto* cn = new TIB_Connection(Owner);
  cn->SetDatabaseName(Conn->GetDatabaseName());
  cn->SetLoginPrompt(true);
  cn->OnLogin = [&cn](TIB_Connection*, bool& AbortLogin) {
    FreeAndNil(cn);
    AbortLogin = true;
  };
  EXPECT_THROW(cn->Connect(), EAbort);
  EXPECT_EQ(nullptr, cn);
  EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
}

// A control's link deleted by its own handler ends only that notice: the move goes on and the other
// links hear it. A detail deleted by its own handler while its master moves ends the master's move.
TEST_F(DeleteFromHandlerTest, ALinkDeletedAloneEndsItsNoticeAndADetailDeletedEndsItsMastersMove) {
  TWorld w;
  Build(w, kQuery);
  w.Q->Open();
  auto* first = new TIB_DataLink(Owner);
  auto* second = new TIB_DataLink(Owner);
  first->SetDataSource(w.MS);
  second->SetDataSource(w.MS);
  int heard = 0;
  first->OnDataChange = [&first](TIB_DataLink*, TIB_DataSource*, TIB_Column*) { FreeAndNil(first); };
  second->OnDataChange = [&heard](TIB_DataLink*, TIB_DataSource*, TIB_Column*) { ++heard; };
  w.M->Next();
  EXPECT_EQ(nullptr, first);
  EXPECT_EQ(1, heard);
  EXPECT_EQ(2, w.M->GetRowNum());
  w.Q->AfterScroll = [&w](TIB_Dataset*) { FreeAndNil(w.Q); };
  EXPECT_THROW(w.M->Next(), EAbort);
  EXPECT_EQ(nullptr, w.Q);
  delete second;
  TearDownWorld(w);
  EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
}

}  // namespace

namespace {

// A stored form loads: its connection attaches at the end of loading and opens the datasets that waited
// for it; the first one's handler deletes the other. The connection's walk skips the one that went.
TEST_F(DeleteFromHandlerTest, ADatasetOpenedAtTheEndOfLoadingMayDeleteAnotherThatWaits) {
  testsupport::ExceptionSink sink;
  // The cursors and the transaction come first in the form: they are loaded before the connection, and
  // the cursors wait for it.
  auto* form = new TComponent(Owner);
  TIB_Cursor* cursors[2];
  for (TIB_Cursor*& c : cursors) c = new TIB_Cursor(form);
  auto* t = new TIB_Transaction(form);
  auto* cn = new TIB_Connection(form);
  cn->SetDatabaseName(Conn->GetDatabaseName());
  cn->SetCharSet("ISO8859_1");
  t->SetIB_Connection(cn);
  for (TIB_Cursor* c : cursors) {
    c->SetIB_Connection(cn);
    c->SetIB_Transaction(t);
    c->GetSQL().SetText("SELECT ID FROM T ORDER BY ID");
  }
  int opened = 0;
  TIB_Cursor* doomed = nullptr;
  cursors[0]->AfterOpen = cursors[1]->AfterOpen = [&](TIB_Dataset* D) {
    if (++opened == 1) {
      doomed = D == cursors[0] ? cursors[1] : cursors[0];
      delete doomed;
    }
  };
  form->BeginLoading();
  cn->SetConnected(true);
  for (TIB_Cursor* c : cursors) c->SetActive(true);
  form->EndLoading();
  ASSERT_NE(nullptr, doomed);
  EXPECT_TRUE(cn->GetConnected());
  EXPECT_EQ(1, opened);
  EXPECT_EQ(std::vector<std::string>{}, sink.Messages);
  EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
  delete form;
}

}  // namespace

namespace {

// A link whose BeforeAssignment or AfterAssignment deletes it, while the application moves it to another
// data source: the move ends with the silent abort, and neither source keeps it.
TEST_F(DeleteFromHandlerTest, ALinkDeletedWhileItMovesToAnotherSourceEndsTheMoveWithTheSilentAbort) {
  auto* from = new TIB_DataSource(Owner);
  auto* to = new TIB_DataSource(Owner);
  for (bool after : {false, true}) {
    SCOPED_TRACE(after ? "AfterAssignment" : "BeforeAssignment");
    auto* link = new TIB_DataLink(Owner);
    link->SetDataSource(from);
    (after ? link->AfterAssignment : link->BeforeAssignment) = [&link](TIB_DataLink*, TIB_DataSource*) {
      FreeAndNil(link);
    };
    EXPECT_THROW(link->SetDataSource(to), EAbort);
    EXPECT_EQ(nullptr, link);
    EXPECT_EQ(0, from->Get_DataLinkCount());
    EXPECT_EQ(0, to->Get_DataLinkCount());
  }
  delete from;
  delete to;
}

}  // namespace

namespace {

// A stored form loads: a query whose Active was set while loading opens at the end of loading (in its own
// Loaded when the connection comes first in the form, in the connection's when the query comes first), and
// its AfterOpen deletes the form, the connection or a component still waiting to load. The loader reads
// nothing of what went: the form's deletion ends EndLoading with the silent abort; otherwise the loading
// goes on and what is left finishes it.
TEST_F(DeleteFromHandlerTest, AHandlerRunAtTheEndOfLoadingMayDeleteTheFormItsConnectionOrAComponentThatWaits) {
  enum TLoadVictim { lvForm, lvConnection, lvWaiting };
  for (bool queryFirst : {false, true}) {
    for (TLoadVictim victim : {lvForm, lvConnection, lvWaiting}) {
      SCOPED_TRACE(std::string(queryFirst ? "query first, " : "connection first, ") +
                   (victim == lvForm ? "form" : victim == lvConnection ? "connection" : "waiting component"));
      testsupport::ExceptionSink sink;
      auto* form = new TComponent(Owner);
      TIB_Connection* cn = nullptr;
      TIB_Query* q = nullptr;
      auto makeConnection = [&] {
        cn = new TIB_Connection(form);
        cn->SetDatabaseName(Conn->GetDatabaseName());
        cn->SetCharSet("ISO8859_1");
      };
      // The transaction comes first: it is loaded before the query opens.
      auto* t = new TIB_Transaction(form);
      if (!queryFirst) makeConnection();
      q = new TIB_Query(form);
      if (queryFirst) makeConnection();
      // Loaded after the query and the connection: still waiting when the query opens.
      auto* waiting = new TIB_DataSource(form);
      auto* last = new TComponent(form);
      t->SetIB_Connection(cn);
      q->SetIB_Connection(cn);
      q->SetIB_Transaction(t);
      q->GetSQL().SetText("SELECT ID FROM T ORDER BY ID");
      waiting->SetDataset(q);
      int opened = 0;
      q->AfterOpen = [&](TIB_Dataset*) {
        ++opened;
        switch (victim) {
          case lvForm: FreeAndNil(form); break;
          case lvConnection: FreeAndNil(cn); break;
          case lvWaiting: FreeAndNil(waiting); break;
        }
      };
      form->BeginLoading();
      cn->SetConnected(true);
      q->SetActive(true);
      if (victim == lvForm) {
        EXPECT_THROW(form->EndLoading(), EAbort);
      } else {
        EXPECT_NO_THROW(form->EndLoading());
      }
      EXPECT_EQ(1, opened);
      EXPECT_EQ(std::vector<std::string>{}, sink.Messages);
      EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
      if (victim == lvForm) {
        EXPECT_EQ(nullptr, form);
        continue;
      }
      // What is left finished loading.
      for (int i = 0; i < form->GetComponentCount(); ++i) {
        EXPECT_FALSE(form->GetComponent(i)->HasState(csLoading)) << i;
        EXPECT_FALSE(form->GetComponent(i)->HasState(csReading)) << i;
      }
      EXPECT_FALSE(last->HasState(csLoading));
      if (victim == lvConnection) {
        EXPECT_EQ(nullptr, cn);
        EXPECT_FALSE(q->GetActive());
        EXPECT_EQ(waiting->GetDataset(), q);
      } else {
        EXPECT_EQ(nullptr, waiting);
        EXPECT_TRUE(cn->GetConnected());
        EXPECT_TRUE(q->GetActive());
        q->First();
        EXPECT_EQ(1, q->FieldByName("ID")->GetAsInteger());
      }
      delete form;
    }
  }
}

}  // namespace
