// The ends of a fetch and of the brackets around it on their failure roads: a fetch aborted and then
// failing leaves no abort behind for the next move, the end of a failed fetch still hides the cancel
// dialog and tells the callback, a handler's Abort is the dataset's, the transaction's attempt to
// commit shows the current row once; plus the held-back notices, the apply's guard against re-entry,
// and the deferral and busy brackets after an error.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/IB_Constants.h"
#include "dblib/dataset/IB_DataSource.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"

namespace {

using datasettest::DatasetDbTest;
using datasettest::TestClock;
using testsupport::MessageOf;

class FetchEndsTest : public DatasetDbTest {
protected:
  // Callbacks at every row from the start (the clock moves one tick a reading).
  template <class D>
  static D* EveryRow(D* Dataset) {
    Dataset->SetCallbackInc(1);
    Dataset->SetCallbackInitInt(0);
    Dataset->SetCallbackRefreshInt(0);
    return Dataset;
  }
  static int32_t Id(TIB_Dataset* D) { return D->FieldByName("ID")->GetAsInteger(); }
  // Walks to the end from where the dataset stands; the rows passed.
  static int WalkOn(TIB_Dataset* D) {
    int n = 0;
    while (!D->GetEof()) {
      D->Next();
      ++n;
    }
    return n;
  }
};

// A fetch stopped by Abort whose end then fails leaves no abort flag behind: the next moves fetch on
// to the end of the result (before, each of them returned at once and the walk never ended).
TEST_F(FetchEndsTest, AnAbortedFetchWhoseEndFailsLeavesNoAbortForTheNextMove) {
  Fill(30);
  TestClock clock(1, 1);
  struct Case {
    const char* Name;
    bool Query;
    bool EndYieldFails;  // else the end callback fails
  } cases[] = {
      {"query, FetchAll, the end callback raises", true, false},
      {"cursor, FetchAll, the end callback raises", false, false},
      {"query, Last, the session's OnEndYield raises", true, true},
      {"cursor, Last, the session's OnEndYield raises", false, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TIB_Dataset* d = EveryRow(k.Query ? static_cast<TIB_Dataset*>(NewQuery()) : NewCursor());
    TIB_Session* s = d->GetSession();
    std::vector<int> statuses;
    d->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t Row, bool& Abort) {
      statuses.push_back(S * 100 + Row);
      if (S == cbsProgress && Row == 10) Abort = true;
      if (S == cbsEnd && !k.EndYieldFails) throw EIB_Error("end failed");
    };
    if (k.EndYieldFails) s->OnEndYield = [](TObject*) { throw EIB_Error("end failed"); };
    d->Open();
    EXPECT_EQ("end failed", MessageOf<EIB_Error>([&] {
                if (k.EndYieldFails) {
                  d->Last();
                } else {
                  d->FetchAll();
                }
              }));
    s->OnEndYield = nullptr;
    // The fetch stopped at the aborted row, and the end callback came after the busy end whatever it did.
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(210, statuses.back()) << "the end's status and row";
    EXPECT_FALSE(d->GetFetching());
    EXPECT_EQ(0, s->GetBusyLevel());
    EXPECT_EQ(-1, s->GetYieldLevel());
    EXPECT_FALSE(d->GetEof());
    d->OnCallback = nullptr;
    if (k.Query) {
      d->First();
      EXPECT_EQ(30, WalkOn(d));
    } else {
      // The cursor goes on from the aborted row (the fetch past the last row finds its end).
      EXPECT_EQ(10, d->GetRowNum());
      EXPECT_EQ(21, WalkOn(d));
    }
    EXPECT_TRUE(d->GetEof());
    delete d;
  }
}

// A row handler that aborts the fetch and then raises: the error reaches the caller, and the next
// move goes on from that row.
TEST_F(FetchEndsTest, ARowHandlerThatAbortsAndRaisesLetsTheNextMoveGoOn) {
  Fill(12);
  struct Case {
    const char* Name;
    std::function<void(TIB_Cursor*)> Run;
  } cases[] = {
      {"FetchAll", [](TIB_Cursor* c) { c->FetchAll(); }},
      {"MoveBy(5)", [](TIB_Cursor* c) { c->MoveBy(5); }},
      {"Last", [](TIB_Cursor* c) { c->Last(); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TIB_Cursor* c = NewCursor();
    c->Open();
    c->AfterFetchRow = [](TIB_Dataset* D) {
      if (D->GetRowNum() != 3) return;
      D->AbortFetching();
      throw EIB_Error("row refused");
    };
    EXPECT_EQ("row refused", MessageOf<EIB_Error>([&] { k.Run(c); }));
    c->AfterFetchRow = nullptr;
    EXPECT_FALSE(c->GetFetching());
    c->Next();
    EXPECT_EQ(4, c->GetRowNum());
    EXPECT_EQ(4, Id(c));
    EXPECT_EQ(9, WalkOn(c));
    delete c;
  }
}

// Records what the cancel-query window is asked to do.
struct RecordingDialogs : TDialogs {
  std::vector<std::string> Log;
  void CancelQueryShow(const TCancelQueryInfo& Info) override { Log.push_back("show " + std::to_string(Info.RowNum)); }
  void CancelQueryHide() override { Log.push_back("hide"); }
};

// A fetch that fails ends as one that succeeds: the cancel dialog is hidden (or the handler hears the
// end), the busy brackets close, and the fetch's error is the one that reaches the caller; an error of
// the end itself goes to the application's exception handler.
TEST_F(FetchEndsTest, AFailedFetchEndsInFullAndItsOwnErrorGoesOn) {
  Fill(12);
  TestClock clock(1, 1);
  RecordingDialogs dialogs;
  TDialogs* previous = SetDialogs(&dialogs);
  std::vector<std::string> reported;
  TExceptionEvent previousSink = Application->OnException;
  Application->OnException = [&](const std::exception& E) { reported.push_back(E.what()); };
  int fetched = 0;
  const auto refuseRow5 = [&](TIB_Dataset*) {
    if (++fetched == 5) throw EIB_Error("row 5 refused");
  };
  for (bool query : {false, true}) {
    SCOPED_TRACE(query ? "query" : "cursor");
    // The library's dialog.
    TIB_Dataset* d = EveryRow(query ? static_cast<TIB_Dataset*>(NewQuery()) : NewCursor());
    d->AfterFetchRow = refuseRow5;
    fetched = 0;
    dialogs.Log.clear();
    EXPECT_EQ("row 5 refused", MessageOf<EIB_Error>([&] { d->FetchAll(); }));
    ASSERT_FALSE(dialogs.Log.empty());
    EXPECT_EQ("hide", dialogs.Log.back());
    EXPECT_EQ("show 4", dialogs.Log[dialogs.Log.size() - 2]);
    EXPECT_FALSE(d->GetFetching());
    EXPECT_EQ(0, d->GetSession()->GetBusyLevel());
    EXPECT_EQ(-1, d->GetSession()->GetYieldLevel());
    // The application's handler hears the end, whose own failure is reported.
    d->Close();
    std::vector<int> statuses;
    d->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t Row, bool&) {
      statuses.push_back(S * 100 + Row);
      if (S == cbsEnd) throw EIB_Error("end failed");
    };
    reported.clear();
    fetched = 0;
    EXPECT_EQ("row 5 refused", MessageOf<EIB_Error>([&] { d->FetchAll(); }));
    EXPECT_EQ((std::vector<int>{0, 101, 102, 103, 104, 205}), statuses);
    EXPECT_EQ(std::vector<std::string>{"end failed"}, reported);
    EXPECT_FALSE(d->GetFetching());
    EXPECT_EQ(0, d->GetSession()->GetBusyLevel());
    // The dataset is usable: it closes (no fetch is running) and reads every row again.
    d->AfterFetchRow = nullptr;
    d->OnCallback = nullptr;
    d->Close();
    d->Open();
    EXPECT_EQ(12, WalkOn(d));
    delete d;
  }
  Application->OnException = previousSink;
  SetDialogs(previous);
}

// OnCallback's Abort is the dataset's abort flag: set there, the dataset may be closed in the same
// handler; a handler may also destroy the dataset and set Abort afterwards.
TEST_F(FetchEndsTest, TheCallbacksAbortIsTheDatasetsFlag) {
  Fill(20);
  TestClock clock(1, 1);
  TIB_Cursor* c = EveryRow(NewCursor());
  c->OnCallback = [&](TIB_Dataset* D, TIB_CallbackStatus S, int32_t Row, bool& Abort) {
    if (S != cbsProgress || Row != 7) return;
    Abort = true;
    EXPECT_NO_THROW(D->Close());
  };
  c->FetchAll();
  EXPECT_FALSE(c->GetActive());
  EXPECT_FALSE(c->GetFetching());
  EXPECT_EQ(0, Tr->GetOpenCursorCount());
  // The handler sees the flag set (by a row's handler here) and may clear it: the fetch goes on. An
  // abort asked for in the handler shows in its Abort at once.
  c->AfterFetchRow = [](TIB_Dataset* D) {
    if (D->GetRowNum() == 5) D->AbortFetching();
  };
  std::vector<bool> seen;
  c->OnCallback = [&](TIB_Dataset* D, TIB_CallbackStatus S, int32_t Row, bool& Abort) {
    if (S != cbsProgress || (Row != 5 && Row != 15)) return;
    seen.push_back(Abort);
    if (Row == 5) {
      Abort = false;
    } else {
      D->AbortFetching();
      seen.push_back(Abort);
    }
  };
  c->FetchAll();
  EXPECT_EQ((std::vector<bool>{true, false, true}), seen);
  EXPECT_EQ(15, c->GetRowNum());
  EXPECT_FALSE(c->GetEof());
  c->AfterFetchRow = nullptr;
  c->OnCallback = nullptr;
  c->FetchAll();
  EXPECT_TRUE(c->GetEof());
  // Destroyed, then Abort set: nothing of the dataset is written.
  TIB_Cursor* victim = EveryRow(NewCursor());
  victim->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool& Abort) {
    if (S != cbsProgress) return;
    FreeAndNil(victim);
    Abort = true;
  };
  TIB_Session* s = victim->GetSession();
  EXPECT_THROW(victim->FetchAll(), EAbort);
  EXPECT_EQ(nullptr, victim);
  EXPECT_EQ(0, s->GetBusyLevel());
  delete c;
}

// The transaction's attempt to commit fetches a query's rows for a while: the query's links hear once
// of the row shown, not of each row fetched, also when a row's handler fails; a link that destroys the
// query on that notice ends the attempt quietly.
TEST_F(FetchEndsTest, ACommitAttemptsFetchTellsTheLinksOnceOfTheRowShown) {
  Fill(60);
  TestClock clock(1, 1);
  enum TEnd { eNormal, eRowFails, eLinkDestroys };
  for (TEnd end : {eNormal, eRowFails, eLinkDestroys}) {
    SCOPED_TRACE(end);
    Tr->SetIsolation(tiCommitted);
    TIB_TimeoutProps& p = Tr->GetTimeoutProps();
    p.SetAllowCheckOAT(1);
    p.SetAttempt(1);
    p.SetAttemptTicks(1000);
    p.SetAttemptMaxRows(100);
    TIB_Query* q = NewQuery();
    q->SetCallbackInc(-1);
    q->SetCommitAction(caFetchAll);
    auto* source = new TIB_DataSource(Owner);
    source->SetDataset(q);
    q->Open();
    q->Next();
    ASSERT_EQ(2, Id(q));
    int notices = 0;
    bool destroyed = false;  // (the source hears of the destruction too)
    source->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) {
      if (destroyed) return;
      ++notices;
      if (end != eLinkDestroys) return;
      destroyed = true;
      FreeAndNil(q);
    };
    if (end == eRowFails) {
      q->AfterFetchRow = [](TIB_Dataset* D) {
        if (D->GetBufferCount() == 30) throw EIB_Error("row refused");
      };
    }
    TestClock::Now += 10'000'000;
    bool terminate = false;
    try {
      Tr->TimeoutCheck(terminate);
    } catch (const EIB_Error& e) {
      EXPECT_EQ(eRowFails, end);
      EXPECT_STREQ("row refused", e.what());
    } catch (const EAbort&) {
      EXPECT_EQ(eLinkDestroys, end);
    }
    EXPECT_EQ(1, notices);
    if (end == eLinkDestroys) {
      EXPECT_EQ(nullptr, q);
    } else {
      EXPECT_EQ(2, Id(q));
      EXPECT_EQ(2, q->GetRowNum());
      EXPECT_EQ(end == eNormal ? 60 : 30, q->GetBufferCount());
      source->OnDataChange = nullptr;
      delete q;
    }
    delete source;
    Tr->GetTimeoutProps().SetAttempt(0);
    if (Tr->GetStarted()) Tr->Commit();
  }
}

