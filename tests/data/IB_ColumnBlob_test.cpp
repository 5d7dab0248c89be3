#include <gtest/gtest.h>

#include <cstring>

#include "BlobTestSupport.h"
#include "dblib/IB_Errors.h"
#include "platform/Graphics.h"

namespace {

using blobtest::BlobDbTest;
using testsupport::MessageOf;

// Text of N bytes made of Unit repeated (cut at the end).
std::string Repeat(const std::string& Unit, size_t N) {
  std::string s;
  s.reserve(N + Unit.size());
  while (s.size() < N) s += Unit;
  s.resize(N);
  return s;
}

class ColumnBlobTest : public BlobDbTest {};

TEST_F(ColumnBlobTest, ValuesRoundTripAsTheServerCountsThem) {
  struct Case {
    const char* Type;
    bool Null;
    size_t Size;
    std::string Unit;
  };
  const Case cases[] = {
      {"BLOB SUB_TYPE 0", true, 0, "x"},
      {"BLOB SUB_TYPE 0", false, 0, "x"},
      {"BLOB SUB_TYPE 0", false, 1, "\x7f"},
      {"BLOB SUB_TYPE 0", false, 65535, std::string("a\0\xff", 3)},
      {"BLOB SUB_TYPE 0", false, 65536, "bc"},
      {"BLOB SUB_TYPE 0", false, 65537, "def"},
      {"BLOB SUB_TYPE 0", false, 10 << 20, "0123456789"},
      {"BLOB SUB_TYPE 1 CHARACTER SET ISO8859_1", false, 65537, "\xe4\xf6x"},
      {"BLOB SUB_TYPE 1 CHARACTER SET ISO8859_1", false, 10 << 20, "ab\xe9"},
  };
  MakeTable("B0 BLOB SUB_TYPE 0, B1 BLOB SUB_TYPE 1 CHARACTER SET ISO8859_1");
  TIB_DSQL* ins = Prepared("INSERT INTO T (ID, B0, B1) VALUES (:ID, :B0, :B1)");
  int id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Type) + " size " + std::to_string(c.Size));
    const bool text = std::strstr(c.Type, "SUB_TYPE 1") != nullptr;
    const char* name = text ? "B1" : "B0";
    const std::string value = Repeat(c.Unit, c.Size);
    ins->ParamByName("ID")->SetAsInteger(++id);
    ins->ParamByName("B0")->Clear();
    ins->ParamByName("B1")->Clear();
    if (!c.Null) ins->ParamByName(name)->SetAsString(value);
    ins->Execute();
    Tr->Commit();
    const std::string n = std::string(name);
    TIB_DSQL* sel = Select(n + ", OCTET_LENGTH(" + n + "), CHAR_LENGTH(" + n + ")", id);
    auto* col = dynamic_cast<TIB_ColumnBlob*>(sel->GetFields()->GetColumns(0));
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->GetIsTextKind(), text);
    ASSERT_EQ(col->GetIsNull(), c.Null);
    if (c.Null) continue;
    EXPECT_EQ(sel->GetFields()->GetColumns(1)->GetAsString(), std::to_string(c.Size));
    EXPECT_EQ(sel->GetFields()->GetColumns(2)->GetAsString(), std::to_string(c.Size));
    EXPECT_EQ(col->GetIsLoaded(), false);
    EXPECT_EQ(col->GetBlobSize(), static_cast<int64_t>(c.Size));  // asked from the server, not read
    EXPECT_EQ(col->GetIsLoaded(), false);
    EXPECT_TRUE(col->GetAsString() == value);
    EXPECT_EQ(col->GetIsLoaded(), true);
  }
}

TEST_F(ColumnBlobTest, Utf8TextKeepsItsCharacters) {
  Conn->Disconnect();
  Conn->SetCharSet("UTF8");
  Conn->Connect();
  MakeTable("B BLOB SUB_TYPE 1 CHARACTER SET UTF8");
  // Units of four characters in ten bytes: one unit, about 64 KiB, 10 MiB.
  const int units[] = {1, 6554, 1 << 20};
  TIB_DSQL* ins = Prepared("INSERT INTO T (ID, B) VALUES (:ID, :B)");
  int id = 0;
  for (int n : units) {
    const std::string value = Repeat("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80z", 10 * static_cast<size_t>(n));
    ins->ParamByName("ID")->SetAsInteger(++id);
    ins->ParamByName("B")->SetAsString(value);
    ins->Execute();
    TIB_DSQL* sel = Select("B, OCTET_LENGTH(B), CHAR_LENGTH(B)", id);
    EXPECT_EQ(sel->GetFields()->GetColumns(1)->GetAsInteger(), static_cast<int>(value.size()));
    EXPECT_EQ(sel->GetFields()->GetColumns(2)->GetAsInteger(), 4 * n);
    EXPECT_TRUE(sel->GetFields()->GetColumns(0)->GetAsString() == value);
  }
}

