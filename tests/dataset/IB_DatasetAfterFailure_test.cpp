// What a dataset does at the step after one that failed, was aborted, was skipped or was undone: the
// next step works on the right rows and nothing typed or pending is lost.
#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"

namespace {

using testsupport::MessageOf;

class DatasetAfterFailureTest : public datasettest::DatasetDbTest {
protected:
  std::string Read(const std::string& SQL = "SELECT ID FROM T ORDER BY ID") { return ReadSecond(SQL, ","); }
  TIB_Cursor* LiveCursor() {
    TIB_Cursor* c = NewCursor();
    c->SetRequestLive(true);
    return c;
  }
  // The rows as this connection's transaction sees them, its changes not yet committed.
  std::string ReadOwn() {
    TIB_Cursor* c = NewCursor();
    c->Open();
    std::string out;
    for (; !c->GetEof(); c->Next()) {
      out +=
          (out.empty() ? "" : ";") + c->FieldByName("ID")->GetAsString() + "," + c->FieldByName("NAME")->GetAsString();
    }
    delete c;
    return out;
  }
};

// A retained insert on a cursor is written by an insert, not at the cursor's row: its next post and its
// cancel find it by its key (or, without key links, by the values it was written with), whatever row the
// open cursor stands on.
TEST_F(DatasetAfterFailureTest, CancellingACursorsRetainedInsertDeletesThatRowOnly) {
  Fill(6);
  for (int k = 0; k < 4; ++k) {
    const bool open = k % 2 == 0, keyed = k >= 2;
    SCOPED_TRACE(std::string(open ? "cursor open on row 1" : "cursor never opened") + (keyed ? ", KeyLinks" : ""));
    TIB_Cursor* c = LiveCursor();
    if (keyed) c->GetKeyLinks().SetText("ID");
    if (open) {
      c->Open();
      ASSERT_EQ(1, c->FieldByName("ID")->GetAsInteger());
    } else {
      c->Prepare();
    }
    c->Insert();
    c->FieldByName("ID")->SetAsInteger(50);
    c->FieldByName("NAME")->SetAsString("fifty");
    c->PostRetaining();
    // The next retaining post writes the retained row again, not the cursor's.
    c->FieldByName("NAME")->SetAsString("FIFTY");
    c->PostRetaining();
    EXPECT_EQ("1,n1;2,n2;3,n3;4,n4;5,n5;6,n6;50,FIFTY", ReadOwn());
    c->Cancel();
    EXPECT_FALSE(c->GetIsModifying());
    Tr->Commit();
    EXPECT_EQ("1;2;3;4;5;6", Read());
    delete c;
  }
}

// An Append whose fetch of the remaining rows the user aborts inserts nothing: the dataset stays on its
// row, in browse, and a later Append still inserts.
TEST_F(DatasetAfterFailureTest, AnAppendWhoseFetchIsAbortedInsertsNothing) {
  Fill(50);
  datasettest::TestClock clock(1, 1);
  TIB_Query* q = NewQuery();
  q->SetRequestLive(true);
  q->SetCallbackInc(1);
  q->SetCallbackInitInt(0);
  q->SetCallbackRefreshInt(0);
  bool abort = true;
  int progress = 0;
  q->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool& Abort) {
    if (S == cbsProgress && ++progress >= 10 && abort) Abort = true;
  };
  q->Open();
  q->Append();
  EXPECT_EQ(dssBrowse, q->GetState());
  EXPECT_FALSE(q->GetFetching());
  EXPECT_LT(q->GetBufferCount(), 50);
  abort = false;
  q->Append();
  ASSERT_EQ(dssInsert, q->GetState());
  EXPECT_EQ(51, q->GetRowNum());
  q->FieldByName("ID")->SetAsInteger(51);
  q->Post();
  Tr->Commit();
  EXPECT_EQ("51", ReadSecond("SELECT COUNT(*) FROM T", ","));
  delete q;
}

