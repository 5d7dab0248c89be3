// The dialogs the library may show, behind one interface the application replaces with its own
// windows. The built-in implementation is headless and never blocks: a login is cancelled, a
// confirmation takes its default button, messages and errors go to stderr.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// Results of modal dialogs.
using TModalResult = int32_t;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;
inline constexpr TModalResult mrAll = 8;
inline constexpr TModalResult mrNoToAll = 9;
inline constexpr TModalResult mrYesToAll = 10;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };

// A set of message-box buttons.
class TMsgDlgButtons {
public:
  TMsgDlgButtons() = default;
  TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> Buttons) {
    for (TMsgDlgBtn b : Buttons) FBits |= 1u << b;
  }
  bool Contains(TMsgDlgBtn B) const { return (FBits >> B) & 1u; }
  bool Empty() const { return FBits == 0; }

private:
  uint32_t FBits = 0;
};

// The modal result a button closes its box with (mbHelp: mrNone).
TModalResult ModalResultOf(TMsgDlgBtn Button);
// The classic default button of a set: OK, else Yes, else Retry, else the first one present.
TMsgDlgBtn DefaultButtonOf(const TMsgDlgButtons& Buttons);

// What a login dialog is filled with and gives back.
struct TLoginRequest {
  std::string Caption;
  std::string Database;
  bool DatabaseReadOnly = false;
  std::string Username;
  std::string Password;
  std::string SQLRole;
  std::vector<std::string> SQLRoleList;
  int32_t HelpContext = 0;
};

// The watched fetch of a cancel-query window.
struct TCancelQueryInfo {
  std::string Caption;
  int32_t RowNum = 0;
  std::function<void()> AbortFetching;  // ends the fetch when the user confirms the abort
};

// The dialog interface. Each operation runs on the calling thread.
class TDialogs {
public:
  virtual ~TDialogs() = default;

  // Shows the login with Request's values; on mrOk the dialog has written the user's answers back.
  virtual TModalResult Login(TLoginRequest& Request);
  // A message box; the result is the modal result of the button chosen.
  virtual TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, const TMsgDlgButtons& Buttons,
                                  int32_t HelpCtx, TMsgDlgBtn DefaultButton);
  virtual void ShowMessage(const std::string& Msg);
  // An error report with a caption and its full text.
  virtual void ShowError(const std::string& Caption, const std::string& Text);
  // The floating window shown while a long fetch runs; Show is called again with each new row number.
  virtual void CancelQueryShow(const TCancelQueryInfo& Info);
  virtual void CancelQueryHide();
};

// The dialogs in use (the headless ones until the application installs its own).
TDialogs& Dialogs();
// Installs Value (not owned; nullptr restores the headless dialogs) and gives back the previous one.
TDialogs* SetDialogs(TDialogs* Value);

// Shortcuts to the dialogs in use. The default button is the classic one of the set.
TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, const TMsgDlgButtons& Buttons, int32_t HelpCtx);
TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, const TMsgDlgButtons& Buttons, int32_t HelpCtx,
                        TMsgDlgBtn DefaultButton);
void ShowMessage(const std::string& Msg);
