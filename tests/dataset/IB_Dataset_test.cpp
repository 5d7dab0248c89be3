#include <gtest/gtest.h>

#include <vector>

#include "DatasetTestSupport.h"

namespace {

using datasettest::DatasetDbTest;

// A data source as the dataset sees it: counts what it is told.
struct CountingSource : TIB_DatasetSourceIntf {
  std::vector<TIB_DatasetState> States;
  int Destroying = 0;
  void DatasetStateChanged(TIB_Dataset* D) override { States.push_back(D->GetState()); }
  void DatasetDestroying(TIB_Dataset* D) override {
    ++Destroying;
    D->DetachDataSource(this);
  }
};

using DatasetTest = DatasetDbTest;

TEST_F(DatasetTest, AttachedDataSourcesFollowTheStateAndTheDatasetsEnd) {
  Fill(2);
  TIB_Cursor* c = NewCursor();
  CountingSource a, b;
  c->AttachDataSource(&a);
  c->AttachDataSource(&b);
  c->AttachDataSource(&a);
  EXPECT_EQ(2, c->Get_DataSourceCount());
  EXPECT_EQ(&b, c->GetDataSource(1));
  EXPECT_EQ(nullptr, c->GetDataSource(2));
  c->Open();  // opened, then it holds a row
  c->Close();
  c->Unprepare();
  EXPECT_EQ((std::vector<TIB_DatasetState>{dssPrepared, dssBrowse, dssBrowse, dssPrepared, dssInactive}), a.States);
  c->DetachDataSource(&b);
  delete c;
  EXPECT_EQ(1, a.Destroying);
  EXPECT_EQ(0, b.Destroying);
}

TEST_F(DatasetTest, NumberedNotificationsFireTheirEvents) {
  TIB_Cursor* c = NewCursor();
  std::vector<int> fired;
  struct {
    int32_t Code;
    TIB_DatasetEvent TIB_Dataset::*Event;
  } cases[] = {{dnBeforeOpen, &TIB_Dataset::BeforeOpen},     {dnAfterClose, &TIB_Dataset::AfterClose},
               {dnBeforeEdit, &TIB_Dataset::BeforeEdit},     {dnAfterDelete, &TIB_Dataset::AfterDelete},
               {dnBeforeDelete, &TIB_Dataset::BeforeDelete}, {dnAfterCancel, &TIB_Dataset::AfterCancel},
               {dnNewRecord, &TIB_Dataset::OnNewRecord},     {dnOrderingChanged, &TIB_Dataset::OnOrderingChanged}};
  for (const auto& k : cases) {
    c->*k.Event = [&fired, code = k.Code](TIB_Dataset*) { fired.push_back(code); };
    c->Perform(k.Code);
  }
  ASSERT_EQ(std::size(cases), fired.size());
  for (size_t i = 0; i < fired.size(); ++i) EXPECT_EQ(cases[i].Code, fired[i]);
}

TEST_F(DatasetTest, ReadOnlyFollowsTheTransactionAndCustomDMLTheUpdateStatements) {
  TIB_Cursor* c = NewCursor();
  EXPECT_FALSE(c->GetReadOnly());
  Tr->SetReadOnly(true);
  EXPECT_TRUE(c->GetReadOnly());
  c->GetEditSQL().SetText("UPDATE T SET NAME = :NAME WHERE ID = :OLD_ID");
  EXPECT_TRUE(c->HasCustomDML(0));
  EXPECT_FALSE(c->HasCustomDML(2));
}

TEST_F(DatasetTest, ATransactionCommitClosesItsCursors) {
  Fill(3);
  TIB_Cursor* c = NewCursor();
  c->Open();
  EXPECT_EQ(1, Tr->GetOpenCursorCount());
  Tr->Commit();
  EXPECT_FALSE(c->GetActive());
  EXPECT_EQ(0, Tr->GetOpenCursorCount());
  c->Open();
  EXPECT_EQ(3, Walk(c));
  // The transaction may go first: the cursor forgets it and closes without it.
  c->First();
  delete Tr;
  Tr = nullptr;
  c->Close();
  EXPECT_FALSE(c->GetCursorIsOpen());
  delete c;
}

TEST_F(DatasetTest, ActiveSetWhileLoadingOpensWhenLoadingEnds) {
  Fill(2);
  TIB_Cursor* c = NewCursor();
  c->BeginLoading();
  c->SetActive(true);
  EXPECT_FALSE(c->GetActive());
  c->EndLoading();
  EXPECT_TRUE(c->GetActive());
  EXPECT_EQ(1, c->GetRowNum());
}

}  // namespace
