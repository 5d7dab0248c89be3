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
