#include "platform/Dialogs.h"

#include <atomic>
#include <cstdio>

TModalResult ModalResultOf(TMsgDlgBtn Button) {
  switch (Button) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
    case mbAll: return mrAll;
    case mbNoToAll: return mrNoToAll;
    case mbYesToAll: return mrYesToAll;
    case mbHelp: return mrNone;
  }
  return mrNone;
}

TMsgDlgBtn DefaultButtonOf(const TMsgDlgButtons& Buttons) {
  for (TMsgDlgBtn b : {mbOK, mbYes, mbRetry})
    if (Buttons.Contains(b)) return b;
  for (int b = mbYes; b <= mbHelp; ++b)
    if (Buttons.Contains(static_cast<TMsgDlgBtn>(b))) return static_cast<TMsgDlgBtn>(b);
  return mbOK;  // a box without buttons still closes with OK
}

TModalResult TDialogs::Login(TLoginRequest&) { return mrCancel; }

TModalResult TDialogs::MessageDlg(const std::string&, TMsgDlgType, const TMsgDlgButtons& Buttons, int32_t,
                                  TMsgDlgBtn DefaultButton) {
  // Nobody can answer: the box closes with its default button, when that is one of its buttons.
  TMsgDlgBtn b = Buttons.Contains(DefaultButton) ? DefaultButton : DefaultButtonOf(Buttons);
  return ModalResultOf(b);
}

void TDialogs::ShowMessage(const std::string& Msg) { std::fprintf(stderr, "%s\n", Msg.c_str()); }

void TDialogs::ShowError(const std::string& Caption, const std::string& Text) {
  if (Caption.empty())
    std::fprintf(stderr, "%s\n", Text.c_str());
  else
    std::fprintf(stderr, "%s: %s\n", Caption.c_str(), Text.c_str());
}

void TDialogs::CancelQueryShow(const TCancelQueryInfo&) {}
void TDialogs::CancelQueryHide() {}

namespace {
TDialogs gHeadless;
std::atomic<TDialogs*> gDialogs{&gHeadless};
}  // namespace

TDialogs& Dialogs() { return *gDialogs.load(); }

TDialogs* SetDialogs(TDialogs* Value) { return gDialogs.exchange(Value ? Value : &gHeadless); }

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, const TMsgDlgButtons& Buttons, int32_t HelpCtx) {
  return Dialogs().MessageDlg(Msg, DlgType, Buttons, HelpCtx, DefaultButtonOf(Buttons));
}

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, const TMsgDlgButtons& Buttons, int32_t HelpCtx,
                        TMsgDlgBtn DefaultButton) {
  return Dialogs().MessageDlg(Msg, DlgType, Buttons, HelpCtx, DefaultButton);
}

void ShowMessage(const std::string& Msg) { Dialogs().ShowMessage(Msg); }
