#include "dialogs/IBD_Dialogs.h"

#include <QMessageBox>
#include <QPushButton>
#include <QtTest/QTest>
#include <thread>

#include "dialogs/DialogsTestSupport.h"

namespace {

// What a message box answers for the key or button the user presses.
TEST(QtDialogs, AMessageBoxAnswersWithTheButtonChosen) {
  struct Case {
    TMsgDlgButtons Buttons;
    TMsgDlgBtn Default;
    Qt::Key Key;  // Qt::Key_unknown: click Click
    QMessageBox::StandardButton Click;
    TModalResult Result;
  } cases[] = {
      {{mbYes, mbNo, mbCancel}, mbYes, Qt::Key_unknown, QMessageBox::No, mrNo},
      {{mbYes, mbNo, mbCancel}, mbYes, Qt::Key_Escape, QMessageBox::NoButton, mrCancel},
      {{mbYes, mbNo}, mbYes, Qt::Key_Escape, QMessageBox::NoButton, mrNo},
      {{mbAbort, mbRetry, mbIgnore}, mbIgnore, Qt::Key_Return, QMessageBox::NoButton, mrIgnore},
      {{mbOK, mbCancel}, mbHelp, Qt::Key_Return, QMessageBox::NoButton, mrOk},  // not one of its buttons
  };
  TQtDialogs dialogs;
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.Key << " " << k.Click);
    dialogstest::WhenModal([&](QWidget* w) {
      auto* box = static_cast<QMessageBox*>(w);
      EXPECT_EQ("Save changes?", box->text());
      if (k.Key == Qt::Key_unknown)
        box->button(k.Click)->click();
      else
        QTest::keyClick(box, k.Key);
    });
    EXPECT_EQ(k.Result, dialogs.MessageDlg("Save changes?", mtConfirmation, k.Buttons, 0, k.Default));
  }
}

// Widgets live on the QApplication's thread only: elsewhere the answers are the headless ones.
TEST(QtDialogs, OffTheWidgetThreadTheyGiveTheHeadlessAnswers) {
  TQtDialogs dialogs;
  TLoginRequest r;
  TModalResult login = mrNone, box = mrNone;
  testing::internal::CaptureStderr();
  std::thread([&] {
    login = dialogs.Login(r);
    box = dialogs.MessageDlg("Sure?", mtConfirmation, {mbYes, mbNo}, 0, mbNo);
    dialogs.ShowError("Error Dialog", "lock conflict");
  }).join();
  EXPECT_EQ("Error Dialog: lock conflict\n", testing::internal::GetCapturedStderr());
  EXPECT_EQ(mrCancel, login);
  EXPECT_EQ(mrNo, box);
}

}  // namespace
