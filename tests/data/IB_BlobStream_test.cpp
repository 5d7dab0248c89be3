#include <gtest/gtest.h>

#include <set>

#include "BlobTestSupport.h"
#include "dblib/IB_Errors.h"

namespace {

using blobtest::BlobDbTest;
using testsupport::MessageOf;

class BlobStreamTest : public BlobDbTest {
protected:
  void SetUp() override {
    BlobDbTest::SetUp();
    MakeTable("B BLOB SUB_TYPE 0");
    Exec("INSERT INTO T VALUES (1, '0123456789')");
  }
  static std::string Value(TIB_Column* Column) { return Column->GetIsNull() ? "<null>" : Column->GetAsString(); }
};

TEST_F(BlobStreamTest, SeekStaysWithinTheValue) {
  TIB_DSQL* sel = Select("B", 1);
  auto stream = sel->CreateBlobStream(sel->GetFields()->GetColumns(0), bsmRead);
  const struct {
    int64_t Offset;
    TSeekOrigin Origin;
    int64_t Position;
  } cases[] = {{100, soBeginning, 10}, {-5, soBeginning, 0}, {4, soBeginning, 4}, {3, soCurrent, 7},
               {-2, soEnd, 8},         {5, soEnd, 10},       {-20, soEnd, 0}};
  for (const auto& c : cases) EXPECT_EQ(stream->Seek(c.Offset, c.Origin), c.Position);
  char buf[4] = {};
  stream->Seek(8, soBeginning);
  EXPECT_EQ(stream->Read(buf, 4), 2);
  EXPECT_EQ(std::string(buf, 2), "89");
  EXPECT_EQ(stream->Write("x", 1), 0);  // a read stream writes nothing
  EXPECT_THROW(stream->SetSize(1), EWriteError);
}

TEST_F(BlobStreamTest, WritesChangeTheValueOnceAndFillGapsWithZeros) {
  TIB_DSQL* upd = Prepared("UPDATE T SET B = :B WHERE ID = 1");
  TIB_Column* b = upd->ParamByName("B");
  int changes = 0;
  b->OnAfterModify = [&](TIB_Column*) { ++changes; };
  {
    // Writing replaces the value, as one change however many writes it takes.
    auto w = upd->CreateBlobStream(b, bsmWrite);
    EXPECT_TRUE(b->GetIsNull());
    w->WriteBuffer("0123456789", 10);
    w->SetSize(5);  // cut: the position stays past the end
    w->WriteBuffer("abc", 3);
    EXPECT_EQ(changes, 0);
  }
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Value(b), std::string("01234\0\0\0\0\0abc", 13));  // the gap holds zeros, not the old bytes
  // A stream that writes nothing leaves the value null.
  upd->CreateBlobStream(b, bsmWrite).reset();
  EXPECT_EQ(Value(b), "<null>");
  EXPECT_EQ(changes, 2);
}

TEST_F(BlobStreamTest, ReadAndModifyEditsTheStoredValue) {
  TIB_DSQL* sel = Select("B", 1);
  TIB_Column* b = sel->GetFields()->GetColumns(0);
  {
    auto rw = sel->CreateBlobStream(b, bsmReadWrite);
    EXPECT_EQ(rw->GetSize(), 10);
    rw->Seek(0, soEnd);
    rw->WriteBuffer("!", 1);
  }
  EXPECT_TRUE(b->GetIsModified());
  EXPECT_EQ(Value(b), "0123456789!");
  // A refused change leaves the value as it was.
  b->OnBeforeModify = [](TIB_Column*) { throw EAbort("refused"); };
  EXPECT_THROW(b->SetAsString("x"), EAbort);
  EXPECT_EQ(Value(b), "0123456789!");
  b->OnBeforeModify = nullptr;
  EXPECT_EQ(b->GetOldAsString(), "0123456789");
  // The edited value goes back as a new blob.
  TIB_DSQL* upd = Prepared("UPDATE T SET B = :B WHERE ID = 1");
  upd->ParamByName("B")->Assign(b);
  upd->Execute();
  EXPECT_EQ(Scalar("SELECT B FROM T"), "0123456789!");
}

TEST_F(BlobStreamTest, ValuesWrittenInSmallPiecesGrowTheBufferGeometrically) {
  TIB_DSQL* upd = Prepared("UPDATE T SET B = :B WHERE ID = 1");
  auto w = upd->CreateBlobStream(upd->ParamByName("B"), bsmWrite);
  std::set<int32_t> capacities;
  const int n = 100000;
  for (int i = 0; i < n; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    w->WriteBuffer(&c, 1);
    capacities.insert(w->GetNode()->BlobBufferSize);
  }
  EXPECT_LT(capacities.size(), 40u);  // not one reallocation per write
  w->EndWrite();
  upd->Execute();
  EXPECT_EQ(Scalar("SELECT OCTET_LENGTH(B) FROM T"), std::to_string(n));
}

TEST_F(BlobStreamTest, StreamsNeedAColumnNode) {
  TIB_DSQL* sel = Select("B", 1);
  sel->GetFields()->SetIsKeyRow(true);  // key rows keep no blob values
  TIB_Column* b = sel->GetFields()->GetColumns(0);
  EXPECT_EQ(TIB_BlobStream(*b, bsmRead).GetSize(), 0);
  sel->GetFields()->SetIsKeyRow(false);
  TIB_DSQL* other = Prepared("SELECT ID FROM T");
  EXPECT_EQ(MessageOf<EIB_Error>([&] { TIB_BlobStream(*other->GetFields()->GetColumns(0), bsmWrite); }),
            "Unassigned BlobNode");
}

}  // namespace

namespace {

TEST_F(BlobStreamTest, AnEmptyWriteSendsNullEvenToANotNullParameter) {
  Exec("CREATE TABLE N (ID INTEGER, B BLOB SUB_TYPE 0 NOT NULL)");
  Tr->Commit();
  TIB_DSQL* ins = Prepared("INSERT INTO N (ID, B) VALUES (1, :B)");
  ins->ParamByName("B")->Clear();
  EXPECT_NE(MessageOf<EIB_ISCError>([&] { ins->Execute(); }).find("validation error"), std::string::npos);
}

}  // namespace
