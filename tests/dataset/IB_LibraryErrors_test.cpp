#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "DatasetTestSupport.h"
#include "dblib/IB_Constants.h"
#include "dblib/data/IB_BlobStream.h"
#include "dblib/uRounding.h"

namespace {

using LibraryErrorsTest = datasettest::DatasetDbTest;

// The checks of the library raise its own exception family with their texts: a caller that catches
// EIB_Error (or the component kind's class) gets them, and a caller that catches Exception still does.
TEST_F(LibraryErrorsTest, ChecksOfTheLibraryReachACatchOfEIB_Error) {
  TIB_Cursor* c = NewCursor();
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  struct {
    const char* What;
    std::function<void()> Run;
    const char* Text;
    bool Dataset;  // raised as the dataset's class
  } cases[] = {
      {"scaled value beyond 32 bits", [] { RoundToScaledInt(0, 1e12L); }, "Scaled value out of Integer range", false},
      {"scaled infinity", [] { RoundToScaledInt(2, 1.0L / 0.0L); }, "Scaled value out of Integer range", false},
      {"negative precision", [] { RoundToPrecision(-1, 1.5L); }, "Rounding precision negative", false},
      {"clause 0", [&] { c->GetSQLClause(0); }, "Invalid SQL clause number 0", true},
      {"clause 10 written", [&] { c->SetSQLClause(10, "x"); }, "Invalid SQL clause number 10", true},
      {"blob stream without column", [&] { q->CreateBlobStream(nullptr, 0); }, "CreateBlobStream needs a column",
       false},
      {"SET TRANSACTION through a statement", [&] { q->ExecuteImmediate("SET TRANSACTION"); },
       "SET TRANSACTION cannot run through a statement: its options would be lost. Set them on the "
       "IB_Transaction and start it",
       false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.What);
    std::string caught = "(none)";
    try {
      k.Run();
    } catch (const EIB_DatasetError& e) {
      caught = std::string(k.Dataset ? "" : "dataset class: ") + e.what();
    } catch (const EIB_Error& e) {
      caught = std::string(k.Dataset ? "EIB_Error only: " : "") + e.what();
    } catch (const Exception& e) {
      caught = std::string("plain Exception: ") + e.what();
    }
    EXPECT_EQ(caught, k.Text);
    EXPECT_EQ(testsupport::MessageOf<Exception>(k.Run), k.Text);
  }
  delete q;
  delete c;
}

// A value beyond what a column can hold, read or written through a statement on the engine, is the column's
// own refusal "Value out of range": a caller's catch of EIB_Error (or EIB_ColumnError) gets it, and the
// column keeps the value it had.
TEST_F(LibraryErrorsTest, ValuesBeyondAColumnsRangeReachACatchOfEIB_ColumnError) {
  Exec(
      "CREATE TABLE V (ID INTEGER NOT NULL PRIMARY KEY, F FLOAT, D DOUBLE PRECISION, B BIGINT, TS TIMESTAMP, "
      "TXT VARCHAR(30), N NUMERIC(18, 1))");
  Tr->Commit();
  Exec(
      "INSERT INTO V VALUES (1, 1.5, 2.5, 9223372036854775807, '2020-01-02 03:04:05', '1e30', "
      "922337203685477580.7)");
  Tr->Commit();
  TIB_DSQL* upd = NewDSQL("UPDATE V SET F = :F, D = :D, B = :B, TS = :TS WHERE ID = 1");
  upd->Prepare();
  TIB_Cursor* c = NewCursor("SELECT N, TXT, B FROM V");
  c->Open();
  ASSERT_FALSE(c->GetEof());
  TIB_Column* f = upd->ParamByName("F");
  TIB_Column* d = upd->ParamByName("D");
  TIB_Column* b = upd->ParamByName("B");
  TIB_Column* ts = upd->ParamByName("TS");
  f->SetAsFloat(1.5);
  d->SetAsFloat(2.5);
  b->SetAsInt64(7);
  ts->SetAsDateTime(43831.5);
  struct {
    const char* What;
    std::function<void()> Run;
  } cases[] = {
      {"a FLOAT beyond the single range as text", [&] { f->SetAsString("1e39"); }},
      {"a FLOAT beyond the single range", [&] { f->SetAsFloat(-1e300); }},
      {"a DOUBLE beyond the double range", [&] { d->SetAsString("1e400"); }},
      {"a BIGINT from a variant beyond 64 bits", [&] { b->SetAsVariant(Variant(1e30)); }},
      {"a TIMESTAMP past the year 9999", [&] { ts->SetAsDateTime(1e9); }},
      {"a NUMERIC too large for a currency", [&] { c->GetFields()->GetColumns(0)->GetAsCurrency(); }},
      {"a BIGINT too large for a currency", [&] { c->GetFields()->GetColumns(2)->GetAsCurrency(); }},
      {"text too large for a comp", [&] { c->GetFields()->GetColumns(1)->GetAsComp(); }},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.What);
    std::string caught = "(none)";
    try {
      k.Run();
    } catch (const EIB_ColumnError& e) {
      caught = e.what();
    } catch (const EIB_Error& e) {
      caught = std::string("EIB_Error only: ") + e.what();
    } catch (const Exception& e) {
      caught = std::string("outside the library's family: ") + e.what();
    }
    EXPECT_EQ(caught, "Value out of range");
  }
  // Nothing refused was stored: the statement writes the values set before.
  upd->Execute();
  Tr->Commit();
  EXPECT_EQ(ReadSecond("SELECT F, D, B, TS FROM V", "|"), "1.5|2.5|7|1/1/2020 12:00:00");
  delete c;
  delete upd;
}

// Texts the design raises with the platform's base exception stay with it; they are named ids too.
TEST(LibraryErrors, TextsBesideTheTableAreLoadedById) {
  EXPECT_EQ(IB_LoadStr(IBMsg::RoundingPrecisionTooLarge), "Rounding precision too large");
  EXPECT_EQ(testsupport::MessageOf<Exception>([] { RoundToPrecision(13, 1.5L); }), "Rounding precision too large");
  EXPECT_EQ(IB_LoadStr(IBMsg::NotReadyYet), "Not ready yet");
  EXPECT_EQ(IB_LoadStr(IBMsg::CursorIsAlreadyOpen), "Cursor is already open");
  EXPECT_EQ(IB_LoadStr(IBMsg::ProfilerReplyOutsideBuffer),
            "TIB_Profiler.Grab():\r\nResultPtr + ItemLen would go outside of Buffer");
}

}  // namespace
