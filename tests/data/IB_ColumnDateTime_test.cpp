#include "dblib/data/IB_ColumnDateTime.h"

#include <cmath>

#include "TypedColumnTestSupport.h"
#include "dblib/IB_Utils.h"
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

TEST_F(DateTimeColumnTest, DateStoresTheServerDayNumber) {
  TIB_Column* d = Column(rtFields, DateVar());
  ASSERT_NE(dynamic_cast<TIB_ColumnDate*>(d), nullptr);
  EXPECT_TRUE(d->GetIsDateTimeKind());
  d->SetAsDateTime(EncodeDate(2024, 2, 29) + 0.75);
  EXPECT_EQ(Stored<int32_t>(d), static_cast<int32_t>(EncodeDate(2024, 2, 29)) + 15018);
  EXPECT_EQ(d->GetAsString(), "2/29/2024");
  EXPECT_EQ(d->GetAsDateTime(), EncodeDate(2024, 2, 29));
  EXPECT_EQ(VarType(d->GetAsVariant()), varDate);
  d->SetAsString("11/17/1858");  // the server's day 0
  EXPECT_EQ(Stored<int32_t>(d), 0);
  FormatSettings.DateSeparator = '.';
  FormatSettings.ShortDateFormat = "dd.mm.yyyy";
  d->SetAsString("05.11.2023");
  EXPECT_EQ(d->GetAsDate(), EncodeDate(2023, 11, 5));
  EXPECT_EQ(d->GetAsString(), "05.11.2023");
}

TEST_F(DateTimeColumnTest, TimeStoresTenThousandthsOfTheDay) {
  TIB_Column* t = Column(rtFields, TimeVar());
  t->SetAsString("13:45:30");
  EXPECT_EQ(Stored<uint32_t>(t), 13u * 36000000 + 45u * 600000 + 30u * 10000);
  EXPECT_EQ(t->GetAsString(), "13:45:30");
  t->SetAsDateTime(EncodeDate(2020, 1, 1) + EncodeTime(1, 2, 3, 456));
  EXPECT_EQ(Stored<uint32_t>(t), 1u * 36000000 + 2u * 600000 + 3u * 10000 + 4560);
  uint16_t h, m, s, ms;
  DecodeTime(t->GetAsDateTime(), h, m, s, ms);
  EXPECT_EQ(ms, 456);
  EXPECT_LT(t->GetAsDateTime(), 1.0);
  const Snapshot before = Take(t);
  EXPECT_THROW(t->SetAsString("25:00:00"), EConvertError);
  ExpectSame(t, before);
}

TEST_F(DateTimeColumnTest, TimestampTextForms) {
  TIB_Column* s = Column(rtFields, StampVar());
  const TDateTime v = EncodeDate(2021, 7, 4) + EncodeTime(8, 5, 9, 250);
  s->SetAsDateTime(v);
  EXPECT_EQ(s->GetAsString(), "7/4/2021 08:05:09");
  EXPECT_EQ(s->GetAsTimestampText(), "2021/07/04 08:05:09.2500");
  s->SetAsTimestampText("1999/12/31 23:59:58.0000");
  EXPECT_EQ(s->GetAsString(), "12/31/1999 23:59:58");
  s->SetAsDate(v);
  EXPECT_EQ(s->GetAsDateTime(), EncodeDate(2021, 7, 4));
  s->SetAsDateTime(-1.25);  // 1899-12-29 06:00
  EXPECT_EQ(s->GetAsDateTime(), -1.25);
  EXPECT_EQ(s->GetAsDate(), -1);
  const Snapshot before = Take(s);
  EXPECT_THROW(s->SetAsDateTime(1e9), EConvertError);
  EXPECT_THROW(s->SetAsString("13/45/2020"), EConvertError);
  ExpectSame(s, before);
}

TEST_F(DateTimeColumnTest, DateWords) {
  TIB_Column* d = Column(rtFields, DateVar());
  const TDateTime today = EncodeDate(2024, 3, 15);
  d->SetAsString("tom");
  EXPECT_EQ(d->GetAsDate(), today + 1);
  d->SetAsString("Yesterday");
  EXPECT_EQ(d->GetAsDate(), today - 1);
  d->SetAsString("TODAY");
  EXPECT_EQ(d->GetAsDate(), today);
  d->SetAsString("lastweek");
  EXPECT_EQ(d->GetAsDate(), today - 7);
  d->SetAsString("NextWeek");
  EXPECT_EQ(d->GetAsDate(), today + 7);
  d->SetAsString("NULLABLE");  // the test is on the beginning
  EXPECT_TRUE(d->GetIsNull());
  TIB_Column* s = Column(rtFields, StampVar());
  s->SetAsString("now");
  EXPECT_EQ(s->GetAsDateTime(), FixedNow());
  s->SetAsString("today");
  EXPECT_EQ(s->GetAsDateTime(), today);
  const Snapshot before = Take(s);
  EXPECT_THROW(s->SetAsString("someday"), EConvertError);
  ExpectSame(s, before);
  s->SetAsString("");  // empty is null whatever BLANKISNULL says
  EXPECT_TRUE(s->GetIsNull());
}

TEST_F(DateTimeColumnTest, NoTimeKeepsWholeDaysAndShowsItsFormat) {
  St.StatementAttributes.Add("S=NOTIME");
  TIB_Column* s = Column(rtFields, StampVar());
  s->InitDateTimeFormats();
  EXPECT_TRUE(s->GetNoTime());
  s->SetAsDateTime(EncodeDate(2022, 10, 9) + 0.6);
  EXPECT_EQ(s->GetAsDateTime(), EncodeDate(2022, 10, 9));
  EXPECT_EQ(s->GetAsString(), "10/9/2022");
  St.StatementAttributes.Clear();
  St.StatementAttributes.Add("S=NOTIME=yyyy-mm-dd");
  TIB_Column* f = Column(rtFields, StampVar());
  f->InitDateTimeFormats();
  f->SetAsString("10/9/2022 11:00");
  EXPECT_EQ(f->GetAsString(), "2022-10-09");
}

TEST_F(DateTimeColumnTest, NoDateTakesTheDayOfTheOldValue) {
  St.StatementAttributes.Add("S=NODATE");
  TIB_Row* row = MakeRow(rtFields, {StampVar()});
  TIB_Column* s = row->GetColumns(0);
  s->InitDateTimeFormats();
  EXPECT_TRUE(s->GetNoDate());
  // No old value: day 0.
  s->SetAsString("10:30");
  EXPECT_DOUBLE_EQ(s->GetAsDateTime(), 10.5 / 24);
  EXPECT_EQ(s->GetAsString(), "10:30");
  s->SetAsDateTime(EncodeDate(2020, 5, 6) + 0.25);
  row->ResetRow(false, false, false);  // the value becomes the old one
  s->SetAsString("18:00");
  EXPECT_DOUBLE_EQ(s->GetAsDateTime(), EncodeDate(2020, 5, 6) + 0.75);
}

TEST_F(DateTimeColumnTest, EmptyMaskTextIsNull) {
  TIB_Column* d = Column(rtFields, DateVar());
  d->SetAsString("today");
  d->SetEditMask("!99/99/9999;1;_");
  ASSERT_TRUE(d->GetMaskActive());
  d->SetAsString(d->GetEmptyMaskText());
  EXPECT_TRUE(d->GetIsNull());
}

}  // namespace
