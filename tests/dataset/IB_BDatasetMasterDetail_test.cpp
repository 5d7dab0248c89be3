// A master and its detail as a form shows them: the detail's edit is written under the master row it was
// made under, whichever road moves the master on.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "LinkTestSupport.h"

namespace {

using datasettest::DatasetDbTest;

class MasterDetailTest : public DatasetDbTest {
protected:
  // Flights 1..3 (codes A1, B2, C3), each with legs 10*ID+1 and 10*ID+2.
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE F (ID INTEGER NOT NULL PRIMARY KEY, CODE VARCHAR(4))");
    Exec("CREATE TABLE LEG (ID INTEGER NOT NULL PRIMARY KEY, FLIGHT_ID INTEGER NOT NULL, FIX VARCHAR(10))");
    Tr->Commit();
    const char* codes[] = {"A1", "B2", "C3"};
    for (int f = 1; f <= 3; ++f) {
      Exec("INSERT INTO F VALUES (" + std::to_string(f) + ", '" + codes[f - 1] + "')");
      for (int l = 1; l <= 2; ++l)
        Exec("INSERT INTO LEG VALUES (" + std::to_string(10 * f + l) + ", " + std::to_string(f) + ", NULL)");
    }
    Tr->Commit();
  }
};

// A master over F ordered by ID (key ID, ordering item 1 by CODE) and a detail over LEG following it
// by LEG.FLIGHT_ID=F.ID that may edit. The form owns all three.
struct TMasterDetail {
  TIB_Query* Master;
  TIB_DataSource* Source;
  TIB_Query* Detail;
  ~TMasterDetail() {
    delete Detail;
    delete Source;
    delete Master;
  }
};

