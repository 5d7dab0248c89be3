#include "dialogs/IBD_CancelQuery.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include "dataset/DatasetTestSupport.h"
#include "dialogs/DialogsTestSupport.h"
#include "dialogs/IBD_Dialogs.h"

namespace {

using datasettest::TestClock;

TEST(CancelQueryWindow, ControlsSitWhereTheFormPlacesThemWithTheLibrarysTexts) {
  TdlgCancelQuery dlg;
  EXPECT_EQ(QSize(313, 135), dlg.size());
  dialogstest::ExpectPlaced(&dlg, {{"Bevel1", 8, 8, 297, 81},
                                   {"lbFetchingMessage", 58, 22, 197, 24},
                                   {"lbRowNum", 56, 56, 201, 20},
                                   {"CancelBtn", 119, 100, 75, 25}});
  EXPECT_EQ("Fetching Query Results", dlg.lbFetchingMessage->text());
  EXPECT_GE(21, dlg.lbFetchingMessage->font().pixelSize());
  EXPECT_GE(dlg.lbFetchingMessage->width(),
            dlg.lbFetchingMessage->fontMetrics().horizontalAdvance("Fetching Query Results"));
  EXPECT_EQ(Qt::AlignCenter, dlg.lbRowNum->alignment());
  EXPECT_EQ("Abort", dlg.CancelBtn->text());
  EXPECT_EQ(Qt::ArrowCursor, dlg.CancelBtn->cursor().shape());
  // Without a watched fetch the button does nothing.
  dlg.show();
  dlg.CancelBtn->click();
  EXPECT_TRUE(dlg.isVisible());
}

// A long fetch with the Qt dialogs: the user asks to abort it from the window and answers the question.
class CancelQueryFetch : public datasettest::DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Fill(30);
    FPrevious = InstallQtDialogs();
  }
  void TearDown() override {
    SetDialogs(FPrevious);
    DatasetDbTest::TearDown();
  }

private:
  TDialogs* FPrevious = nullptr;
};

TEST_F(CancelQueryFetch, TheUserAbortsTheFetchOnlyWhenConfirming) {
  struct Case {
    bool Escape;  // else the Abort button
    QMessageBox::StandardButton Answer;
    int32_t RowNum;  // where the fetch stops
  } cases[] = {{false, QMessageBox::Ok, 10}, {true, QMessageBox::Ok, 10}, {false, QMessageBox::Cancel, 30}};
  TestClock clock(1000, 1);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.Escape << " " << k.Answer);
    TIB_Cursor* c = NewCursor();
    c->SetCallbackInitInt(0);
    c->SetCallbackRefreshInt(0);
    c->SetCallbackCaption("Loading flights");
    QString asked;
    QTimer user;  // the user, looking at the window while the rows come in
    QObject::connect(&user, &QTimer::timeout, [&] {
      TdlgCancelQuery* w = QtDialogs().CancelQueryWindow();
      if (!w || !w->isVisible() || w->lbRowNum->text() != "Row# 10") return;
      user.stop();
      EXPECT_EQ("Loading flights", w->windowTitle());
      dialogstest::WhenModal([&](QWidget* box) {
        asked = static_cast<QMessageBox*>(box)->text();
        static_cast<QMessageBox*>(box)->button(k.Answer)->click();
      });
      if (k.Escape)
        QTest::keyClick(w, Qt::Key_Escape);
      else
        QTest::mouseClick(w->CancelBtn, Qt::LeftButton);
    });
    user.start(0);
    std::vector<int32_t> hiddenRows;
    c->AfterFetchRow = [&](TIB_Dataset* D) {
      TdlgCancelQuery* w = QtDialogs().CancelQueryWindow();
      if (w && !w->isVisible() && D->GetRowNum() > 5) hiddenRows.push_back(D->GetRowNum());
    };
    c->FetchAll();
    EXPECT_EQ("Are you sure you want to abort?", asked);
    EXPECT_EQ(k.RowNum, c->GetRowNum());
    EXPECT_EQ(k.RowNum == 30, c->GetEof());
    // After a declined question the window stays hidden until the dataset shows the next row number
    // (row 15's own handler runs just before).
    if (k.Answer == QMessageBox::Cancel) {
      EXPECT_EQ((std::vector<int32_t>{11, 12, 13, 14, 15}), hiddenRows);
    }
    EXPECT_FALSE(QtDialogs().CancelQueryWindow()->isVisible());
    EXPECT_FALSE(QtDialogs().CancelQueryWindow()->Watching());
    delete c;
  }
}

}  // namespace