// A query the commit closed holds no rows: a move by row number says so instead of showing an empty row,
// and the query opened again moves as asked.
TEST_F(DatasetAfterFailureTest, MovingByRowNumberAfterTheCommitClosedTheQueryRaises) {
  Fill(30);
  TIB_Query* q = NewQuery();
  ASSERT_EQ(caClose, q->GetCommitAction());
  q->Open();
  q->SetRowNum(5);
  Tr->Commit();
  ASSERT_FALSE(q->GetActive());
  EXPECT_EQ("Dataset is inactive", MessageOf<EIB_DatasetError>([&] { q->SetRowNum(17); }));
  EXPECT_EQ("Dataset is inactive", MessageOf<EIB_DatasetError>([&] { q->MoveBy(3); }));
  EXPECT_FALSE(q->GetActive());
  q->Open();
  q->SetRowNum(17);
  EXPECT_EQ(17, q->GetRowNum());
  EXPECT_EQ("n17", q->FieldByName("NAME")->GetAsString());
  delete q;
}

// A change the update handler skips stays pending, and the transaction's apply leaves no start of its own
// behind: the next apply, without the handler, writes the change.
TEST_F(DatasetAfterFailureTest, AnApplyThatOnlySkippedLeavesTheTransactionFreeForTheNext) {
  Fill(3);
  TIB_Query* q = NewQuery();
  q->SetRequestLive(true);
  q->SetCachedUpdates(true);
  q->OnUpdateRecord = [](TIB_Dataset*, TIB_UpdateKind, TIB_UpdateAction& Action) { Action = uaSkip; };
  q->Open();
  q->SetRowNum(2);
  q->Delete();
  for (int i = 0; i < 2; ++i) {
    Tr->ApplyUpdates();
    EXPECT_TRUE(q->GetUpdatesPending());
  }
  EXPECT_EQ("1;2;3", Read());
  q->OnUpdateRecord = nullptr;
  Tr->ApplyUpdates();
  EXPECT_FALSE(q->GetUpdatesPending());
  EXPECT_EQ("1;3", Read());
  // An explicit start of the application's own is taken over by the apply and ended by its commit.
  q->Open();
  q->Delete();
  Tr->StartTransaction();
  Tr->ApplyUpdates();
  EXPECT_EQ("3", Read());
  Tr->StartTransaction();
  Tr->Commit();
  delete q;
}

// A refused apply leaves the transaction as explicitly started as it found it: the application may start
// it itself, and the corrected change goes with the next apply.
TEST_F(DatasetAfterFailureTest, ARefusedApplyLeavesNoExplicitStartBehind) {
  Fill(3);
  TIB_Query* q = NewQuery();
  q->SetRequestLive(true);
  q->SetCachedUpdates(true);
  q->Open();
  q->Append();
  q->FieldByName("ID")->SetAsInteger(2);
  q->Post();
  EXPECT_THROW(Tr->ApplyUpdates(), EIB_ISCError);
  EXPECT_TRUE(q->GetUpdatesPending());
  EXPECT_FALSE(Tr->GetExplicitStart());
  Tr->StartTransaction();
  q->Edit();
  q->FieldByName("ID")->SetAsInteger(4);
  q->Post();
  Tr->ApplyUpdates();
  EXPECT_FALSE(q->GetUpdatesPending());
  EXPECT_EQ("1;2;3;4", Read());
  delete q;
}

// The retained row's delete refused by the server leaves the insert as it was; the rollback that follows
// undoes the row without sending anything.
TEST_F(DatasetAfterFailureTest, ARefusedCancelOfARetainedInsertNeverStopsARollback) {
  Fill(2);
  Exec("CREATE EXCEPTION KEEP_ROW 'rows are kept'");
  Exec("CREATE TRIGGER T_KEEP FOR T BEFORE DELETE AS BEGIN EXCEPTION KEEP_ROW; END");
  Tr->Commit();
  for (bool retaining : {false, true}) {
    SCOPED_TRACE(retaining ? "RollbackRetaining" : "Rollback");
    TIB_Cursor* c = LiveCursor();
    c->Open();
    c->Insert();
    c->FieldByName("ID")->SetAsInteger(50);
    c->PostRetaining();
    try {
      c->Cancel();
      ADD_FAILURE() << "the delete was refused";
    } catch (const EIB_ISCError& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find("rows are kept"));
    }
    EXPECT_EQ(dssInsert, c->GetState());
    if (retaining) {
      Tr->RollbackRetaining();
    } else {
      Tr->Rollback();
    }
    EXPECT_FALSE(c->GetIsModifying());
    EXPECT_EQ("1;2", Read());
    delete c;
  }
}