TEST_F(ColumnBlobTest, EveryWayInGivesTheSameBytes) {
  // Firebird 3 makes no columns of sub-type 22: the parameter is described as one.
  MakeTable("B BLOB SUB_TYPE 0, G BLOB SUB_TYPE 0");
  const std::string bytes("image\0bytes\xff", 12);
  TIB_DSQL* other = Prepared("SELECT CAST(:V AS BLOB SUB_TYPE 0) FROM RDB$DATABASE");
  other->ParamByName("V")->SetAsString(bytes);
  other->Execute();
  const std::string file = Dir.File("in.bin");
  {
    TFileStream f(file, fmCreate);
    f.WriteBuffer(bytes.data(), 12);
  }
  struct Way {
    const char* Name;
    std::function<void(TIB_ColumnBlob&)> Write;
  };
  const Way ways[] = {
      {"SetFromBuffer", [&](TIB_ColumnBlob& c) { c.SetFromBuffer(bytes.data(), 12); }},
      {"LoadFromStream",
       [&](TIB_ColumnBlob& c) {
         TMemoryStream m;
         m.WriteBuffer(bytes.data(), 12);
         c.LoadFromStream(m);
       }},
      {"LoadFromFile", [&](TIB_ColumnBlob& c) { c.LoadFromFile(file); }},
      {"Assign a blob column", [&](TIB_ColumnBlob& c) { c.Assign(other->GetFields()->GetColumns(0)); }},
      {"Assign a bitmap",
       [&](TIB_ColumnBlob& c) {
         TBitmap b;
         b.SetData(bytes);
         c.Assign(&b);
       }},
      {"SetAsVariant", [&](TIB_ColumnBlob& c) { c.SetAsVariant(Variant(bytes)); }},
  };
  TIB_DSQL* ins = Prepared("INSERT INTO T (ID, B, G) VALUES (:ID, :B, :G)");
  ins->ParamByName("G")->GetPSQLVAR()->sqlsubtype = 22;
  int id = 0;
  for (const Way& w : ways) {
    SCOPED_TRACE(w.Name);
    ins->ParamByName("ID")->SetAsInteger(++id);
    w.Write(*dynamic_cast<TIB_ColumnBlob*>(ins->ParamByName("B")));
    w.Write(*dynamic_cast<TIB_ColumnBlob*>(ins->ParamByName("G")));
    ins->Execute();
    TIB_DSQL* sel = Select("B, G, OCTET_LENGTH(G)", id);
    auto* b = dynamic_cast<TIB_ColumnBlob*>(sel->GetFields()->GetColumns(0));
    auto* g = dynamic_cast<TIB_ColumnBlob*>(sel->GetFields()->GetColumns(1));
    EXPECT_EQ(b->GetAsString(), bytes);
    // Sub-type 22 keeps a graphic behind 1, 256 and its length; other ways store the bytes as they are.
    const bool graphic = std::string(w.Name) == "Assign a bitmap";
    EXPECT_EQ(sel->GetFields()->GetColumns(2)->GetAsInteger(), graphic ? 20 : 12);
    if (graphic) {
      EXPECT_EQ(g->GetAsString().substr(0, 8), std::string("\x01\x00\x00\x01\x0c\x00\x00\x00", 8));
    }
    // Every way out gives the bytes back, the header left out.
    TPicture picture;
    g->AssignTo(&picture);
    EXPECT_EQ(picture.GetBitmap()->GetData(), bytes);
    TMemoryStream m;
    b->SaveToStream(m);
    EXPECT_EQ(std::string(m.GetMemory(), static_cast<size_t>(m.GetSize())), bytes);
    b->SaveToFile(Dir.File("out.bin"));
    TMemoryStream f;
    f.LoadFromFile(Dir.File("out.bin"));
    EXPECT_EQ(std::string(f.GetMemory(), static_cast<size_t>(f.GetSize())), bytes);
  }
  EXPECT_EQ(MessageOf<EIB_ColumnError>(
                [&] { dynamic_cast<TIB_ColumnBlob*>(other->GetFields()->GetColumns(0))->SaveToGraphic(nullptr); }),
            "Unable to save to Graphic");
}

