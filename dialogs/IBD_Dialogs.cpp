#include "dialogs/IBD_Dialogs.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "dialogs/IBD_Common.h"
#include "dialogs/IBD_Error.h"
#include "dialogs/IBD_Login.h"
#include "platform/Forms.h"

namespace {

QPointer<TdlgCancelQuery>* gCancelQueryToDelete = nullptr;

// Runs from the QApplication's destructor, while widgets may still be deleted.
void DeleteCancelQueryWindow() {
  if (gCancelQueryToDelete) delete gCancelQueryToDelete->data();
}

QMessageBox::StandardButton StandardButtonOf(TMsgDlgBtn Button) {
  switch (Button) {
    case mbYes: return QMessageBox::Yes;
    case mbNo: return QMessageBox::No;
    case mbOK: return QMessageBox::Ok;
    case mbCancel: return QMessageBox::Cancel;
    case mbAbort: return QMessageBox::Abort;
    case mbRetry: return QMessageBox::Retry;
    case mbIgnore: return QMessageBox::Ignore;
    case mbAll: return QMessageBox::YesAll;  // Qt has no plain "All"; its closest is "Yes to All"
    case mbNoToAll: return QMessageBox::NoToAll;
    case mbYesToAll: return QMessageBox::YesToAll;
    case mbHelp: return QMessageBox::Help;
  }
  return QMessageBox::NoButton;
}

QString CaptionOf(TMsgDlgType DlgType) {
  switch (DlgType) {
    case mtWarning: return "Warning";
    case mtError: return "Error";
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    case mtCustom: break;
  }
  return IBD_ToQString(Application ? Application->GetTitle() : std::string());
}

QMessageBox::Icon IconOf(TMsgDlgType DlgType) {
  switch (DlgType) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

TQtDialogs::~TQtDialogs() {
  if (gCancelQueryToDelete == &FCancelQuery) gCancelQueryToDelete = nullptr;
}

TModalResult TQtDialogs::Login(TLoginRequest& Request) {
  if (!IBD_CanShowWidgets()) return TDialogs::Login(Request);
  TdlgLogin dialog;
  dialog.OnHelp = OnHelp;
  return dialog.Execute(Request);
}

TModalResult TQtDialogs::MessageDlg(const std::string& Msg, TMsgDlgType DlgType, const TMsgDlgButtons& Buttons,
                                    int32_t HelpCtx, TMsgDlgBtn DefaultButton) {
  if (!IBD_CanShowWidgets()) return TDialogs::MessageDlg(Msg, DlgType, Buttons, HelpCtx, DefaultButton);
  QMessageBox box(IconOf(DlgType), CaptionOf(DlgType), IBD_ToQString(Msg));
  for (int b = mbYes; b <= mbHelp; ++b)
    if (Buttons.Contains(static_cast<TMsgDlgBtn>(b))) box.addButton(StandardButtonOf(static_cast<TMsgDlgBtn>(b)));
  if (Buttons.Empty()) box.addButton(QMessageBox::Ok);
  const TMsgDlgBtn chosenDefault = Buttons.Contains(DefaultButton) ? DefaultButton : DefaultButtonOf(Buttons);
  box.setDefaultButton(StandardButtonOf(chosenDefault));
  for (TMsgDlgBtn escape : {mbCancel, mbNo, mbOK})  // what Escape answers, as the classic boxes do
    if (Buttons.Contains(escape)) {
      box.setEscapeButton(StandardButtonOf(escape));
      break;
    }
  box.exec();
  const auto clicked = box.standardButton(box.clickedButton());
  for (int b = mbYes; b <= mbHelp; ++b)
    if (Buttons.Contains(static_cast<TMsgDlgBtn>(b)) && StandardButtonOf(static_cast<TMsgDlgBtn>(b)) == clicked)
      return ModalResultOf(static_cast<TMsgDlgBtn>(b));
  return clicked == QMessageBox::Ok ? mrOk : mrCancel;
}

void TQtDialogs::ShowMessage(const std::string& Msg) {
  if (!IBD_CanShowWidgets()) return TDialogs::ShowMessage(Msg);
  QMessageBox box(QMessageBox::NoIcon, CaptionOf(mtCustom), IBD_ToQString(Msg), QMessageBox::Ok);
  box.exec();
}

void TQtDialogs::ShowError(const std::string& Caption, const std::string& Text) { ShowErrorDialog(Caption, Text); }

void TQtDialogs::CancelQueryShow(const TCancelQueryInfo& Info) {
  if (!IBD_CanShowWidgets()) return TDialogs::CancelQueryShow(Info);
  if (!FCancelQuery) {
    FCancelQuery = new TdlgCancelQuery;
    qRemovePostRoutine(DeleteCancelQueryWindow);
    qAddPostRoutine(DeleteCancelQueryWindow);
    gCancelQueryToDelete = &FCancelQuery;
  }
  FCancelQuery->Watch(Info);
  QCoreApplication::processEvents();
}

void TQtDialogs::CancelQueryHide() {
  if (!IBD_CanShowWidgets()) return TDialogs::CancelQueryHide();
  if (FCancelQuery) FCancelQuery->Unwatch();
}

TQtDialogs& QtDialogs() {
  static TQtDialogs dialogs;
  return dialogs;
}

TDialogs* InstallQtDialogs() { return SetDialogs(&QtDialogs()); }