// A handler that fails while a rollback cancels its dataset is reported; the rollback still happens.
TEST_F(DatasetAfterFailureTest, AFailingCancelHandlerIsReportedAndTheRollbackHappens) {
  Fill(2);
  TIB_Cursor* c = LiveCursor();
  c->Open();
  c->Edit();
  c->FieldByName("NAME")->SetAsString("typed");
  c->Post();
  c->Insert();
  c->FieldByName("ID")->SetAsInteger(50);
  c->BeforeCancel = [](TIB_Dataset*) { IB_Raise<EIB_DatasetError>(IBMsg::CannotCancelCurrentRow); };
  testsupport::ExceptionSink sink;
  Tr->Rollback();
  EXPECT_FALSE(Tr->GetStarted());
  ASSERT_FALSE(sink.Messages.empty());
  EXPECT_EQ("Cannot cancel current Row", sink.Messages.front());
  EXPECT_EQ("1,n1;2,n2", Read("SELECT ID, NAME FROM T ORDER BY ID"));
  c->BeforeCancel = nullptr;
  delete c;
}

}  // namespace

namespace {

class PostAfterFailureTest : public datasettest::DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, NOTES BLOB SUB_TYPE TEXT, PIC BLOB)");
    Tr->Commit();
    Exec("INSERT INTO N (ID, NOTES) VALUES (1, 'one')");
    Tr->Commit();
  }
};

// A post the server refuses keeps the typed blob values: the corrected post writes them again.
TEST_F(PostAfterFailureTest, ACorrectedPostWritesTheBlobTypedBeforeTheRefusedOne) {
  const std::string notes(70000, 'x');
  for (bool cursor : {false, true}) {
    SCOPED_TRACE(cursor ? "cursor" : "query");
    TIB_Dataset* d = cursor ? static_cast<TIB_Dataset*>(NewCursor("SELECT ID, NOTES, PIC FROM N"))
                            : NewQuery("SELECT ID, NOTES, PIC FROM N ORDER BY ID");
    d->SetRequestLive(true);
    d->Open();
    d->Insert();
    d->FieldByName("ID")->SetAsInteger(1);
    d->FieldByName("NOTES")->SetAsString(notes + (cursor ? "c" : "q"));
    d->FieldByName("PIC")->SetAsString(std::string("\0\1\2", 3));
    EXPECT_THROW(d->Post(), EIB_ISCError);
    EXPECT_EQ(dssInsert, d->GetState());
    d->FieldByName("ID")->SetAsInteger(cursor ? 3 : 2);
    d->Post();
    Tr->Commit();
    delete d;
  }
  EXPECT_EQ("1,3,ne,null;2,70001,xq,3;3,70001,xc,3",
            ReadSecond("SELECT ID, CHAR_LENGTH(NOTES), RIGHT(NOTES, 2), OCTET_LENGTH(PIC) FROM N ORDER BY ID", ","));
}

// The same for a statement's blob parameter: the execute after a refused one writes the value again.
TEST_F(PostAfterFailureTest, AStatementExecutedAgainAfterARefusalWritesItsBlobParameterAgain) {
  auto* s = new TIB_DSQL(Owner);
  s->SetIB_Connection(Conn);
  s->SetIB_Transaction(Tr);
  s->GetSQL().SetText("INSERT INTO N (ID, NOTES) VALUES (:ID, :NOTES)");
  s->Prepare();
  s->ParamByName("ID")->SetAsInteger(1);
  s->ParamByName("NOTES")->SetAsString("typed once");
  EXPECT_THROW(s->Execute(), EIB_ISCError);
  s->ParamByName("ID")->SetAsInteger(4);
  s->Execute();
  Tr->Commit();
  EXPECT_EQ("1,one;4,typed once", ReadSecond("SELECT ID, NOTES FROM N ORDER BY ID", ","));
}

}  // namespace
