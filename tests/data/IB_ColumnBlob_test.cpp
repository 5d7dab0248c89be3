#include <gtest/gtest.h>

#include <cstring>

#include "BlobTestSupport.h"
#include "dblib/IB_Errors.h"
#include "dblib/dataset/IB_Cursor.h"
#include "platform/Graphics.h"

namespace {

using testsupport::MessageOf;

// Bytes made of Unit repeated to N bytes.
std::string Repeat(const std::string& Unit, size_t N) {
  std::string s;
  s.reserve(N + Unit.size());
  while (s.size() < N) s += Unit;
  s.resize(N);
  return s;
}

class ColumnBlobTest : public blobtest::BlobDbTest {
protected:
  // Inserts Value (null with Null) into column Name of row Id, then selects Name, its octet and character
  // lengths as the server counts them.
  TIB_DSQL* RoundTrip(int Id, const std::string& Name, bool Null, const std::string& Value) {
    TIB_DSQL* ins = Prepared("INSERT INTO T (ID, " + Name + ") VALUES (:ID, :V)");
    ins->ParamByName("ID")->SetAsInteger(Id);
    if (!Null) ins->ParamByName("V")->SetAsString(Value);
    ins->Execute();
    return Select(Name + ", OCTET_LENGTH(" + Name + "), CHAR_LENGTH(" + Name + ")", Id);
  }
  static TIB_ColumnBlob* Blob(TIB_DSQL* Q, int I = 0) {
    return dynamic_cast<TIB_ColumnBlob*>(Q->GetFields()->GetColumns(I));
  }
};

TEST_F(ColumnBlobTest, ValuesRoundTripAsTheServerCountsThem) {
  MakeTable("B0 BLOB SUB_TYPE 0, B1 BLOB SUB_TYPE 1 CHARACTER SET ISO8859_1");
  const struct {
    const char* Column;
    bool Null;
    size_t Size;
    std::string Unit;
  } cases[] = {
      {"B0", true, 0, "x"},
      {"B0", false, 0, "x"},
      {"B0", false, 1, "\x7f"},
      {"B0", false, 65535, std::string("a\0\xff", 3)},
      {"B0", false, 65536, "bc"},
      {"B0", false, 65537, "def"},
      {"B0", false, 10 << 20, "0123456789"},
      {"B1", false, 65537, "\xe4\xf6x"},
      {"B1", false, 10 << 20, "ab\xe9"},
  };
  int id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Column) + " of " + std::to_string(c.Size) + " bytes");
    const std::string value = Repeat(c.Unit, c.Size);
    TIB_DSQL* sel = RoundTrip(++id, c.Column, c.Null, value);
    TIB_ColumnBlob* col = Blob(sel);
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->GetIsTextKind(), std::string(c.Column) == "B1");
    ASSERT_EQ(col->GetIsNull(), c.Null);
    if (c.Null) continue;
    EXPECT_EQ(sel->GetFields()->GetColumns(1)->GetAsString(), std::to_string(c.Size));
    EXPECT_EQ(sel->GetFields()->GetColumns(2)->GetAsString(), std::to_string(c.Size));
    EXPECT_EQ(col->GetBlobSize(), static_cast<int64_t>(c.Size));  // asked from the server, not read
    EXPECT_FALSE(col->GetIsLoaded());
    EXPECT_TRUE(col->GetAsString() == value);
    EXPECT_TRUE(col->GetIsLoaded());
  }
}

TEST_F(ColumnBlobTest, Utf8TextKeepsItsCharacters) {
  Conn->Disconnect();
  Conn->SetCharSet("UTF8");
  Conn->Connect();
  MakeTable("B BLOB SUB_TYPE 1 CHARACTER SET UTF8");
  int id = 0;
  for (size_t units : {1, 6554, 1 << 20}) {  // four characters in ten bytes: up to 10 MiB
    const std::string value = Repeat("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80z", 10 * units);
    TIB_DSQL* sel = RoundTrip(++id, "B", false, value);
    EXPECT_EQ(sel->GetFields()->GetColumns(1)->GetAsInteger(), static_cast<int>(value.size()));
    EXPECT_EQ(sel->GetFields()->GetColumns(2)->GetAsInteger(), static_cast<int>(4 * units));
    EXPECT_TRUE(Blob(sel)->GetAsString() == value);
  }
}