TEST_F(ColumnBlobTest, TextListsAndEmptyValues) {
  MakeTable("M BLOB SUB_TYPE 1, N BLOB SUB_TYPE 1");
  TIB_DSQL* ins = Prepared("INSERT INTO T (ID, M, N) VALUES (1, :M, :N)");
  ins->GetColumnAttributes().SetText("N=BLANKISNULL");
  ins->Prepare();
  ins->ParamByName("M")->SetAsString("");
  ins->ParamByName("N")->SetAsString("");
  EXPECT_FALSE(ins->ParamByName("M")->GetIsNull());
  EXPECT_TRUE(ins->ParamByName("N")->GetIsNull());
  ins->Execute();
  EXPECT_EQ(Scalar("SELECT COALESCE(OCTET_LENGTH(M), -1) || ',' || COALESCE(OCTET_LENGTH(N), -1) FROM T"), "0,-1");

  TStringList lines;
  lines.SetText("one\r\ntwo\r\n");
  ins->GetSQL().SetText("INSERT INTO T (ID, M) VALUES (2, :M)");
  ins->ParamByName("M")->Assign(&lines);
  ins->Execute();
  TIB_DSQL* sel = Select("M", 2);
  TStringList back;
  sel->GetFields()->GetColumns(0)->AssignTo(&back);
  EXPECT_EQ(back.Count(), 2);
  EXPECT_EQ(back.Get(1), "two");
}

TEST_F(ColumnBlobTest, OldValueDisplayAndChangeState) {
  MakeTable("M BLOB SUB_TYPE 1, B BLOB SUB_TYPE 0");
  Exec("INSERT INTO T VALUES (1, 'memo', 'bin')");
  TIB_DSQL* sel = Select("M, B", 1);
  TIB_Column* m = sel->GetFields()->GetColumns(0);
  TIB_Column* b = sel->GetFields()->GetColumns(1);
  EXPECT_EQ(b->GetDisplayText(), "( B )");  // binary values are never shown as text
  EXPECT_EQ(m->GetDisplayText(), "( M )");  // not read yet
  EXPECT_EQ(m->GetAsString(), "memo");
  EXPECT_EQ(m->GetDisplayText(), "memo");
  EXPECT_FALSE(m->GetIsModified());
  m->SetAsString("changed");
  EXPECT_TRUE(m->GetIsModified());
  EXPECT_EQ(m->GetAsString(), "changed");
  EXPECT_EQ(m->GetOldAsString(), "memo");
  EXPECT_EQ(m->GetOldAsVariant().AsString(), "memo");
  m->Revert();
  EXPECT_EQ(m->GetAsString(), "memo");
  m->Clear();
  EXPECT_TRUE(m->GetIsNull());
  EXPECT_EQ(m->GetDisplayText(), "");
}

TEST_F(ColumnBlobTest, ABlobThatCannotBeReadRaisesTheEngineError) {
  MakeTable("B BLOB SUB_TYPE 0");
  Exec("INSERT INTO T VALUES (1, 'abc')");
  TIB_DSQL* sel = Select("B", 1);
  TIB_Column* b = sel->GetFields()->GetColumns(0);
  const ISC_QUAD bogus{0x7fff, 0x7ffffff};
  std::memcpy(b->GetPSQLVAR()->sqldata, &bogus, sizeof bogus);
  EXPECT_THROW(b->GetBlobSize(), EIB_ISCError);
  EXPECT_THROW(b->GetAsString(), EIB_ISCError);
  EXPECT_EQ(CachedValues(*sel->GetFields()), 0);
}

TEST_F(ColumnBlobTest, ACursorKeepsOnlyTheBlobsOfItsCurrentRow) {
  MakeTable("B BLOB SUB_TYPE 1");
  TIB_DSQL* ins = Prepared("INSERT INTO T (ID, B) VALUES (:ID, :B)");
  for (int i = 1; i <= 40; ++i) {
    ins->ParamByName("ID")->SetAsInteger(i);
    ins->ParamByName("B")->SetAsString("value " + std::to_string(i));
    ins->Execute();
  }
  TIB_DSQL* sel = Prepared("SELECT B FROM T WHERE ID = :ID");
  for (int i = 1; i <= 40; ++i) {
    sel->ParamByName("ID")->SetAsInteger(i);
    sel->Execute();
    // Another row's value of the same column is never taken for this one.
    ASSERT_EQ(sel->GetFields()->GetColumns(0)->GetAsString(), "value " + std::to_string(i));
    ASSERT_EQ(CachedValues(*sel->GetFields()), 1);
  }
}

}  // namespace
