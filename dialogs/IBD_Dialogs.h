// The library's dialogs as Qt 5 Widgets windows behind the replaceable dialog interface of
// platform/Dialogs.h: the login dialog, the cancel-query window, the error dialog, and message boxes.
// Each operation needs the QApplication's thread; called without a QApplication or from another
// thread it gives the headless answer instead (a login cancels, a box takes its default button).
#pragma once

#include <QPointer>
#include <functional>

#include "dialogs/IBD_CancelQuery.h"
#include "platform/Dialogs.h"

class TQtDialogs : public TDialogs {
public:
  ~TQtDialogs() override;

  TModalResult Login(TLoginRequest& Request) override;
  TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, const TMsgDlgButtons& Buttons, int32_t HelpCtx,
                          TMsgDlgBtn DefaultButton) override;
  void ShowMessage(const std::string& Msg) override;
  void ShowError(const std::string& Caption, const std::string& Text) override;
  // Shows (making it on first use) the floating cancel-query window with the new row number and lets
  // Qt handle what the user did, so that a click on Abort is seen while the fetch runs.
  void CancelQueryShow(const TCancelQueryInfo& Info) override;
  void CancelQueryHide() override;

  // The cancel-query window while one exists (it lives until the QApplication goes).
  TdlgCancelQuery* CancelQueryWindow() const { return FCancelQuery.data(); }
  // Called with the help context when the user presses Help in the login dialog.
  std::function<void(int32_t HelpContext)> OnHelp;

private:
  QPointer<TdlgCancelQuery> FCancelQuery;
};

// The Qt dialogs of the process (one object, made on first use).
TQtDialogs& QtDialogs();
// Installs the Qt dialogs as the dialogs in use and gives back the previous ones (SetDialogs puts
// them back).
TDialogs* InstallQtDialogs();
