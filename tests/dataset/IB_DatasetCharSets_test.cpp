// Text in the character sets users have: lengths counted in the column's characters, case folded as the
// engine's UPPER() does, and searches that agree with the order the server gives a column.
#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"
#include "dblib/IB_CharSets.h"
#include "dblib/dataset/IB_DatasetFilter.h"
#include "dblib/sql/IB_SearchBuffer.h"

namespace {

using testsupport::MessageOf;

class CharSetTest : public datasettest::DatasetDbTest {
protected:
  // The test's attachment again, in CharSet.
  void Reconnect(const char* CharSet) {
    if (Tr->GetStarted()) Tr->Commit();
    Conn->Disconnect();
    Conn->SetCharSet(CharSet);
    Conn->Connect();
  }
  // The second attachment that ReadSecond reads through, in CharSet.
  void SecondIn(const char* CharSet) {
    Conn2 = new TIB_Connection(Owner);
    Conn2->SetDatabaseName(Conn->GetDatabaseName());
    Conn2->SetCharSet(CharSet);
    Conn2->Connect();
    Tr2 = new TIB_Transaction(Owner);
    Tr2->SetIB_Connection(Conn2);
    Tr2->SetIsolation(tiCommitted);
  }
  TIB_Query* Live(const std::string& SQL, const char* Keys) {
    TIB_Query* q = NewQuery(SQL);
    q->SetRequestLive(true);
    q->GetKeyLinks().SetText(Keys);
    return q;
  }
  // The IDs of the rows, walked from the current one to the end.
  static std::string Ids(TIB_Dataset* D) {
    std::string ids;
    for (; !D->GetEof(); D->Next()) ids += (ids.empty() ? "" : ",") + D->FieldByName("ID")->GetAsString();
    return ids;
  }
  static std::string Repeat(const std::string& S, int N) {
    std::string r;
    while (N-- > 0) r += S;
    return r;
  }
  TIB_Query* Ordered(const std::string& SQL, const char* Links, int32_t Item) {
    TIB_Query* q = NewQuery(SQL);
    q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
    q->GetOrderingLinks().SetText(Links);
    q->SetOrderingItemNo(Item);
    return q;
  }
};

// Cyrillic in WIN1251 and in UTF-8.
const std::string kBorisW = "\xC1\xEE\xF0\xE8\xF1", kBorschW = "\xE1\xEE\xF0\xF9", kAnnaW = "\xC0\xED\xED\xE0",
                  kVeraW = "\xC2\xE5\xF0\xE0", kBorW = "\xE1\xEE\xF0", kYozhW = "\xB8\xE6";
const std::string kYamaW = "\xFF\xEC\xE0", kBjornW = "\xC1\xB8\xF0\xED";  // яма Бёрн
const std::string kZh = "\xD0\x96", kzh = "\xD0\xB6";  // Ж ж

// ---- lengths ------------------------------------------------------------------------------------------

// A parameter cut to its length would select another row (AAAAB finds AAAA): it refuses the text, and
// nothing changes; a column of a fields row keeps the first characters that fit.
TEST_F(CharSetTest, AnOverLongTextParameterIsRefusedWhileAFieldIsCut) {
  Exec("CREATE TABLE AP (ICAO CHAR(4) NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
  Tr->Commit();
  Exec("INSERT INTO AP VALUES ('AAAA', 'first')");
  Tr->Commit();
  TIB_Cursor* c = NewCursor("SELECT NAME FROM AP WHERE ICAO = :ICAO OR NAME = :NAME");
  c->Prepare();
  EXPECT_EQ("Text of 5 characters is longer than parameter ICAO, which holds 4",
            MessageOf<EIB_ColumnError>([&] { c->ParamByName("ICAO")->SetAsString("AAAAB"); }));
  EXPECT_EQ("Text of 21 characters is longer than parameter NAME, which holds 20",
            MessageOf<EIB_ColumnError>([&] { c->ParamByName("NAME")->SetAsString(std::string(21, 'f')); }));
  EXPECT_TRUE(c->ParamByName("ICAO")->GetIsNull());
  c->Open();
  EXPECT_TRUE(c->GetEof());
  c->Close();
  c->ParamByName("ICAO")->SetAsString("AAAA");
  c->Open();
  EXPECT_EQ("first", c->FieldByName("NAME")->GetAsString());
  c->Close();

  TIB_Query* q = Live("SELECT ICAO, NAME FROM AP", "ICAO");
  q->Open();
  q->Insert();
  q->FieldByName("ICAO")->SetAsString("ZZZZY");
  q->FieldByName("NAME")->SetAsString("cut");
  q->Post();
  Tr->Commit();
  EXPECT_EQ("ZZZZ", ReadSecond("SELECT ICAO FROM AP WHERE NAME = 'cut'", "|"));
}

// UTF8: lengths count characters (sqllen / 4), not bytes; five characters of ten bytes do not fit CHAR(4).
TEST_F(CharSetTest, Utf8TextIsMeasuredInCharacters) {
  Exec("CREATE TABLE U (ID INTEGER NOT NULL PRIMARY KEY, C CHAR(4) CHARACTER SET UTF8, "
       "V VARCHAR(3) CHARACTER SET UTF8)");
  Tr->Commit();
  Reconnect("UTF8");
  const std::string five = kZh + kzh + kZh + kzh + kZh, four = kZh + kzh + kZh + kzh;
  Exec("INSERT INTO U VALUES (1, '" + four + "', 'a')");
  Tr->Commit();
  TIB_Cursor* c = NewCursor("SELECT ID FROM U WHERE C = :C");
  c->Prepare();
  EXPECT_EQ("Text of 5 characters is longer than parameter C, which holds 4",
            MessageOf<EIB_ColumnError>([&] { c->ParamByName("C")->SetAsString(five); }));
  c->ParamByName("C")->SetAsString(four);
  c->Open();
  EXPECT_EQ(1, c->FieldByName("ID")->GetAsInteger());
  c->Close();

  TIB_Query* q = Live("SELECT ID, C, V FROM U", "ID");
  q->Open();
  q->Insert();
  q->FieldByName("ID")->SetAsInteger(2);
  q->FieldByName("C")->SetAsString(five);
  q->FieldByName("V")->SetAsString("a" + kZh + "b" + kzh);
  EXPECT_EQ(four, q->FieldByName("C")->GetAsString());
  q->Post();
  Tr->Commit();
  SecondIn("UTF8");
  EXPECT_EQ(four + "|a" + kZh + "b", ReadSecond("SELECT C, V FROM U WHERE ID = 2", "|"));
}

// ---- case ---------------------------------------------------------------------------------------------

// The client's upper case of every character of the single-byte sets, and of a sample of UTF8, is the
// engine's UPPER().
TEST_F(CharSetTest, UpperCaseIsTheEnginesUpper) {
  if (!CharSetFoldingAvailable()) GTEST_SKIP() << "ICU (libicuuc) is not installed";
  Reconnect("NONE");
  struct TCase {
    const char* CharSet;
    int32_t Id;
  };
  for (const TCase& k : {TCase{"WIN1251", 52}, TCase{"WIN1252", 53}, TCase{"ISO8859_1", 21}, TCase{"UTF8", 4}}) {
    SCOPED_TRACE(k.CharSet);
    std::vector<std::string> values;
    if (k.Id == 4) {
      // Latin-1, Latin Extended-A, Greek, Cyrillic, and letters whose capitals lie elsewhere.
      for (char32_t c : {U'\u00E9', U'\u00FF', U'\u00DF', U'\u0153', U'\u0131', U'\u017F', U'\u03C2', U'\u0451',
                         U'\u0436', U'\u044F', U'\u1E9B', U'\u01C6', U'\u0101', U'\u03B1', U'\u0561', U'\u10D0'}) {
        std::string s;
        if (c < 0x800) {
          s += static_cast<char>(0xC0 | (c >> 6));
          s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
          s += static_cast<char>(0xE0 | (c >> 12));
          s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          s += static_cast<char>(0x80 | (c & 0x3F));
        }
        values.push_back(s);
      }
    } else {
      for (int b = 0x20; b < 0x100; ++b) values.emplace_back(1, static_cast<char>(b));
    }
    int compared = 0;
    for (const std::string& v : values) {
      std::string hex;
      for (unsigned char ch : v) hex += "0123456789ABCDEF"[ch >> 4], hex += "0123456789ABCDEF"[ch & 15];
      std::string upper;
      // A byte the set leaves undefined has no upper case: the engine refuses it or gives nothing.
      try {
        upper = Scalar("SELECT CAST(UPPER(CAST(X'" + hex + "' AS VARCHAR(4) CHARACTER SET " + k.CharSet +
                       ")) AS VARCHAR(4) CHARACTER SET OCTETS) FROM RDB$DATABASE");
      } catch (const EIB_Error&) {
        continue;
      }
      if (upper.empty()) continue;
      ++compared;
      EXPECT_EQ(upper, CharSetUpperCase(k.Id, v)) << hex;
    }
    EXPECT_GT(compared, k.Id == 4 ? 15 : 200);
  }
}

// A NOCASE column's criterion is upper-cased as the engine does: бор* finds Борис and борщ (WIN1251),
// œu* finds Œuvre (WIN1252), жи* finds ЖИР and жир (UTF8).
TEST_F(CharSetTest, ACaseInsensitiveCriterionFindsTheRowsTheEngineMatches) {
  if (!CharSetFoldingAvailable()) GTEST_SKIP() << "ICU (libicuuc) is not installed";
  struct TCase {
    const char* CharSet;
    std::vector<std::string> Rows;
    std::string Criterion;
    const char* Ids;
  };
  const TCase cases[] = {
      {"WIN1251", {kBorisW, kBorschW, kAnnaW, kVeraW}, kBorW + "*", "1,2"},
      {"WIN1252", {"\x8Cuvre", "ouvert", "\x9Cil"}, "\x9Cu*", "1"},
      {"UTF8", {kZh + "\xD0\x98\xD0\xA0", kzh + "\xD0\xB8\xD1\x80", kzh + "a"}, kzh + "\xD0\xB8*", "1,2"},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.CharSet);
    Reconnect(k.CharSet);
    Exec(std::string("RECREATE TABLE P (ID INTEGER, NAME VARCHAR(20) CHARACTER SET ") + k.CharSet + ")");
    Tr->Commit();
    for (size_t i = 0; i < k.Rows.size(); ++i)
      Exec("INSERT INTO P VALUES (" + std::to_string(i + 1) + ", '" + k.Rows[i] + "')");
    Tr->Commit();
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM P");
    q->GetColumnAttributes().SetText("NAME=NOCASE");
    q->Prepare();
    TStringList where, macros, params;
    SearchBufferToSQL(q->FieldByName("NAME"), k.Criterion, &where, &macros, &params);
    ASSERT_EQ(1, where.Count());
    EXPECT_EQ(0, params.Count()) << params.GetText();
    TIB_Cursor* c = NewCursor("SELECT CAST(LIST(ID, ',') AS VARCHAR(40)) FROM (SELECT ID FROM P WHERE " +
                              where.Get(0) + " ORDER BY ID)");
    c->Open();
    EXPECT_EQ(k.Ids, c->GetFields()->GetColumns(0)->GetAsString()) << where.Get(0);
    delete c;
    delete q;
  }
}

// The incremental search on a NOCASE column lands on the first row the engine's upper case matches, with
// and without the position condition (whose restart value must keep Борис in).
TEST_F(CharSetTest, IncrementalSearchFoldsCaseAsTheEngine) {
  if (!CharSetFoldingAvailable()) GTEST_SKIP() << "ICU (libicuuc) is not installed";
  Exec("CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) CHARACTER SET WIN1251)");
  Tr->Commit();
  Reconnect("WIN1251");
  const std::string rows[] = {kBorisW, kBorschW, kAnnaW, kVeraW};
  for (int i = 0; i < 4; ++i) Exec("INSERT INTO P VALUES (" + std::to_string(i + 1) + ", '" + rows[i] + "')");
  Tr->Commit();
  for (const char* links : {"NAME=ITEM=1", "NAME=ITEM=1;POS"}) {
    SCOPED_TRACE(links);
    TIB_Query* q = Ordered("SELECT ID, NAME FROM P", links, 1);
    q->GetColumnAttributes().SetText("NAME=NOCASE");
    q->Open();
    EXPECT_TRUE(q->IncSearchString(kBorW, 1, false));
    EXPECT_EQ(1, q->FieldByName("ID")->GetAsInteger());
    delete q;
  }
}

// In SJIS a katakana's second byte may be the code of a lower-case ASCII letter (ヂ is 0x83 0x61): it is
// no letter and stays as it is, as the engine's UPPER() leaves it, so a NOCASE search for ヂ finds ヂ (not
// ア, 0x83 0x41); ASCII letters around it, and after a one-byte half-width katakana, are folded.
TEST_F(CharSetTest, AnSjisSecondByteThatLooksLikeALetterIsNotUpperCased) {
  Exec("CREATE TABLE K (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10) CHARACTER SET SJIS_0208)");
  Tr->Commit();
  Reconnect("SJIS_0208");
  const std::string dzi = "\x83\x61", a = "\x83\x41", halfA = "\xB1";  // ヂ ア ｱ
  const std::string rows[] = {a + "x", dzi + "y", "b" + dzi, halfA + "q"};
  for (int i = 0; i < 4; ++i) Exec("INSERT INTO K VALUES (" + std::to_string(i + 1) + ", '" + rows[i] + "')");
  Tr->Commit();
  // The engine's upper case of each row, and the library's.
  TIB_Cursor* c = NewCursor("SELECT ID, UPPER(NAME) FROM K ORDER BY ID");
  c->Open();
  for (int i = 0; !c->GetEof(); c->Next(), ++i)
    EXPECT_EQ(c->GetFields()->GetColumns(1)->GetAsString(), CharSetUpperCase(5, rows[i])) << i;
  delete c;
  TIB_Query* q = Ordered("SELECT ID, NAME FROM K", "NAME=ITEM=1", 1);
  q->GetColumnAttributes().SetText("NAME=NOCASE");
  q->Open();
  EXPECT_TRUE(q->IncSearchString(dzi, 1, false));
  EXPECT_EQ(2, q->FieldByName("ID")->GetAsInteger());
  EXPECT_TRUE(q->IncSearchString(a, 1, false));
  EXPECT_EQ(1, q->FieldByName("ID")->GetAsInteger());
  EXPECT_TRUE(q->IncSearchString("B" + dzi, 1, false));
  EXPECT_EQ(3, q->FieldByName("ID")->GetAsInteger());
  delete q;
}

// A NOCASE ordering column with its expression is ordered by it (ORDER BY UPPER(NAME)), the order the
// search compares its upper-cased text in: "be" finds berlin between Amsterdam and Zurich.
TEST_F(CharSetTest, ANoCaseOrderingFollowsItsExpression) {
  Exec("CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
  Tr->Commit();
  int id = 0;
  for (const char* n : {"Zurich", "berlin", "Amsterdam"})
    Exec("INSERT INTO C VALUES (" + std::to_string(++id) + ", '" + n + "')");
  Tr->Commit();
  TIB_Query* q = Ordered("SELECT ID, NAME FROM C", "NAME=ITEM=1", 1);
  q->GetColumnAttributes().SetText("NAME=NOCASE=UPPER(NAME)");
  q->Open();
  EXPECT_EQ("3,2,1", Ids(q));
  EXPECT_TRUE(q->IncSearchString("be", 1, false));
  EXPECT_EQ("berlin", q->FieldByName("NAME")->GetAsString());
  EXPECT_TRUE(q->IncSearchString("ZU", 1, false));
  EXPECT_EQ(1, q->FieldByName("ID")->GetAsInteger());
  delete q;
}

// ---- descending search and the server's order ---------------------------------------------------------

// Descending with POS on a UTF8 VARCHAR(20): the restart value is padded to 20 characters (not 80 bytes of
// four-byte characters, which the server refuses).
TEST_F(CharSetTest, ADescendingPositionedSearchOnUtf8PadsToTheColumnsCharacters) {
  Exec("CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) CHARACTER SET UTF8)");
  Tr->Commit();
  Reconnect("UTF8");
  int id = 0;
  for (const char* n : {"Alpha", "Bob", "Boris", "Carl"})
    Exec("INSERT INTO N VALUES (" + std::to_string(++id) + ", '" + n + "')");
  Tr->Commit();
  TIB_Query* q = Ordered("SELECT ID, NAME FROM N", "NAME=ITEM=1;POS", -1);
  q->Open();
  EXPECT_TRUE(q->IncSearchString("Bo", 1, false));
  EXPECT_EQ("Boris", q->FieldByName("NAME")->GetAsString());
  bool drop = true;
  const std::string value = OrderingSearchValue(*q->FieldByName("NAME"), "Bo", true, drop);
  EXPECT_EQ(20u, CharSetTextLength(4, value));
  delete q;
}

// A UTF8 column read through a WIN1251 connection is ordered by the server in code points (ё after every
// letter of the basic alphabet); the seek compares in that order and finds Борис below ёж.
TEST_F(CharSetTest, TheSeekComparesAsTheServerOrdersTheColumn) {
  Exec("CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) CHARACTER SET UTF8)");
  Tr->Commit();
  Reconnect("WIN1251");
  const std::string rows[] = {kYozhW, kBorisW, kAnnaW, kVeraW};
  for (int i = 0; i < 4; ++i) Exec("INSERT INTO P VALUES (" + std::to_string(i + 1) + ", '" + rows[i] + "')");
  Tr->Commit();
  TIB_Query* q = Ordered("SELECT ID, NAME FROM P", "NAME=ITEM=1", -1);
  q->Open();
  EXPECT_EQ(1, q->FieldByName("ID")->GetAsInteger());
  EXPECT_TRUE(q->IncSearchString(kBorisW.substr(0, 3), 1, false));
  EXPECT_EQ(2, q->FieldByName("ID")->GetAsInteger());
  delete q;
}

// The server bounds a UTF8 column by a WIN1251 restart value in WIN1251's byte order (it compares the
// two in the single-byte set) while it orders the column in code points: no restart value bounds the rows
// the text starts in that order, so every row stays and the seek finds the text in the column's order.
// Descending, ё sorts above я; ascending, ёж sorts after Б though its first byte is lower.
TEST_F(CharSetTest, APositionedSearchKeepsEveryRowWhereTheServerBoundsInAnotherOrder) {
  if (!CharSetFoldingAvailable()) GTEST_SKIP() << "ICU (libicuuc) is not installed";
  Exec("CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) CHARACTER SET UTF8)");
  Tr->Commit();
  Reconnect("WIN1251");
  const std::string rows[] = {kYozhW, kYamaW, kBjornW, kBorisW, kAnnaW};
  for (int i = 0; i < 5; ++i) Exec("INSERT INTO P VALUES (" + std::to_string(i + 1) + ", '" + rows[i] + "')");
  Tr->Commit();
  TIB_Query* q = Ordered("SELECT ID, NAME FROM P", "NAME=ITEM=1;POS", -1);
  q->Open();
  EXPECT_TRUE(q->IncSearchString(kYozhW.substr(0, 1), 1, false));
  EXPECT_EQ("1,2,3,4,5", Ids(q));
  EXPECT_TRUE(q->IncSearchString(kBorisW.substr(0, 1), 1, false));
  EXPECT_EQ("3,4,5", Ids(q));
  EXPECT_TRUE(q->IncSearchString(kYamaW.substr(0, 1), 1, false));
  EXPECT_EQ("2,3,4,5", Ids(q));
  q->SetOrderingItemNo(1);
  q->Open();
  EXPECT_TRUE(q->IncSearchString(kBorisW.substr(0, 1), 1, false));
  EXPECT_EQ("4,3,2,1", Ids(q));
  delete q;
}

// A WIN1251 column through a UTF8 connection is bounded and ordered in WIN1251's bytes: the descending
// restart value is padded with я, WIN1251's highest character, in UTF-8 (the highest code point, which
// WIN1251 does not hold, cannot be compared with the column at all).
TEST_F(CharSetTest, ADescendingPositionedSearchPadsWithWhatSortsHighestInTheColumnsSet) {
  if (!CharSetFoldingAvailable()) GTEST_SKIP() << "ICU (libicuuc) is not installed";
  Exec("CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) CHARACTER SET WIN1251)");
  Tr->Commit();
  Reconnect("WIN1251");
  const std::string rows[] = {kYozhW, kYamaW, kBjornW, kBorisW, kAnnaW};
  for (int i = 0; i < 5; ++i) Exec("INSERT INTO P VALUES (" + std::to_string(i + 1) + ", '" + rows[i] + "')");
  Tr->Commit();
  Reconnect("UTF8");
  TIB_Query* q = Ordered("SELECT ID, NAME FROM P", "NAME=ITEM=1;POS", -1);
  q->Open();
  EXPECT_TRUE(q->IncSearchString("\xD0\x91", 1, false));  // Б
  EXPECT_EQ("4,3,5,1", Ids(q));
  EXPECT_TRUE(q->IncSearchString("\xD1\x8F", 1, false));  // я
  EXPECT_EQ("2,4,3,5,1", Ids(q));
  bool drop = true;
  const std::string value = OrderingSearchValue(*q->FieldByName("NAME"), "\xD0\x91", true, drop, 52);
  EXPECT_EQ("\xD0\x91" + Repeat("\xD1\x8F", 19), value);
  delete q;
}

}  // namespace