TEST_F(ColumnBlobTest, EveryWayInAndOutKeepsTheBytes) {
  MakeTable("B BLOB SUB_TYPE 0, G BLOB SUB_TYPE 0");
  const std::string bytes("image\0bytes\xff", 12);
  TIB_DSQL* other = Prepared("SELECT CAST(:V AS BLOB SUB_TYPE 0) FROM RDB$DATABASE");
  other->ParamByName("V")->SetAsString(bytes);
  other->Execute();
  const std::string file = Dir.File("in.bin");
  TFileStream(file, fmCreate).WriteBuffer(bytes.data(), 12);
  TMemoryStream memory;
  memory.WriteBuffer(bytes.data(), 12);
  TBitmap bitmap;
  bitmap.SetData(bytes);
  const std::function<void(TIB_ColumnBlob&)> ways[] = {
      [&](TIB_ColumnBlob& c) { c.SetFromBuffer(bytes.data(), 12); },
      [&](TIB_ColumnBlob& c) { c.LoadFromStream(memory); },
      [&](TIB_ColumnBlob& c) { c.LoadFromFile(file); },
      [&](TIB_ColumnBlob& c) { c.Assign(Blob(other)); },
      [&](TIB_ColumnBlob& c) { c.SetAsVariant(Variant(bytes)); },
      [&](TIB_ColumnBlob& c) { c.Assign(&bitmap); },  // last: the graphic
  };
  TIB_DSQL* ins = Prepared("INSERT INTO T (ID, B, G) VALUES (:ID, :B, :G)");
  // Firebird 3 makes no columns of sub-type 22: the parameter is described as one.
  ins->ParamByName("G")->GetPSQLVAR()->sqlsubtype = 22;
  int id = 0;
  for (const auto& way : ways) {
    SCOPED_TRACE(id);
    ins->ParamByName("ID")->SetAsInteger(++id);
    way(*dynamic_cast<TIB_ColumnBlob*>(ins->ParamByName("B")));
    way(*dynamic_cast<TIB_ColumnBlob*>(ins->ParamByName("G")));
    ins->Execute();
    TIB_DSQL* sel = Select("B, G", id);
    EXPECT_EQ(Blob(sel)->GetAsString(), bytes);
    // A graphic in sub-type 22 goes behind a header of 1, 256 and its length; read back, it is skipped.
    const std::string header("\x01\x00\x00\x01\x0c\x00\x00\x00", 8);
    EXPECT_EQ(Blob(sel, 1)->GetAsString(), id == 6 ? header + bytes : bytes);
    TPicture picture;
    Blob(sel, 1)->AssignTo(&picture);
    EXPECT_EQ(picture.GetBitmap()->GetData(), bytes);
    TMemoryStream m;
    Blob(sel)->SaveToStream(m);
    EXPECT_EQ(std::string(m.GetMemory(), 12), bytes);
    Blob(sel)->SaveToFile(Dir.File("out.bin"));
    m.LoadFromFile(Dir.File("out.bin"));
    EXPECT_EQ(std::string(m.GetMemory(), static_cast<size_t>(m.GetSize())), bytes);
  }
  EXPECT_EQ(MessageOf<EIB_ColumnError>([&] { Blob(other)->SaveToGraphic(nullptr); }), "Unable to save to Graphic");
}