// A change's notice reaches the links once: the notice sent with a held-back state change is not
// held for a later bracket, so locating the row already shown tells nobody anything.
TEST_F(FetchEndsTest, LocatingTheRowShownSendsNoNoticeAfterAStateChange) {
  Fill(5);
  struct Case {
    const char* Name;
    std::function<void(TIB_Query*)> Before;
  } cases[] = {
      {"Open and Next", [](TIB_Query* q) { q->Next(); }},
      {"Post",
       [](TIB_Query* q) {
         q->Edit();
         q->FieldByName("NAME")->SetAsString("posted");
         q->Post();
       }},
      {"Refresh", [](TIB_Query* q) { q->Refresh(); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TIB_Query* q = NewQuery();
    q->SetRequestLive(true);
    auto* source = new TIB_DataSource(Owner);
    source->SetDataset(q);
    int notices = 0;
    source->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) { ++notices; };
    q->Open();
    k.Before(q);
    const int32_t id = Id(q);
    notices = 0;
    q->GetKeyFields()->ColumnByName("ID")->SetAsInteger(id);
    EXPECT_TRUE(q->LocateKey());
    EXPECT_EQ(id, Id(q));
    EXPECT_EQ(0, notices);
    // A real move is heard once.
    q->Next();
    EXPECT_EQ(1, notices);
    delete source;
    delete q;
  }
  Tr->Rollback();
}

// ApplyUpdates, CancelUpdates and CommitUpdates from a handler of the apply are refused with a clear
// error: the changes and the buffer stay whole, and the apply's own outcome holds.
TEST_F(FetchEndsTest, CancelOrApplyUpdatesDuringAnApplyIsRefused) {
  Fill(5);
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "CancelUpdates from OnUpdateError" : "ApplyUpdates, CommitUpdates from OnUpdateRecord");
    TIB_Query* q = NewQuery();
    q->SetCachedUpdates(true);
    q->Open();
    q->Last();
    q->SetRowNum(3);
    q->Insert();
    q->FieldByName("ID")->SetAsInteger(5);  // the key is taken: the apply fails there
    q->FieldByName("NAME")->SetAsString("dup");
    q->Post();
    std::string refusal, commitRefusal;
    if (cancel) {
      q->OnUpdateError = [&](TIB_Dataset* D, const EIB_Error&, TIB_UpdateKind, TIB_UpdateAction& Action) {
        refusal = MessageOf<EIB_DatasetError>([&] { static_cast<TIB_Query*>(D)->CancelUpdates(); });
        Action = uaAbort;
      };
      EXPECT_THROW(Tr->ApplyUpdates(), EAbort);
      EXPECT_EQ("Cannot CancelUpdates while cached updates are being applied", refusal);
    } else {
      q->OnUpdateRecord = [&](TIB_Dataset* D, TIB_UpdateKind, TIB_UpdateAction& Action) {
        refusal = MessageOf<EIB_DatasetError>([&] { static_cast<TIB_Query*>(D)->ApplyUpdates(); });
        commitRefusal = MessageOf<EIB_DatasetError>([&] { static_cast<TIB_Query*>(D)->CommitUpdates(); });
        Action = uaSkip;
      };
      q->ApplyUpdates();
      EXPECT_EQ("Cannot ApplyUpdates while cached updates are being applied", refusal);
      EXPECT_EQ("Cannot CommitUpdates while cached updates are being applied", commitRefusal);
      q->CommitUpdates();
    }
    // The insert is still pending, where it was typed; the buffer walks as before.
    EXPECT_TRUE(q->GetUpdatesPending());
    EXPECT_EQ(3, q->GetRowNum());
    EXPECT_EQ("dup", q->FieldByName("NAME")->GetAsString());
    EXPECT_EQ(6, q->GetBufferCount());
    q->SetBufferRowNum(4);
    EXPECT_EQ(3, q->BufferFieldByName("ID")->GetAsInteger());
    q->SetBufferRowNum(6);
    EXPECT_EQ(5, q->BufferFieldByName("ID")->GetAsInteger());
    q->OnUpdateError = nullptr;
    q->OnUpdateRecord = nullptr;
    q->CancelUpdates();
    EXPECT_FALSE(q->GetUpdatesPending());
    EXPECT_EQ(5, q->GetBufferCount());
    delete q;
    if (Tr->GetStarted()) Tr->Commit();
    EXPECT_EQ("1,n1;2,n2;3,n3;4,n4;5,n5", ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","));
  }
}

