#include "dblib/data/IB_ColumnDateTime.h"

#include <cmath>

#include "TypedColumnTestSupport.h"
#include "dblib/IB_Utils.h"
#include "dblib/StatementTestSupport.h"
#include "platform/Clock.h"

using namespace typedtest;

namespace {

// 2024-03-15 12:00, the fixed "now" of these tests.
TDateTime FixedNow() { return EncodeDate(2024, 3, 15) + 0.5; }

class DateTimeColumnTest : public TypedColumnTest {
protected:
  void SetUp() override {
    TypedColumnTest::SetUp();
    SetNowSource(&FixedNow);
  }
  void TearDown() override {
    SetNowSource(nullptr);
    TypedColumnTest::TearDown();
  }
};

XSQLVAR DateVar() { return MakeVar(SQL_TYPE_DATE | 1, 4, "D"); }
XSQLVAR TimeVar() { return MakeVar(SQL_TYPE_TIME | 1, 4, "T"); }
XSQLVAR StampVar() { return MakeVar(SQL_TIMESTAMP | 1, 8, "S"); }

TEST_F(DateTimeColumnTest, EachTypeStoresTheServersFormAndReadsItBack) {
  const TDateTime day = EncodeDate(2024, 2, 29);
  const TDateTime moment = day + EncodeTime(8, 5, 9, 250);
  struct Case {
    XSQLVAR Var;
    TDateTime In;
    std::string Bytes;  // as the server stores it
    TDateTime Read;
    const char* Text;
  };
  auto le = [](uint32_t V) { return std::string(reinterpret_cast<const char*>(&V), 4); };
  const uint32_t dayNo = static_cast<uint32_t>(day) + 15018;
  const uint32_t timeNo = 8u * 36000000 + 5u * 600000 + 9u * 10000 + 2500;
  const Case cases[] = {{DateVar(), moment, le(dayNo), day, "2/29/2024"},
                        {TimeVar(), moment, le(timeNo), moment - day, "08:05:09"},
                        {StampVar(), moment, le(dayNo) + le(timeNo), moment, "2/29/2024 08:05:09"},
                        {StampVar(), -1.25, le(15018 - 1) + le(6 * 36000000u), -1.25, "12/29/1899 06:00:00"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    TIB_Column* col = Column(rtFields, c.Var);
    col->SetAsDateTime(c.In);
    EXPECT_EQ(Bytes(col), c.Bytes);
    EXPECT_NEAR(col->GetAsDateTime(), c.Read, 1e-9);
    EXPECT_EQ(col->GetAsString(), c.Text);
    EXPECT_EQ(VarType(col->GetAsVariant()), varDate);
    col->SetAsString(col->GetAsString());
    EXPECT_EQ(col->GetAsString(), c.Text);
  }
  TIB_Column* s = Column(rtFields, StampVar());
  s->SetAsDateTime(moment);
  EXPECT_EQ(s->GetAsTimestampText(), "2024/02/29 08:05:09.2500");
  s->SetAsTimestampText("1999/12/31 23:59:58.0000");
  EXPECT_EQ(s->GetAsString(), "12/31/1999 23:59:58");
  s->SetAsDate(moment);
  EXPECT_EQ(s->GetAsDateTime(), day);
  FormatSettings.DateSeparator = '.';
  FormatSettings.ShortDateFormat = "dd.mm.yyyy";
  s->SetAsString("05.11.2023");
  EXPECT_EQ(s->GetAsDate(), EncodeDate(2023, 11, 5));
}

TEST_F(DateTimeColumnTest, DateWordsCountFromTodayAndBadTextLeavesTheValue) {
  const TDateTime today = EncodeDate(2024, 3, 15);
  const std::pair<const char*, TDateTime> words[] = {{"tom", today + 1},      {"Yesterday", today - 1},
                                                     {"TODAY", today},        {"lastweek", today - 7},
                                                     {"NextWeek", today + 7}, {"now", FixedNow()}};
  TIB_Column* s = Column(rtFields, StampVar());
  for (const auto& [word, value] : words) {
    s->SetAsString(word);
    EXPECT_EQ(s->GetAsDateTime(), value) << word;
  }
  const Snapshot before = Take(s);
  EXPECT_THROW(s->SetAsString("someday"), EConvertError);
  EXPECT_THROW(s->SetAsString("13/45/2020"), EConvertError);
  EXPECT_THROW(s->SetAsDateTime(1e9), EIB_ColumnError);
  TIB_Column* t = Column(rtFields, TimeVar());
  EXPECT_THROW(t->SetAsString("25:00:00"), EConvertError);
  ExpectSame(s, before);
  s->SetAsString("NULLABLE");  // the test is on the beginning of the word
  EXPECT_TRUE(s->GetIsNull());
  s->SetAsString("today");
  s->SetAsString("");  // empty is null whatever BLANKISNULL says
  EXPECT_TRUE(s->GetIsNull());
  s->SetAsString("today");
  s->SetEditMask("!99/99/9999;1;_");
  s->SetAsString(s->GetEmptyMaskText());
  EXPECT_TRUE(s->GetIsNull());
}

TEST_F(DateTimeColumnTest, NoTimeKeepsWholeDaysAndNoDateKeepsTheOldDay) {
  St.StatementAttributes.Add("S=NOTIME=yyyy-mm-dd");
  St.StatementAttributes.Add("T=NODATE");
  TIB_Row* row = MakeRow(rtFields, {StampVar(), MakeVar(SQL_TIMESTAMP | 1, 8, "T")});
  TIB_Column* s = row->GetColumns(0);
  TIB_Column* t = row->GetColumns(1);
  s->InitDateTimeFormats();
  t->InitDateTimeFormats();
  s->SetAsString("10/9/2022 11:00");
  EXPECT_EQ(s->GetAsDateTime(), EncodeDate(2022, 10, 9));
  EXPECT_EQ(s->GetAsString(), "2022-10-09");
  t->SetAsString("10:30");  // no old value: day 0
  EXPECT_DOUBLE_EQ(t->GetAsDateTime(), 10.5 / 24);
  EXPECT_EQ(t->GetAsString(), "10:30");
  t->SetAsDateTime(EncodeDate(2020, 5, 6) + 0.25);
  row->ResetRow(false, false, false);  // the value becomes the old one
  t->SetAsString("18:00");
  EXPECT_DOUBLE_EQ(t->GetAsDateTime(), EncodeDate(2020, 5, 6) + 0.75);
}

// ---- through the engine ------------------------------------------------------------------------------

class DateTimeEngineTest : public stmttest::StatementDbTest {
protected:
  TFormatSettings Saved = FormatSettings;
  void SetUp() override {
    StatementDbTest::SetUp();
    FormatSettings = TFormatSettings();
    Exec("CREATE TABLE T (A TIMESTAMP, B TIMESTAMP, C TIMESTAMP, D TIMESTAMP)");
    Tr->Commit();
    Exec("INSERT INTO T VALUES ('2022-10-09 11:30', '2022-10-09 11:30', '2022-10-09 11:30', '2022-10-09 11:30')");
  }
  void TearDown() override {
    FormatSettings = Saved;
    StatementDbTest::TearDown();
  }
};

TEST_F(DateTimeEngineTest, DateAndTimeAttributesTakeEffectOnAPreparedStatement) {
  TIB_DSQL* q = NewDSQL("SELECT A, B, C, D FROM T");
  q->GetColumnAttributes().SetText("A=NOTIME\r\nB=NODATE\r\nC=NOTIME");
  q->GetFieldsDisplayFormat().SetText("T.C=dd mmm yyyy");
  q->Execute();
  TIB_Column* a = q->FieldByName("A");
  TIB_Column* b = q->FieldByName("B");
  TIB_Column* c = q->FieldByName("C");
  EXPECT_TRUE(a->GetNoTime());
  EXPECT_EQ(a->GetAsString(), "10/9/2022");
  EXPECT_EQ(a->GetEditMask(), "!99/99/9999;1; ");
  EXPECT_TRUE(b->GetNoDate());
  EXPECT_EQ(b->GetAsString(), "11:30");
  EXPECT_EQ(b->GetEditMask(), "!99:99:99;1; ");
  EXPECT_EQ(c->GetAsString(), "09 Oct 2022");  // NOTIME without a format takes the display format
  EXPECT_FALSE(q->FieldByName("D")->GetNoTime());
  EXPECT_EQ(q->FieldByName("D")->GetAsString(), "10/9/2022 11:30:00");
  // Changing the display format later moves the date-only format with it.
  q->GetFieldsDisplayFormat().SetText("T.C=yyyy");
  EXPECT_EQ(c->GetAsString(), "2022");
}

}  // namespace
