#include "platform/Dialogs.h"

#include <gtest/gtest.h>

namespace {

TEST(Dialogs, HeadlessConfirmationTakesTheDefaultButton) {
  EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, {mbYes, mbNo, mbCancel}, 0), mrYes);
  EXPECT_EQ(MessageDlg("Delete?", mtWarning, {mbOK, mbCancel}, 0), mrOk);
  EXPECT_EQ(MessageDlg("Again?", mtError, {mbAbort, mbRetry, mbIgnore}, 0), mrRetry);
  EXPECT_EQ(MessageDlg("Sure?", mtConfirmation, {mbNo, mbCancel}, 0), mrNo);
  EXPECT_EQ(MessageDlg("Sure?", mtConfirmation, {mbYes, mbNo}, 0, mbNo), mrNo);
  // A default that is not one of the buttons falls back to the classic one.
  EXPECT_EQ(MessageDlg("Sure?", mtConfirmation, {mbYes, mbNo}, 0, mbCancel), mrYes);
  EXPECT_EQ(ModalResultOf(mbHelp), mrNone);
}

TEST(Dialogs, HeadlessMessagesAndErrorsGoToStderr) {
  testing::internal::CaptureStderr();
  ShowMessage("Records counted: 3");
  Dialogs().ShowError("Error Dialog", "lock conflict");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Records counted: 3\nError Dialog: lock conflict\n");
}

// An application's dialogs: answers scripted by the test.
class ScriptedDialogs : public TDialogs {
public:
  TModalResult Login(TLoginRequest& R) override {
    R.Username = "ALICE";
    R.Password = "pw";
    return mrOk;
  }
  TModalResult MessageDlg(const std::string& Msg, TMsgDlgType, const TMsgDlgButtons&, int32_t, TMsgDlgBtn) override {
    LastMessage = Msg;
    return mrCancel;
  }
  void CancelQueryShow(const TCancelQueryInfo& Info) override {
    LastRow = Info.RowNum;
    if (Info.RowNum >= 100 && Info.AbortFetching) Info.AbortFetching();
  }
  std::string LastMessage;
  int LastRow = 0;
};

TEST(Dialogs, TheApplicationReplacesTheDialogs) {
  ScriptedDialogs mine;
  TDialogs* old = SetDialogs(&mine);
  TLoginRequest r;
  EXPECT_EQ(Dialogs().Login(r), mrOk);
  EXPECT_EQ(r.Username, "ALICE");
  EXPECT_EQ(MessageDlg("Are you sure you want to abort?", mtConfirmation, {mbOK, mbCancel}, 0), mrCancel);
  EXPECT_EQ(mine.LastMessage, "Are you sure you want to abort?");
  bool aborted = false;
  Dialogs().CancelQueryShow({"Fetching", 100, [&] { aborted = true; }});
  EXPECT_TRUE(aborted);
  EXPECT_EQ(SetDialogs(nullptr), &mine);  // nullptr puts the headless ones back
  EXPECT_EQ(SetDialogs(old), old);
  EXPECT_EQ(Dialogs().Login(r), mrCancel);
}

}  // namespace
