#include "dblib/IB_BlobNode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

ISC_QUAD Quad(ISC_ULONG Low) { return ISC_QUAD{0, Low}; }

void Fill(TIB_BlobNode& N, const std::string& Data) {
  ReserveBlobNode(N, static_cast<int32_t>(Data.size()));
  std::memcpy(N.BlobBuffer.get(), Data.data(), Data.size());
  N.BlobSize = static_cast<int32_t>(Data.size());
}

std::string Data(const TIB_BlobNode& N) {
  return std::string(reinterpret_cast<const char*>(N.BlobBuffer.get()), static_cast<size_t>(N.BlobSize));
}

TEST(BlobNode, ClearKeepsTheBufferResetFreesItAndReserveKeepsTheData) {
  TIB_BlobNode n;
  n.BlobID = Quad(2);
  n.FieldNo = 3;
  Fill(n, "abc");
  ReserveBlobNode(n, 100);
  EXPECT_EQ(Data(n), "abc");
  ShrinkBlobNode(n);
  EXPECT_EQ(n.BlobBufferSize, 3);
  const uint8_t* buffer = n.BlobBuffer.get();
  ClearBlobNode(n);
  EXPECT_TRUE(IsZeroQuad(n.BlobID));
  EXPECT_EQ(n.BlobSize + n.FieldNo, 0);
  EXPECT_EQ(n.BlobBuffer.get(), buffer);
  ResetBlobNode(n);
  EXPECT_EQ(n.BlobBuffer, nullptr);
  EXPECT_EQ(n.BlobBufferSize, 0);
}

TEST(BlobNode, CopyDuplicatesTheDataAndMoveHandsTheBufferOver) {
  TIB_BlobNode src, dst, moved;
  src.BlobID = Quad(6);
  src.FieldNo = 2;
  src.BlobFlag = 7;
  Fill(src, "payload");
  Fill(dst, "old data that goes");
  CopyBlobNode(src, dst, false);
  EXPECT_EQ(Data(dst), "payload");
  EXPECT_NE(dst.BlobBuffer, src.BlobBuffer);
  EXPECT_TRUE(SameQuad(dst.BlobID, src.BlobID));
  EXPECT_EQ(dst.FieldNo * 10 + dst.BlobFlag, 27);

  const uint8_t* buffer = src.BlobBuffer.get();
  CopyBlobNode(src, moved, true);
  EXPECT_EQ(moved.BlobBuffer.get(), buffer);
  EXPECT_EQ(Data(moved), "payload");
  EXPECT_EQ(src.BlobBuffer, nullptr);
  EXPECT_EQ(src.BlobBufferSize + src.BlobSize, 0);
  EXPECT_TRUE(IsZeroQuad(src.BlobID));
  CopyBlobNode(moved, moved, false);  // onto itself: the data stays
  EXPECT_EQ(Data(moved), "payload");
}

TEST(BlobNodeList, AddFindsByIdThenByFieldNumberAndPutsNewNodesAtTheHead) {
  TIB_BlobNodeList list;
  TIB_BlobNode a, b, c;
  a.BlobID = Quad(11);
  a.FieldNo = 1;
  Fill(a, "first");
  b.FieldNo = 2;
  Fill(b, "second");
  AddBlobNode(list, a, false);
  AddBlobNode(list, b, true);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->FieldNo, 2);  // the newest is the head
  EXPECT_EQ(b.BlobBuffer, nullptr);
  PIB_BlobNode prior = nullptr;
  PIB_BlobNode found = FindBlobNode(list.get(), Quad(11), 9, prior);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Data(*found), "first");
  EXPECT_EQ(prior, list.get());
  // No node has that id: the field number's node holds another value and is not taken for it.
  EXPECT_EQ(FindBlobNode(list.get(), Quad(99), 2, prior), nullptr);
  EXPECT_EQ(FindBlobNode(list.get(), ISC_QUAD{}, 5, prior), nullptr);

  // Adding for a field number already listed replaces that node's data.
  c.FieldNo = 2;
  Fill(c, "replaced");
  AddBlobNode(list, c, false);
  EXPECT_EQ(Data(*list), "replaced");
  EXPECT_EQ(list->Next->Next, nullptr);

  TIB_BlobNode restored, missing;
  restored.FieldNo = 2;
  missing.FieldNo = 42;
  EXPECT_TRUE(RestoreBlobNode(list.get(), restored));
  EXPECT_EQ(Data(restored), "replaced");
  EXPECT_FALSE(RestoreBlobNode(list.get(), missing));
  FreeBlobNodeList(list);
  EXPECT_EQ(list, nullptr);
}

TEST(BlobNodeList, ALongListIsFreedWithoutRecursion) {
  TIB_BlobNodeList list;
  for (int i = 0; i < 200000; ++i) {
    TIB_BlobNode n;
    n.BlobID = Quad(static_cast<ISC_ULONG>(i + 1));
    n.FieldNo = -1;
    auto fresh = std::make_unique<TIB_BlobNode>();
    CopyBlobNode(n, *fresh, false);
    fresh->Next = std::move(list);
    list = std::move(fresh);
  }
  FreeBlobNodeList(list);  // a recursive free would overflow the stack here
  EXPECT_EQ(list, nullptr);
}

}  // namespace
