// Typed setters on parameters that nobody hears take a short road; these tests hold it to what the full
// change protocol leaves, and check that whoever listens still hears every change. Name lookups are
// checked to find the same column for every spelling, every time, and after a re-prepare.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "StatementTestSupport.h"
#include "dblib/IB_StatementLinks.h"
#include "platform/Locale.h"

namespace {

using stmttest::StatementDbTest;

struct EventLink : TIB_StatementLink {
  std::vector<int32_t>* Log;
  EventLink(TComponent* Owner, std::vector<int32_t>* L) : TIB_StatementLink(Owner), Log(L) {}
  void ProcessEvent(int32_t AEvent, intptr_t AArg) override {
    Log->push_back(AEvent);
    TIB_StatementLink::ProcessEvent(AEvent, AArg);
  }
};

class ParamSettersTest : public StatementDbTest {
protected:
  // The notices links heard; it outlives the links, which the owner deletes after the test body.
  std::vector<int32_t> events;
  static constexpr const char* kInsert =
      "INSERT INTO P (ID, AMOUNT, STAMP, NAME, CODE) VALUES (:ID, :AMOUNT, :STAMP, :NAME, :CODE)";
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE P (ID INTEGER, AMOUNT NUMERIC(15,2), STAMP TIMESTAMP, NAME VARCHAR(10), CODE CHAR(4))");
    Tr->Commit();
  }
  // The rows of P as text, read through a second attachment.
  std::vector<std::string> ReadBack() {
    auto* other = new TIB_Connection(Owner);
    other->SetDatabaseName(Conn->GetDatabaseName());
    other->SetCharSet("ISO8859_1");
    other->Connect();
    auto* otherTr = new TIB_Transaction(Owner);
    otherTr->SetIB_Connection(other);
    auto* read = new TIB_DSQL(Owner);
    read->SetIB_Connection(other);
    read->SetIB_Transaction(otherTr);
    read->GetSQL().SetText(
        "SELECT LIST(COALESCE(ID, -1) || '|' || COALESCE(AMOUNT, -1) || '|' || COALESCE(CAST(STAMP AS VARCHAR(30)), "
        "'-') || '|' || COALESCE(NAME, '<null>') || '|' || COALESCE(CODE, '<null>'), ';') FROM "
        "(SELECT * FROM P ORDER BY ID)");
    read->Execute();
    std::vector<std::string> rows;
    const std::string all = read->GetFields()->GetColumns(0)->GetAsString();
    size_t start = 0;
    while (start <= all.size() && !all.empty()) {
      const size_t semi = all.find(';', start);
      rows.push_back(all.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
    delete read;
    delete otherTr;
    delete other;
    return rows;
  }
};

// The same setter calls on a statement nobody hears and on one whose link hears every change leave the
// same buffers (value bytes, padding and null indicators), the same old-value comparison and the same
// row state; both statements send the same rows.
TEST_F(ParamSettersTest, UnheardSettersLeaveWhatTheFullProtocolLeaves) {
  TIB_DSQL* quiet = NewDSQL(kInsert);
  TIB_DSQL* heard = NewDSQL(kInsert);
  quiet->Prepare();
  heard->Prepare();
  auto* link = new EventLink(Owner, &events);
  link->SetStatement(heard);
  const TDateTime stamp = EncodeDate(2024, 2, 29) + 0.5;
  struct Step {
    const char* Name;
    const char* Param;
    std::function<void(TIB_Column*)> Set;
    bool Changed;  // GetIsChanged after the step
  };
  const std::vector<Step> steps = {
      {"integer", "ID", [](TIB_Column* c) { c->SetAsInteger(7); }, true},
      {"the same integer again", "ID", [](TIB_Column* c) { c->SetAsInteger(7); }, false},
      {"currency", "AMOUNT", [](TIB_Column* c) { c->SetAsCurrency(Currency::FromRaw(12345600)); }, true},
      {"timestamp", "STAMP", [&](TIB_Column* c) { c->SetAsDateTime(stamp); }, true},
      {"long varchar", "NAME", [](TIB_Column* c) { c->SetAsString("ABCDEFGHIJ"); }, true},
      {"shorter varchar over it", "NAME", [](TIB_Column* c) { c->SetAsString("xy"); }, true},
      // A parameter refuses a text longer than it holds (cut, it would select other rows) and stays as it was.
      {"varchar longer than its length", "NAME",
       [](TIB_Column* c) { EXPECT_THROW(c->SetAsString("0123456789ABC"), EIB_ColumnError); }, true},
      {"char", "CODE", [](TIB_Column* c) { c->SetAsString("Q"); }, true},
      {"the same char again", "CODE", [](TIB_Column* c) { c->SetAsString("Q"); }, false},
      {"empty varchar", "NAME", [](TIB_Column* c) { c->SetAsString(""); }, true},
      {"integer made null", "ID", [](TIB_Column* c) { c->Clear(); }, true},
      {"integer after null", "ID", [](TIB_Column* c) { c->SetAsInteger(8); }, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.Name);
    TIB_Column* q = quiet->ParamByName(s.Param);
    TIB_Column* h = heard->ParamByName(s.Param);
    s.Set(q);
    s.Set(h);
    EXPECT_EQ(s.Changed, q->GetIsChanged());
    EXPECT_EQ(h->GetIsChanged(), q->GetIsChanged());
    EXPECT_EQ(h->GetIsNull(), q->GetIsNull());
    EXPECT_EQ(h->GetAsString(), q->GetAsString());
    EXPECT_EQ(heard->GetParams()->GetRowData(), quiet->GetParams()->GetRowData());
    EXPECT_EQ(heard->GetParams()->GetOldRowData(), quiet->GetParams()->GetOldRowData());
    EXPECT_EQ(heard->GetParams()->GetRowState(), quiet->GetParams()->GetRowState());
    EXPECT_EQ(rsUnmodified, quiet->GetParams()->GetRowState());
    // A shorter text pads what the longer one left: the bytes past its length are blanks again.
    const std::string step = s.Name;
    if (step == "shorter varchar over it" || step == "varchar longer than its length") {
      EXPECT_EQ(std::string("\x02\x00xy", 4) + std::string(8, ' '), q->GetColData());
    } else if (step == "char") {
      EXPECT_EQ("Q   ", q->GetColData());
    }
  }
  // Only the heard statement's link received notices.
  EXPECT_FALSE(events.empty());
  quiet->ParamByName("NAME")->SetAsString("quiet");
  heard->ParamByName("NAME")->SetAsString("heard");
  heard->ParamByName("ID")->SetAsInteger(9);
  quiet->Execute();
  heard->Execute();
  Tr->Commit();
  EXPECT_EQ((std::vector<std::string>{"8|1234.56|2024-02-29 12:00:00.0000|quiet|Q     ",
                                      "9|1234.56|2024-02-29 12:00:00.0000|heard|Q     "}),
            ReadBack());
}

// Listeners that arrive between changes hear the following ones, each setter kind the same notices in
// the same order; once they leave, changes go unheard again and leave the unmodified state.
TEST_F(ParamSettersTest, ListenersAttachedBetweenChangesHearEveryFollowingChange) {
  TIB_DSQL* q = NewDSQL(kInsert);
  q->Prepare();
  TIB_Column* id = q->ParamByName("ID");
  TIB_Column* amount = q->ParamByName("AMOUNT");
  TIB_Column* stamp = q->ParamByName("STAMP");
  TIB_Column* name = q->ParamByName("NAME");
  id->SetAsInteger(1);
  name->SetAsString("before");
  auto* link = new EventLink(Owner, &events);
  link->SetStatement(q);
  // One change of each kind, and the notices each one sent.
  std::vector<std::vector<int32_t>> perChange;
  const std::vector<std::function<void()>> changes = {
      [&] { id->SetAsInteger(2); },
      [&] { amount->SetAsCurrency(Currency::FromRaw(20000)); },
      [&] { stamp->SetAsDateTime(EncodeDate(2020, 1, 1)); },
      [&] { name->SetAsString("during"); },
  };
  for (const auto& change : changes) {
    events.clear();
    change();
    perChange.push_back(events);
  }
  ASSERT_FALSE(perChange[0].empty());
  EXPECT_EQ(2, std::count(perChange[0].begin(), perChange[0].end(), sleParamsStateChanged));
  for (size_t i = 1; i < perChange.size(); ++i) EXPECT_EQ(perChange[0], perChange[i]) << "change " << i;
  // OnValidateField alone (the link gone) hears each change with its new value.
  delete link;
  std::vector<std::string> validated;
  q->OnValidateField = [&](TIB_Statement*, TIB_Row* Row, TIB_Column* Col) {
    EXPECT_EQ(q->GetParams(), Row);
    const std::string value = Col == amount ? std::to_string(Col->GetAsCurrency().Raw()) : Col->GetAsString();
    validated.push_back(Col->GetColumnName() + "=" + value);
  };
  id->SetAsInteger(3);
  name->SetAsString("heard");
  amount->SetAsCurrency(Currency::FromRaw(30000));
  EXPECT_EQ((std::vector<std::string>{"ID=3", "NAME=heard", "AMOUNT=30000"}), validated);
  // Nobody left: unheard again.
  q->OnValidateField = nullptr;
  events.clear();
  id->SetAsInteger(4);
  name->SetAsString("after");
  EXPECT_EQ(3u, validated.size());
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(rsUnmodified, q->GetParams()->GetRowState());
  EXPECT_EQ(4, id->GetAsInteger());
  EXPECT_EQ("after", name->GetAsString());
  q->Execute();
  Tr->Commit();
  EXPECT_EQ((std::vector<std::string>{"4|3.00|2020-01-01 00:00:00.0000|after|<null>"}), ReadBack());
}

// A column's own handler takes the full road, and the row is asked after it ran: a handler that
// attaches a listener makes that very change heard.
TEST_F(ParamSettersTest, AListenerAttachedByAColumnHandlerHearsThatChange) {
  TIB_DSQL* q = NewDSQL(kInsert);
  q->Prepare();
  // OnValidate alone: it runs for every change, and the OnValidateField it sets hears the same change.
  TIB_Column* id = q->ParamByName("ID");
  std::vector<std::string> log;
  id->OnValidate = [&](TIB_Column* Col) {
    log.push_back("validate " + Col->GetAsString());
    if (!q->OnValidateField) {
      q->OnValidateField = [&](TIB_Statement*, TIB_Row*, TIB_Column* C) { log.push_back("field " + C->GetAsString()); };
    }
  };
  id->SetAsInteger(5);
  id->SetAsInteger(6);
  EXPECT_EQ((std::vector<std::string>{"validate 5", "field 5", "validate 6", "field 6"}), log);
  // OnBeforeModify alone: the link it attaches hears the change it announces.
  TIB_Column* name = q->ParamByName("NAME");
  EventLink* link = nullptr;
  name->OnBeforeModify = [&](TIB_Column*) {
    if (!link) {
      link = new EventLink(Owner, &events);
      link->SetStatement(q);
    }
  };
  name->SetAsString("seen");
  EXPECT_EQ(2, std::count(events.begin(), events.end(), sleParamsStateChanged));
  EXPECT_EQ("seen", name->GetAsString());
}

// A name finds the column its rules find, whatever the spelling, on the first and on every later
// lookup: names of up to 8, 9 to 16 and more bytes, names sharing their first 8 bytes, a quoted
// lower-case alias beside an upper-case one.
TEST_F(ParamSettersTest, ANameFindsTheSameColumnInEverySpellingEveryTime) {
  TIB_DSQL* q = NewDSQL(
      "SELECT 1 AS ID, 2 AS \"id\", 3 AS ABCDEFGH, 4 AS ABCDEFGH1, 5 AS ABCDEFGH2, 6 AS SIXTEEN_BYTES_AB, "
      "7 AS SEVENTEEN_BYTES_A, 8 AS X FROM RDB$DATABASE");
  q->Execute();
  struct Case {
    const char* Name;
    int Value;
  };
  const Case cases[] = {
      {"ID", 1},
      {"id", 1},  // plain: upper case first, so the upper-case column
      {"\"id\"", 2},
      {"Id", 1},
      {"\"ID\"", 1},
      {" ID ", 1},
      {"ABCDEFGH", 3},
      {"abcdefgh", 3},
      {"ABCDEFGH1", 4},
      {"abcdefgh2", 5},
      {"AbcdefGH2", 5},
      {"SIXTEEN_BYTES_AB", 6},
      {"sixteen_bytes_ab", 6},
      {"SEVENTEEN_BYTES_A", 7},
      {"seventeen_bytes_a", 7},
      {"x", 8},
      {"X", 8},
  };
  for (int round = 0; round < 3; ++round) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + " round " + std::to_string(round));
      TIB_Column* col = q->FieldByName(c.Name);
      ASSERT_NE(nullptr, col);
      EXPECT_EQ(c.Value, col->GetAsInteger());
      EXPECT_EQ(col, q->FindField(c.Name));
    }
  }
  for (const char* missing : {"ABCDEFGH3", "I", "idx", "SIXTEEN_BYTES_AC", "\"Id\""}) {
    SCOPED_TRACE(missing);
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(nullptr, q->FindField(missing));
      try {
        q->FieldByName(missing);
        ADD_FAILURE() << "no error";
      } catch (const EIB_StatementError& e) {
        EXPECT_EQ(std::string("FieldName: ") + missing + " not found", e.Message());
      }
    }
  }
  // Parameters the same way, the value set through one spelling read through another.
  TIB_DSQL* ins = NewDSQL("INSERT INTO P (ID, NAME) VALUES (:ID, :NAME)");
  ins->Prepare();
  for (int round = 0; round < 2; ++round) {
    ins->ParamByName("id")->SetAsInteger(10 + round);
    EXPECT_EQ(10 + round, ins->ParamByName("ID")->GetAsInteger());
    ins->ParamByName("Name")->SetAsString("n");
    EXPECT_EQ(ins->ParamByName("NAME"), ins->ParamByName("name"));
  }
}

