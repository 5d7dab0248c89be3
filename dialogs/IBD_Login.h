// The login dialog a connection shows before it attaches: database, user, password and role, with
// OK, Cancel and an optional Help button. The dialog owns its controls (Qt parent-child); the
// request it is filled from belongs to the caller. Use it on the thread of the QApplication.
#pragma once

#include <QDialog>

#include "platform/Dialogs.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TdlgLogin : public QDialog {
public:
  explicit TdlgLogin(QWidget* Parent = nullptr);

  bool GetDatabaseReadOnly() const { return FDatabaseReadOnly; }
  // Read-only shows the database edit in silver; editable in the window colour.
  void SetDatabaseReadOnly(bool Value);

  // Fills the controls from Request (caption when not empty, read-only database, texts, role choices,
  // the Help button when a help context is given).
  void Fill(const TLoginRequest& Request);
  // Writes the user's answers back: database, user, password and role.
  void ReadInto(TLoginRequest& Request) const;
  // Fills, runs modally and, on OK, reads back. The result is mrOk or mrCancel.
  TModalResult Execute(TLoginRequest& Request);

  int32_t GetHelpContext() const { return FHelpContext; }
  // Called with the help context when the user presses Help.
  std::function<void(int32_t HelpContext)> OnHelp;

  QFrame* Bevel1;
  QLabel* Image1;
  QLabel* lbDatabase;
  QLineEdit* edDatabase;
  QLabel* lbUser;
  QLineEdit* edUserName;
  QLabel* lbPassword;
  QLineEdit* edPassword;
  QLabel* lbSQLRole;
  QComboBox* cbSQLRole;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QPushButton* HelpBtn;

protected:
  void showEvent(QShowEvent* Event) override;

private:
  bool FDatabaseReadOnly = false;
  int32_t FHelpContext = 0;
};