// The brackets around an operation that fails: no deferral stays open, the session's OnEndBusy is not
// run on the way out, and the screen gets its cursor back.
TEST_F(FetchEndsTest, BracketsCloseAfterAFailure) {
  Fill(5);
  TIB_Session* s = Conn->GetSession();
  // A refused post: after Cancel the next move ends its scroll (no deferral holds AfterScroll back).
  TIB_Query* q = NewQuery();
  q->SetRequestLive(true);
  q->Open();
  q->Edit();
  q->FieldByName("NAME")->SetAsString("refused");
  q->BeforePost = [](TIB_Dataset*) { throw EIB_Error("post refused"); };
  EXPECT_EQ("post refused", MessageOf<EIB_Error>([&] { q->Post(); }));
  EXPECT_EQ(0, q->GetDeferEventsCount());
  EXPECT_EQ(dssEdit, q->GetState());
  q->Cancel();
  int scrolls = 0;
  q->AfterScroll = [&](TIB_Dataset*) { ++scrolls; };
  q->Next();
  EXPECT_EQ(1, scrolls);
  EXPECT_EQ(2, Id(q));
  delete q;
  // A prepare of a missing table: OnBeginBusy ran, OnEndBusy does not while the error goes out.
  int begins = 0, ends = 0;
  s->OnBeginBusy = [&](TObject*) { ++begins; };
  s->OnEndBusy = [&](TObject*) { ++ends; };
  TIB_Cursor* missing = NewCursor("SELECT * FROM MISSING_TABLE");
  const std::string message = MessageOf<EIB_ISCError>([&] { missing->Prepare(); });
  EXPECT_NE(std::string::npos, message.find("MISSING_TABLE")) << message;
  EXPECT_EQ(1, begins);
  EXPECT_EQ(0, ends);
  EXPECT_EQ(0, s->GetBusyLevel());
  s->OnBeginBusy = nullptr;
  s->OnEndBusy = nullptr;
  // The busy cursor (and the yield cursor of a fetch) gives the screen its cursor back after an error.
  s->SetUseCursor(true);
  Screen.SetCursor(crArrow);
  EXPECT_THROW(missing->Prepare(), EIB_ISCError);
  EXPECT_EQ(crArrow, Screen.GetCursor());
  TIB_Cursor* c = NewCursor();
  c->AfterFetchRow = [](TIB_Dataset* D) {
    EXPECT_NE(crArrow, Screen.GetCursor());
    if (D->GetRowNum() == 3) throw EIB_Error("row refused");
  };
  EXPECT_THROW(c->FetchAll(), EIB_Error);
  EXPECT_EQ(crArrow, Screen.GetCursor());
  EXPECT_EQ(0, s->GetBusyLevel());
  s->SetUseCursor(false);
  Screen.SetCursor(crDefault);
  delete c;
  delete missing;
}

}  // namespace