// After the text changes and the statement prepares again, a name asked before finds the new column
// (at its new position) and a name that is gone is not found.
TEST_F(ParamSettersTest, ANameAskedBeforeAReprepareFindsTheNewColumns) {
  TIB_DSQL* q = NewDSQL("SELECT 1 AS A, 2 AS B FROM RDB$DATABASE");
  q->Execute();
  EXPECT_EQ(2, q->FieldByName("B")->GetAsInteger());
  EXPECT_EQ(1, q->FieldByName("a")->GetAsInteger());
  q->GetSQL().SetText("SELECT 3 AS B FROM RDB$DATABASE");
  q->Execute();
  EXPECT_EQ(3, q->FieldByName("B")->GetAsInteger());
  EXPECT_EQ(q->GetFields()->GetColumns(0), q->FieldByName("b"));
  EXPECT_EQ(nullptr, q->FindField("a"));
  try {
    q->FieldByName("A");
    ADD_FAILURE() << "no error";
  } catch (const EIB_StatementError& e) {
    EXPECT_EQ("FieldName: A not found", e.Message());
  }
  // Parameters: the same name at another position after the text changed.
  TIB_DSQL* ins = NewDSQL("INSERT INTO P (ID, NAME) VALUES (:ID, :NAME)");
  ins->Prepare();
  ins->ParamByName("NAME")->SetAsString("one");
  ins->ParamByName("ID")->SetAsInteger(1);
  ins->Execute();
  ins->GetSQL().SetText("INSERT INTO P (NAME, ID) VALUES (:NAME, :ID)");
  ins->Prepare();
  EXPECT_EQ(ins->GetParams()->GetColumns(0), ins->ParamByName("NAME"));
  ins->ParamByName("NAME")->SetAsString("two");
  ins->ParamByName("ID")->SetAsInteger(2);
  ins->Execute();
  Tr->Commit();
  EXPECT_EQ((std::vector<std::string>{"1|-1.00|-|one|<null>", "2|-1.00|-|two|<null>"}), ReadBack());
}

}  // namespace
