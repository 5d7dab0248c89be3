#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

std::string Contents(TMemoryStream& S) { return std::string(S.GetMemory(), static_cast<size_t>(S.GetSize())); }

TEST(MemoryStream, WriteReadSeekAndShortReads) {
  TMemoryStream m;
  m.WriteBuffer("hello world", 11);
  EXPECT_EQ(m.GetSize(), 11);
  EXPECT_EQ(m.GetPosition(), 11);
  m.SetPosition(6);
  char buf[16] = {};
  EXPECT_EQ(m.Read(buf, 16), 5);  // a short read gives what there is
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_EQ(m.Seek(-5, soEnd), 6);
  EXPECT_EQ(m.Seek(2, soCurrent), 8);
  EXPECT_THROW(m.Seek(-1, soBeginning), EStreamError);
  m.SetPosition(8);
  EXPECT_EQ(MessageOf<EReadError>([&] { m.ReadBuffer(buf, 4); }), "Stream read error");
}

TEST(MemoryStream, WritingPastTheEndFillsWithZeros) {
  TMemoryStream m;
  m.SetPosition(3);
  m.WriteBuffer("x", 1);
  EXPECT_EQ(Contents(m), std::string("\0\0\0x", 4));
  m.SetSize(2);
  EXPECT_EQ(m.GetPosition(), 2);
  m.Clear();
  EXPECT_EQ(m.GetSize(), 0);
}

TEST(MemoryStream, CopyFromWholeAndPart) {
  TMemoryStream src, dst;
  src.WriteBuffer("0123456789", 10);
  src.SetPosition(7);
  EXPECT_EQ(dst.CopyFrom(src, 0), 10);  // 0 copies everything from the start
  EXPECT_EQ(Contents(dst), "0123456789");
  src.SetPosition(2);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(src, 3), 3);
  EXPECT_EQ(Contents(part), "234");
  EXPECT_EQ(src.GetPosition(), 5);
  src.SetPosition(8);
  EXPECT_THROW(part.CopyFrom(src, 5), EReadError);
}

TEST(MemoryStream, CopiesLargerThanOneChunk) {
  TMemoryStream src, dst;
  std::string big(200000, 'a');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  src.WriteBuffer(big.data(), static_cast<int64_t>(big.size()));
  dst.CopyFrom(src, 0);
  EXPECT_EQ(Contents(dst), big);
}

TEST(FileStream, CreateWriteReopenRead) {
  testsupport::TempDir dir;
  std::string path = dir.File("data.bin");
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("abcdef", 6);
    EXPECT_EQ(f.GetSize(), 6);
    f.SetSize(4);
    EXPECT_EQ(f.GetPosition(), 4);
  }
  TFileStream r(path, fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(r.GetSize(), 4);
  char buf[8] = {};
  r.ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_THROW(r.ReadBuffer(buf, 1), EReadError);
  EXPECT_THROW(r.WriteBuffer("x", 1), EWriteError);  // opened for reading only
}

TEST(FileStream, OpenAndCreateFailuresNameTheFile) {
  testsupport::TempDir dir;
  std::string missing = dir.File("missing.bin");
  EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(missing, fmOpenRead); }),
            "Cannot open file \"" + missing + "\". No such file or directory");
  EXPECT_THROW(TFileStream(dir.File("no/such/folder/x"), fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError);
}

TEST(FileStream, MemoryStreamFileRoundTrip) {
  testsupport::TempDir dir;
  TMemoryStream m;
  m.WriteBuffer("line\r\n\0end", 10);
  m.SaveToFile(dir.File("m.bin"));
  TMemoryStream back;
  back.LoadFromFile(dir.File("m.bin"));
  EXPECT_EQ(Contents(back), Contents(m));
  EXPECT_EQ(back.GetPosition(), 0);
}

TEST(MemoryStream, PositionsBeyondTheRangeAreRefused) {
  TMemoryStream m;
  m.WriteBuffer("abcd", 4);
  EXPECT_EQ(m.Seek(INT64_MAX, soBeginning), INT64_MAX);
  EXPECT_THROW(m.Seek(1, soCurrent), EStreamError);
  EXPECT_THROW(m.Seek(INT64_MIN, soEnd), EStreamError);
  EXPECT_EQ(MessageOf<EWriteError>([&] { m.WriteBuffer("x", 1); }), "Stream write error");
  EXPECT_EQ(m.GetSize(), 4);
}

}  // namespace