TEST_F(ColumnBlobTest, TextEmptyValuesOldValuesAndDisplay) {
  MakeTable("M BLOB SUB_TYPE 1, N BLOB SUB_TYPE 1, B BLOB SUB_TYPE 0");
  // An empty text is an empty value, or null with BLANKISNULL; a string list keeps its lines.
  TIB_DSQL* ins = NewDSQL("INSERT INTO T (ID, M, N, B) VALUES (1, :M, :N, 'bin')");
  ins->GetColumnAttributes().SetText("N=BLANKISNULL");
  ins->ParamByName("M")->SetAsString("");
  ins->ParamByName("N")->SetAsString("");
  ins->Execute();
  EXPECT_EQ(Scalar("SELECT COALESCE(OCTET_LENGTH(M), -1) || ',' || COALESCE(OCTET_LENGTH(N), -1) FROM T"), "0,-1");
  TStringList lines;
  lines.SetText("one\r\ntwo\r\n");
  TIB_DSQL* sel = Select("M, N, B", 1);
  TIB_Column* m = sel->GetFields()->GetColumns(0);
  m->Assign(&lines);
  TStringList back;
  m->AssignTo(&back);
  EXPECT_EQ(back.Get(1), "two");

  TIB_DSQL* upd = Prepared("UPDATE T SET M = 'memo'");
  upd->Execute();
  sel->Execute();
  EXPECT_EQ(sel->GetFields()->GetColumns(2)->GetDisplayText(), "( B )");  // binary values are not shown
  EXPECT_EQ(m->GetDisplayText(), "( M )");                                // not read yet
  EXPECT_EQ(m->GetAsString(), "memo");
  EXPECT_EQ(m->GetDisplayText(), "memo");
  m->SetAsString("changed");
  EXPECT_TRUE(m->GetIsModified());
  EXPECT_EQ(m->GetOldAsString(), "memo");
  m->Revert();
  EXPECT_EQ(m->GetAsString(), "memo");
  m->Clear();
  EXPECT_EQ(m->GetDisplayText(), "");
}

TEST_F(ColumnBlobTest, BlrReadsAsTextOfTheLengthTheServerReports) {
  Exec("CREATE PROCEDURE P RETURNS (X INTEGER) AS BEGIN X = 1; SUSPEND; END");
  Tr->Commit();
  TIB_DSQL* sel = Prepared("SELECT RDB$PROCEDURE_BLR FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'P'");
  sel->Execute();
  ASSERT_NE(dynamic_cast<TIB_ColumnBLR*>(Blob(sel)), nullptr);
  const int64_t size = Blob(sel)->GetBlobSize();
  const std::string text = Blob(sel)->GetAsString();
  EXPECT_NE(text.find("blr_begin"), std::string::npos);
  EXPECT_EQ(size, static_cast<int64_t>(text.size()));
}

TEST_F(ColumnBlobTest, ABlobThatCannotBeReadRaisesTheEngineError) {
  MakeTable("B BLOB SUB_TYPE 0");
  Exec("INSERT INTO T VALUES (1, 'abc')");
  TIB_DSQL* sel = Select("B", 1);
  const ISC_QUAD bogus{0x7fff, 0x7ffffff};
  std::memcpy(Blob(sel)->GetPSQLVAR()->sqldata, &bogus, sizeof bogus);
  EXPECT_THROW(Blob(sel)->GetBlobSize(), EIB_ISCError);
  EXPECT_THROW(Blob(sel)->GetAsString(), EIB_ISCError);
  EXPECT_THROW(Blob(sel)->CreateBlobStream(bsmReadWrite), EIB_ISCError);
  EXPECT_EQ(CachedValues(*sel->GetFields()), 0);
}

TEST_F(ColumnBlobTest, ACursorKeepsOnlyTheBlobsOfItsCurrentRow) {
  MakeTable("B BLOB SUB_TYPE 1");
  Exec(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 40) DO BEGIN "
      "INSERT INTO T VALUES (:I, 'value ' || :I); I = I + 1; END END");
  auto* cursor = new TIB_Cursor(Owner);
  cursor->SetIB_Connection(Conn);
  cursor->SetIB_Transaction(Tr);
  cursor->GetSQL().SetText("SELECT ID, B FROM T ORDER BY ID");
  int rows = 0;
  for (cursor->First(); !cursor->GetEof(); cursor->Next()) {
    const int id = cursor->FieldByName("ID")->GetAsInteger();
    // Another row's value of the same column is never taken for this one.
    ASSERT_EQ(cursor->FieldByName("B")->GetAsString(), "value " + std::to_string(id));
    ASSERT_EQ(CachedValues(*cursor->GetFields()), 1);
    ++rows;
  }
  EXPECT_EQ(rows, 40);
}

}  // namespace
