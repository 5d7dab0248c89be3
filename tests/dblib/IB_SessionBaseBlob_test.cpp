// Blob and array transfer through a session, against the embedded engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dblib/IB_SessionBase.h"
#include "support/TestDatabase.h"

using testsupport::NewSession;
using testsupport::SessionPtr;
using testsupport::TestDatabase;

namespace {

struct CallbackLog {
  std::vector<std::pair<TIB_BlobCallbackStatus, int32_t>> Events;
  int32_t SegmentAnswer = 0;  // what the callback sets at a start event (0: leave it)
  TIB_BlobCallbackEvent Callback() {
    return [this](XSQLVAR*, TIB_BlobCallbackStatus Status, int32_t Bytes, int32_t& MaxSegment) {
      Events.emplace_back(Status, Bytes);
      if ((Status == bcsReadStart || Status == bcsWriteStart) && SegmentAnswer != 0) MaxSegment = SegmentAnswer;
    };
  }
};

std::string Pattern(size_t N) {
  std::string s(N, '\0');
  for (size_t i = 0; i < N; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

void SetNodeData(TIB_BlobNode& Node, const std::string& Data) {
  ReserveBlobNode(Node, static_cast<int32_t>(Data.size()));
  if (!Data.empty()) std::memcpy(Node.BlobBuffer.get(), Data.data(), Data.size());
  Node.BlobSize = static_cast<int32_t>(Data.size());
}

std::string NodeData(const TIB_BlobNode& Node) {
  return std::string(reinterpret_cast<const char*>(Node.BlobBuffer.get()), static_cast<size_t>(Node.BlobSize));
}

class BlobTransfer : public ::testing::Test {
protected:
  void SetUp() override {
    S = NewSession();
    Db = std::make_unique<TestDatabase>(*S);
    Db->Execute("CREATE TABLE T (ID INTEGER NOT NULL, B BLOB SUB_TYPE 0 SEGMENT SIZE 100, A INTEGER[1:5])");
    Db->Commit();
    Db->Execute("INSERT INTO T (ID) VALUES (1)");
  }
  void TearDown() override {
    Db.reset();
    S.reset();
  }

  // Writes Data as a new blob into T.B.
  ISC_STATUS Store(const std::string& Data, const TIB_BlobCallbackEvent& Callback = nullptr) {
    ISC_STATUS status = 0;
    Db->ExecuteWithParam("UPDATE T SET B = ? WHERE ID = 1", [&](XSQLVAR& Var) {
      TIB_BlobNode node;
      SetNodeData(node, Data);
      status = S->StoreBlobNodeData(Db->DB(), Db->TR(), Callback, &node, nullptr, &Var);
      ErrCode = S->GetERRCODE();
      Status1 = S->GetStatusVector()[1];
      std::memcpy(Var.sqldata, &node.BlobID, sizeof(ISC_QUAD));
      *Var.sqlind = status == 0 ? 0 : -1;
      ResetBlobNode(node);
    });
    return status;
  }
  // Reads T.B back.
  std::string Load(const TIB_BlobCallbackEvent& Callback = nullptr, ISC_STATUS* Status = nullptr) {
    std::string data;
    Db->WithFirstColumn("SELECT B FROM T WHERE ID = 1", [&](XSQLVAR& Var) {
      TIB_BlobNode node;
      std::memcpy(&node.BlobID, Var.sqldata, sizeof(ISC_QUAD));
      const ISC_STATUS status = S->LoadBlobNodeData(Db->DB(), Db->TR(), Callback, &node, nullptr, &Var);
      ErrCode = S->GetERRCODE();
      Status1 = S->GetStatusVector()[1];
      if (Status)
        *Status = status;
      else
        EXPECT_EQ(status, 0);
      data = NodeData(node);
      // Shrunk, unless the unused tail is an eighth of the buffer or less (not worth copying the value).
      EXPECT_LE(8 * (node.BlobBufferSize - node.BlobSize), node.BlobBufferSize);
      ResetBlobNode(node);
    });
    return data;
  }

  SessionPtr S;
  std::unique_ptr<TestDatabase> Db;
  int32_t ErrCode = 0;     // ERRCODE right after the last transfer
  ISC_STATUS Status1 = 0;  // the status vector's error code right after it
};

TEST_F(BlobTransfer, EmptyBlobIsWrittenAndReadWithoutStepsOrReadCallbacks) {
  CallbackLog write;
  ASSERT_EQ(Store("", write.Callback()), 0);
  EXPECT_EQ(write.Events, (decltype(write.Events){{bcsWriteStart, 0}, {bcsWriteEnd, 0}}));
  CallbackLog read;
  EXPECT_EQ(Load(read.Callback()), "");
  EXPECT_TRUE(read.Events.empty());
}

TEST_F(BlobTransfer, OneByteBlobRoundTrips) {
  ASSERT_EQ(Store("x"), 0);
  EXPECT_EQ(Load(), "x");
}

TEST_F(BlobTransfer, LargeBlobIsWrittenInFullSegmentsAndAReadInChunksWithoutTruncation) {
  const std::string data = Pattern(150000);
  CallbackLog write;
  ASSERT_EQ(Store(data, write.Callback()), 0);
  EXPECT_EQ(write.Events, (decltype(write.Events){{bcsWriteStart, 150000},
                                                  {bcsWriteStep, 65535},
                                                  {bcsWriteStep, 131070},
                                                  {bcsWriteStep, 150000},
                                                  {bcsWriteEnd, 150000}}));
  CallbackLog read;
  EXPECT_EQ(Load(read.Callback()), data);
  ASSERT_GE(read.Events.size(), 3u);
  EXPECT_EQ(read.Events.front(), std::make_pair(bcsReadStart, 150000));
  EXPECT_EQ(read.Events.back(), std::make_pair(bcsReadEnd, 150000));
  for (size_t i = 1; i + 1 < read.Events.size(); ++i) EXPECT_EQ(read.Events[i].first, bcsReadStep);
}

TEST_F(BlobTransfer, ReadSegmentSizeComesFromTheCallbackOrTheDeclaredColumn) {
  const std::string data = Pattern(1000);
  ASSERT_EQ(Store(data), 0);
  // The blob was written as one segment of 1000 bytes; a callback asking for 300 reads 4 pieces.
  CallbackLog read;
  read.SegmentAnswer = 300;
  EXPECT_EQ(Load(read.Callback()), data);
  std::vector<int32_t> steps;
  for (auto& e : read.Events)
    if (e.first == bcsReadStep) steps.push_back(e.second);
  EXPECT_EQ(steps, (std::vector<int32_t>{300, 600, 900, 1000}));
  // A callback answering 0 lets the column's declared segment size (100) decide.
  CallbackLog declared;
  declared.SegmentAnswer = -1;
  EXPECT_EQ(Load(declared.Callback()), data);
  EXPECT_EQ(declared.Events.size(), 12u);  // start, ten steps, end
}

int gPutCalls = 0, gCancelCalls = 0, gCloseCalls = 0;
TIB_SessionBase* gSession = nullptr;
ISC_STATUS PutFailsSecondTime(ISC_STATUS* Status, isc_blob_handle* Blob, unsigned short Length, const ISC_SCHAR* Data) {
  if (++gPutCalls == 2) {
    Status[0] = isc_arg_gds;
    Status[1] = isc_no_segstr_close;
    Status[2] = isc_arg_end;
    return Status[1];
  }
  return gSession->Untraced.isc_put_segment(Status, Blob, Length, Data);
}
ISC_STATUS CountingCancel(ISC_STATUS* Status, isc_blob_handle* Blob) {
  ++gCancelCalls;
  return gSession->Untraced.isc_cancel_blob(Status, Blob);
}
ISC_STATUS CountingClose(ISC_STATUS* Status, isc_blob_handle* Blob) {
  ++gCloseCalls;
  return gSession->Untraced.isc_close_blob(Status, Blob);
}
ISC_STATUS GetFails(ISC_STATUS* Status, isc_blob_handle*, unsigned short*, unsigned short, ISC_SCHAR*) {
  Status[0] = isc_arg_gds;
  Status[1] = isc_bad_segstr_handle;
  Status[2] = isc_arg_end;
  return Status[1];
}

TEST_F(BlobTransfer, AFailedSegmentWriteIsReportedAndTheBlobCancelled) {
  gSession = S.get();
  gPutCalls = gCancelCalls = gCloseCalls = 0;
  S->Entries.isc_put_segment = &PutFailsSecondTime;
  S->Entries.isc_cancel_blob = &CountingCancel;
  S->Entries.isc_close_blob = &CountingClose;
  CallbackLog write;
  EXPECT_EQ(Store(Pattern(150000), write.Callback()), isc_no_segstr_close);
  EXPECT_EQ(ErrCode, isc_no_segstr_close);
  EXPECT_EQ(Status1, isc_no_segstr_close);
  EXPECT_EQ(gPutCalls, 2);
  EXPECT_EQ(gCancelCalls, 1);
  EXPECT_EQ(gCloseCalls, 0);
  EXPECT_EQ(write.Events.back(), std::make_pair(bcsWriteEnd, 150000));
}

// The real reply, with the total length replaced by one past what a node can hold (over 2 GiB).
ISC_STATUS InfoClaimsHugeBlob(ISC_STATUS* Status, isc_blob_handle* Blob, short ItemLength, const ISC_SCHAR* Items,
                              short BufferLength, ISC_SCHAR* Buffer) {
  const ISC_STATUS r = gSession->Untraced.isc_blob_info(Status, Blob, ItemLength, Items, BufferLength, Buffer);
  for (int pos = 0; r == 0 && pos + 3 <= BufferLength && Buffer[pos] != isc_info_end;) {
    const int length = static_cast<unsigned char>(Buffer[pos + 1]) | (static_cast<unsigned char>(Buffer[pos + 2]) << 8);
    if (Buffer[pos] == isc_info_blob_total_length && length == 4) {
      const uint32_t huge = 0x90000000u;
      std::memcpy(Buffer + pos + 3, &huge, 4);  // little-endian, as the client writes it
    }
    pos += 3 + length;
  }
  return r;
}

TEST_F(BlobTransfer, AFailedReadIsReportedWithItsStatusAndTheBlobStillClosed) {
  ASSERT_EQ(Store("some data"), 0);
  gSession = S.get();
  S->Entries.isc_close_blob = &CountingClose;
  // A failed segment, and a blob too large for a node (a failure, not an empty value).
  for (ISC_STATUS expected : {ISC_STATUS{isc_bad_segstr_handle}, ISC_STATUS{isc_blobtoobig}}) {
    S->Entries.isc_get_segment = expected == isc_bad_segstr_handle ? &GetFails : S->Untraced.isc_get_segment;
    S->Entries.isc_blob_info = expected == isc_blobtoobig ? &InfoClaimsHugeBlob : S->Untraced.isc_blob_info;
    gCloseCalls = 0;
    ISC_STATUS status = 0;
    Load(nullptr, &status);
    EXPECT_EQ(status, expected);
    EXPECT_EQ(ErrCode, expected);
    EXPECT_EQ(Status1, expected);
    EXPECT_EQ(gCloseCalls, 1);
  }
}

TEST_F(BlobTransfer, ACallbackThatThrowsLeavesTheNodeConsistentAndTheBlobClosed) {
  ASSERT_EQ(Store(Pattern(5000)), 0);
  gSession = S.get();
  gCloseCalls = 0;
  S->Entries.isc_close_blob = &CountingClose;
  TIB_BlobCallbackEvent throwing = [](XSQLVAR*, TIB_BlobCallbackStatus Status, int32_t, int32_t& MaxSegment) {
    MaxSegment = 1000;
    if (Status == bcsReadStep) throw EAbort();
  };
  Db->WithFirstColumn("SELECT B FROM T WHERE ID = 1", [&](XSQLVAR& Var) {
    TIB_BlobNode node;
    std::memcpy(&node.BlobID, Var.sqldata, sizeof(ISC_QUAD));
    EXPECT_THROW(S->LoadBlobNodeData(Db->DB(), Db->TR(), throwing, &node, nullptr, &Var), EAbort);
    EXPECT_LE(node.BlobSize, node.BlobBufferSize);
    ResetBlobNode(node);
  });
  EXPECT_EQ(gCloseCalls, 1);
}

TEST_F(BlobTransfer, SubType2IsReadAsTextWithALineBreakAfterEachSegment) {
  Db->Execute("CREATE PROCEDURE P_NOTHING AS BEGIN END");
  Db->Commit();
  CallbackLog read;
  std::string text;
  Db->WithFirstColumn("SELECT RDB$PROCEDURE_BLR FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'P_NOTHING'",
                      [&](XSQLVAR& Var) {
                        ASSERT_EQ(Var.sqlsubtype, 2);
                        TIB_BlobNode node;
                        std::memcpy(&node.BlobID, Var.sqldata, sizeof(ISC_QUAD));
                        EXPECT_EQ(S->LoadBlobNodeData(Db->DB(), Db->TR(), read.Callback(), &node, nullptr, &Var), 0);
                        text = NodeData(node);
                        ResetBlobNode(node);
                      });
  EXPECT_NE(text.find("blr_version"), std::string::npos) << text;
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(text.find('\n'), text.find('\r') + 1);
  ASSERT_FALSE(read.Events.empty());
  EXPECT_EQ(read.Events.back(), std::make_pair(bcsReadEnd, static_cast<int32_t>(text.size())));
  // The reported total already counts the line breaks.
  EXPECT_EQ(read.Events.front(), std::make_pair(bcsReadStart, static_cast<int32_t>(text.size())));
}

// ---- arrays ---------------------------------------------------------------------------------------------

class ArrayTransfer : public BlobTransfer {
protected:
  ISC_ARRAY_DESC Describe() {
    ISC_ARRAY_DESC desc{};
    S->CallChecked(S.get(), S->Entries.isc_array_lookup_bounds, Db->DB(), Db->TR(), "T", "A", &desc);
    return desc;
  }
};

TEST_F(ArrayTransfer, SliceSizeCountsElementsAndVaryingLengths) {
  ISC_ARRAY_DESC desc = Describe();
  EXPECT_EQ(ArraySliceSize(desc), 5 * 4);
  desc.array_desc_dtype = blr_varying;
  desc.array_desc_length = 10;
  desc.array_desc_dimensions = 2;
  desc.array_desc_bounds[1].array_bound_lower = 0;
  desc.array_desc_bounds[1].array_bound_upper = 2;
  EXPECT_EQ(ArraySliceSize(desc), 5 * 3 * 12);
  desc.array_desc_dimensions = 0;
  EXPECT_THROW(ArraySliceSize(desc), EIB_Error);
}

TEST_F(ArrayTransfer, SliceRoundTrips) {
  const ISC_ARRAY_DESC desc = Describe();
  const int32_t values[5] = {10, -20, 30, 40, 2147483647};
  Db->ExecuteWithParam("UPDATE T SET A = ? WHERE ID = 1", [&](XSQLVAR& Var) {
    TIB_BlobNode node;
    SetNodeData(node, std::string(reinterpret_cast<const char*>(values), sizeof values));
    ASSERT_EQ(S->StoreBlobNodeData(Db->DB(), Db->TR(), nullptr, &node, &desc, &Var), 0);
    std::memcpy(Var.sqldata, &node.BlobID, sizeof(ISC_QUAD));
    *Var.sqlind = 0;
    ResetBlobNode(node);
  });
  Db->WithFirstColumn("SELECT A FROM T WHERE ID = 1", [&](XSQLVAR& Var) {
    ASSERT_EQ(*Var.sqlind, 0);
    TIB_BlobNode node;
    std::memcpy(&node.BlobID, Var.sqldata, sizeof(ISC_QUAD));
    ASSERT_EQ(S->LoadBlobNodeData(Db->DB(), Db->TR(), nullptr, &node, &desc, &Var), 0);
    ASSERT_EQ(node.BlobSize, 20);
    EXPECT_EQ(std::memcmp(node.BlobBuffer.get(), values, sizeof values), 0);
    ResetBlobNode(node);
  });
}

TEST_F(ArrayTransfer, EmptyArrayIsStoredAsNull) {
  const ISC_ARRAY_DESC desc = Describe();
  Db->ExecuteWithParam("UPDATE T SET A = ? WHERE ID = 1", [&](XSQLVAR& Var) {
    TIB_BlobNode node;
    *Var.sqlind = 0;
    std::memset(Var.sqldata, 0x5A, sizeof(ISC_QUAD));
    EXPECT_EQ(S->StoreBlobNodeData(Db->DB(), Db->TR(), nullptr, &node, &desc, &Var), 0);
    EXPECT_EQ(*Var.sqlind, -1);
    ISC_QUAD zero{};
    EXPECT_EQ(std::memcmp(Var.sqldata, &zero, sizeof zero), 0);
  });
  auto row = Db->QueryRow("SELECT A FROM T WHERE ID = 1");
  ASSERT_EQ(row.size(), 1u);
  EXPECT_TRUE(row[0].Null);
}

TEST_F(BlobTransfer, OtherColumnTypesAreLeftAlone) {
  XSQLVAR var{};
  var.sqltype = SQL_LONG;
  TIB_BlobNode node;
  EXPECT_EQ(S->LoadBlobNodeData(Db->DB(), Db->TR(), nullptr, &node, nullptr, &var), 0);
  EXPECT_EQ(S->StoreBlobNodeData(Db->DB(), Db->TR(), nullptr, &node, nullptr, &var), 0);
  EXPECT_THROW(S->LoadBlobNodeData(Db->DB(), Db->TR(), nullptr, nullptr, nullptr, &var), EIB_Error);
}

}  // namespace
