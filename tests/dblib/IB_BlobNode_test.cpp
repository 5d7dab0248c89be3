#include "dblib/IB_BlobNode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

ISC_QUAD Quad(ISC_LONG High, ISC_ULONG Low) {
  ISC_QUAD q;
  q.gds_quad_high = High;
  q.gds_quad_low = Low;
  return q;
}

void Fill(TIB_BlobNode& N, const std::string& Data) {
  ReserveBlobNode(N, static_cast<int32_t>(Data.size()));
  std::memcpy(N.BlobBuffer, Data.data(), Data.size());
  N.BlobSize = static_cast<int32_t>(Data.size());
}

std::string Data(const TIB_BlobNode& N) {
  return std::string(reinterpret_cast<const char*>(N.BlobBuffer), static_cast<size_t>(N.BlobSize));
}

// Frees a list at the end of a test, whatever happened.
struct ListGuard {
  PIB_BlobNode List = nullptr;
  ~ListGuard() { FreeBlobNodeList(List); }
};

TEST(BlobNode, ClearKeepsTheBufferAndResetFreesIt) {
  TIB_BlobNode n;
  n.BlobID = Quad(1, 2);
  n.FieldNo = 3;
  n.BlobFlag = 1;
  Fill(n, "abc");
  uint8_t* buffer = n.BlobBuffer;
  ClearBlobNode(n);
  EXPECT_TRUE(IsZeroQuad(n.BlobID));
  EXPECT_EQ(n.BlobSize, 0);
  EXPECT_EQ(n.FieldNo, 0);
  EXPECT_EQ(n.BlobFlag, 0);
  EXPECT_EQ(n.BlobBuffer, buffer);
  EXPECT_EQ(n.BlobBufferSize, 3);
  ResetBlobNode(n);
  EXPECT_EQ(n.BlobBuffer, nullptr);
  EXPECT_EQ(n.BlobBufferSize, 0);
}

TEST(BlobNode, CopyDuplicatesTheDataAndMoveHandsTheBufferOver) {
  TIB_BlobNode src, dst;
  src.BlobID = Quad(5, 6);
  src.FieldNo = 2;
  src.BlobFlag = 7;
  Fill(src, "payload");
  Fill(dst, "old data that goes");
  CopyBlobNode(src, dst, false);
  EXPECT_EQ(Data(dst), "payload");
  EXPECT_NE(dst.BlobBuffer, src.BlobBuffer);
  EXPECT_TRUE(SameQuad(dst.BlobID, src.BlobID));
  EXPECT_EQ(dst.FieldNo, 2);
  EXPECT_EQ(dst.BlobFlag, 7);

  uint8_t* buffer = src.BlobBuffer;
  TIB_BlobNode moved;
  CopyBlobNode(src, moved, true);
  EXPECT_EQ(moved.BlobBuffer, buffer);
  EXPECT_EQ(Data(moved), "payload");
  EXPECT_EQ(src.BlobBuffer, nullptr);
  EXPECT_EQ(src.BlobBufferSize, 0);
  EXPECT_EQ(src.BlobSize, 0);
  EXPECT_TRUE(IsZeroQuad(src.BlobID));

  CopyBlobNode(moved, moved, false);  // copying onto itself keeps the data
  EXPECT_EQ(Data(moved), "payload");
  ResetBlobNode(dst);
  ResetBlobNode(moved);
}

TEST(BlobNodeList, AddFindsByIdThenByFieldNumberAndPutsNewNodesAtTheHead) {
  ListGuard g;
  TIB_BlobNode a, b;
  a.BlobID = Quad(0, 11);
  a.FieldNo = 1;
  Fill(a, "first");
  b.FieldNo = 2;
  Fill(b, "second");
  AddBlobNode(g.List, a, false);
  AddBlobNode(g.List, b, true);
  ASSERT_NE(g.List, nullptr);
  EXPECT_EQ(g.List->FieldNo, 2);  // the newest is the head
  EXPECT_EQ(b.BlobBuffer, nullptr);
  PIB_BlobNode prior = nullptr;
  PIB_BlobNode found = FindBlobNode(g.List, Quad(0, 11), 9, prior);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Data(*found), "first");
  EXPECT_EQ(prior, g.List);
  // No node has that id: the field number's node holds another value and is not taken for it.
  EXPECT_EQ(FindBlobNode(g.List, Quad(0, 99), 2, prior), nullptr);
  EXPECT_EQ(FindBlobNode(g.List, ISC_QUAD{}, 5, prior), nullptr);

  // Adding for an existing field number replaces that node's data instead of adding a node.
  TIB_BlobNode c;
  c.FieldNo = 2;
  Fill(c, "replaced");
  AddBlobNode(g.List, c, false);
  int count = 0;
  for (PIB_BlobNode n = g.List; n; n = n->Next) ++count;
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Data(*FindBlobNode(g.List, ISC_QUAD{}, 2, prior)), "replaced");

  TIB_BlobNode restored;
  restored.FieldNo = 2;
  EXPECT_TRUE(RestoreBlobNode(g.List, restored));
  EXPECT_EQ(Data(restored), "replaced");
  TIB_BlobNode missing;
  missing.FieldNo = 42;
  EXPECT_FALSE(RestoreBlobNode(g.List, missing));
  ResetBlobNode(a);
  ResetBlobNode(c);
  ResetBlobNode(restored);

  FreeBlobNodeList(g.List);
  EXPECT_EQ(g.List, nullptr);
}

}  // namespace