// Each road leaves master row From with the detail's first leg edited; the edit is written under the
// flight it was made under, and the master stands where the road took it.
TEST_F(MasterDetailTest, EveryRoadThatMovesTheMasterPostsTheDetailUnderTheRowItLeaves) {
  struct TRoad {
    const char* Name;
    int32_t From;
    int32_t To;
    std::function<void(TIB_Query*)> Move;
    // With POS the search restarts the master's query at the text typed.
    const char* OrderingLinks = "CODE=ITEM=1";
  };
  std::string bookmark2;
  const TRoad roads[] = {
      {"SetRowNum", 1, 2, [](TIB_Query* M) { M->SetRowNum(2); }},
      {"MoveBy", 1, 2, [](TIB_Query* M) { M->MoveBy(1); }},
      {"Next", 1, 2, [](TIB_Query* M) { M->Next(); }},
      {"Prior", 2, 1, [](TIB_Query* M) { M->Prior(); }},
      {"First", 2, 1, [](TIB_Query* M) { M->First(); }},
      {"Last", 1, 3, [](TIB_Query* M) { M->Last(); }},
      {"SetBookmark", 1, 2, [&](TIB_Query* M) { M->SetBookmark(bookmark2); }},
      {"LocateKey", 1, 2,
       [](TIB_Query* M) {
         M->GetKeyFields()->ColumnByName("ID")->SetAsInteger(2);
         EXPECT_TRUE(M->LocateKey());
       }},
      {"IncSearchString", 1, 2, [](TIB_Query* M) { EXPECT_TRUE(M->IncSearchString("B", 1, false)); }},
      {"IncSearchKey", 1, 2, [](TIB_Query* M) { EXPECT_TRUE(M->IncSearchKey('B', true, false, false)); }},
      {"IncSearchString restarting the query", 1, 2,
       [](TIB_Query* M) { EXPECT_TRUE(M->IncSearchString("B", 1, false)); }, "CODE=ITEM=1;POS"},
      {"Refresh", 2, 1,
       [](TIB_Query* M) {
         M->SetRefreshAction(raOpen);
         M->Refresh();
         M->SetRefreshAction(raKeepRowNum);
       }},
      // The master's row left the server: the refresh keeping the row number shows the next flight.
      {"Refresh after a delete", 2, 3,
       [&](TIB_Query* M) {
         Exec("DELETE FROM F WHERE ID = 2");
         M->Refresh();
       }},
  };
  for (const TRoad& road : roads) {
    SCOPED_TRACE(road.Name);
    Exec("UPDATE LEG SET FIX = NULL, FLIGHT_ID = ID / 10");
    Exec("UPDATE OR INSERT INTO F VALUES (2, 'B2')");
    Tr->Commit();
    TMasterDetail md{NewQuery("SELECT ID, CODE FROM F ORDER BY ID"), new TIB_DataSource(Owner),
                     NewQuery("SELECT ID, FLIGHT_ID, FIX FROM LEG ORDER BY ID")};
    TStringList keys;
    keys.SetText("ID");
    md.Master->SetKeyLinks(keys);
    md.Master->GetOrderingItems().SetText("By code=CODE;CODE DESC");
    md.Master->GetOrderingLinks().SetText(road.OrderingLinks);
    md.Master->SetOrderingItemNo(1);
    md.Source->SetDataset(md.Master);
    md.Detail->GetMasterLinks().SetText("LEG.FLIGHT_ID=F.ID");
    md.Detail->SetMasterSource(md.Source);
    md.Detail->SetRequestLive(true);
    md.Master->Open();
    md.Master->SetOrderingSearchText("");
    md.Detail->Open();
    md.Master->SetRowNum(2);
    bookmark2 = md.Master->GetBookmark();
    md.Master->SetRowNum(road.From);
    const int32_t leg = md.Detail->FieldByName("ID")->GetAsInteger();
    ASSERT_EQ(10 * road.From + 1, leg);
    md.Detail->Edit();
    md.Detail->FieldByName("FIX")->SetAsString("FIXED");
    road.Move(md.Master);
    EXPECT_EQ(road.To, md.Master->FieldByName("ID")->GetAsInteger());
    EXPECT_EQ(dssBrowse, md.Detail->GetState());
    EXPECT_EQ(10 * road.To + 1, md.Detail->FieldByName("ID")->GetAsInteger());
    Tr->Commit();
    EXPECT_EQ(std::to_string(leg) + ":" + std::to_string(road.From) + ":FIXED",
              ReadSecond("SELECT ID, FLIGHT_ID, FIX FROM LEG WHERE FIX IS NOT NULL", ":"));
    EXPECT_EQ("6", ReadSecond("SELECT COUNT(*) FROM LEG", ":"));
  }
}

// A control on the master hears the row-leave notice once for each move, whichever road moves it.
TEST_F(MasterDetailTest, EachMoveTellsTheLinksOnceThatTheRowIsLeft) {
  TIB_Query* q = NewQuery("SELECT ID, CODE FROM F ORDER BY ID");
  TStringList keys;
  keys.SetText("ID");
  q->SetKeyLinks(keys);
  q->SetRefreshAction(raOpen);
  auto* source = new TIB_DataSource(Owner);
  source->SetDataset(q);
  std::vector<std::string> log;
  auto* link = new linktest::LogLink(Owner, log, "L", {sleBeforeRowChange});
  link->SetDataSource(source);
  q->Open();
  q->SetRowNum(3);
  const std::string bookmark3 = q->GetBookmark();
  q->SetRowNum(1);
  const std::pair<const char*, std::function<void()>> moves[] = {
      {"SetRowNum", [&] { q->SetRowNum(2); }},
      {"Next", [&] { q->Next(); }},
      {"Prior", [&] { q->Prior(); }},
      {"MoveBy", [&] { q->MoveBy(2); }},
      {"First", [&] { q->First(); }},
      {"Last", [&] { q->Last(); }},
      {"SetBookmark", [&] { q->SetBookmark(bookmark3); }},
      {"Refresh", [&] { q->Refresh(); }},
  };
  for (const auto& [name, move] : moves) {
    SCOPED_TRACE(name);
    log.clear();
    move();
    EXPECT_EQ(1, std::count(log.begin(), log.end(), "L:14"));
  }
  delete link;
  delete source;
  delete q;
}

}  // namespace
