#include "dialogs/IBD_Login.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOption>
#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "dblib/IB_Connection.h"
#include "dialogs/DialogsTestSupport.h"
#include "dialogs/IBD_Dialogs.h"
#include "platform/Forms.h"
#include "support/TestSupport.h"

namespace {

using dialogstest::WhenModal;

TEST(LoginDialog, ControlsSitWhereTheFormPlacesThemWithTheLibrarysTexts) {
  Application->SetTitle("  Planner ");
  TdlgLogin dlg;
  EXPECT_EQ(QSize(472, 151), dlg.size());
  EXPECT_EQ("Planner Login Dialog", dlg.windowTitle());
  dialogstest::ExpectPlaced(&dlg, {{"Bevel1", 11, 11, 116, 116},
                                   {"Image1", 16, 16, 105, 105},
                                   {"lbDatabase", 138, 15, -1, 0},
                                   {"edDatabase", 197, 11, 268, 21},
                                   {"lbUser", 138, 43, -1, 0},
                                   {"edUserName", 197, 38, 172, 21},
                                   {"lbPassword", 138, 69, -1, 0},
                                   {"edPassword", 197, 65, 172, 21},
                                   {"lbSQLRole", 138, 96, -1, 0},
                                   {"cbSQLRole", 197, 92, 172, 21},
                                   {"OKBtn", 197, 120, 75, 25},
                                   {"CancelBtn", 294, 120, 75, 25},
                                   {"HelpBtn", 390, 120, 75, 25}});
  EXPECT_EQ((QStringList{"Database", "User", "Password", "SQL Role", "OK", "Cancel", "&Help"}),
            (QStringList{dlg.lbDatabase->text(), dlg.lbUser->text(), dlg.lbPassword->text(), dlg.lbSQLRole->text(),
                         dlg.OKBtn->text(), dlg.CancelBtn->text(), dlg.HelpBtn->text()}));
  // Tab goes from the password to the role, the buttons, the database and the user, and round again.
  QStringList order;
  for (QWidget* w = dlg.edPassword; order.size() < 8; w = w->nextInFocusChain())
    if (w->parentWidget() == &dlg && w->focusPolicy() & Qt::TabFocus) order << w->objectName();
  EXPECT_EQ((QStringList{"edPassword", "cbSQLRole", "OKBtn", "CancelBtn", "HelpBtn", "edDatabase", "edUserName",
                         "edPassword"}),
            order);
  QStyleOptionFrame option;
  option.initFrom(dlg.edPassword);
  EXPECT_EQ('*', dlg.edPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &option, dlg.edPassword));
  // A read-only database shows in silver, an editable one in the window colour again.
  const QColor window = dlg.edDatabase->palette().color(QPalette::Base);
  for (bool readOnly : {true, false}) {
    dlg.SetDatabaseReadOnly(readOnly);
    EXPECT_EQ(readOnly, dlg.edDatabase->isReadOnly());
    EXPECT_EQ(readOnly ? QColor(0xC0, 0xC0, 0xC0) : window, dlg.edDatabase->palette().color(QPalette::Base));
  }
}

// The user types into the login that the Qt dialogs show and presses a button.
TEST(LoginDialog, TheUsersAnswersGoBackOnlyWithOK) {
  struct Case {
    const char* User;  // the request's user name
    const char* Button;
    TModalResult Result;
    const char* Username;  // what the request holds afterwards
    const char* Role;
  } cases[] = {{"", "OKBtn", mrOk, "ALICE", "AUDITOR"},
               {"", "CancelBtn", mrCancel, "", "CLERK"},
               {"bob", "OKBtn", mrOk, "BOBALICE", "AUDITOR"}};
  TQtDialogs dialogs;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Button);
    TLoginRequest r{
        "Flights Login Dialog", "server:/data/nav.fdb", true, k.User, "", "CLERK", {"CLERK", "AUDITOR"}, 12};
    int32_t helpAsked = 0;
    dialogs.OnHelp = [&](int32_t Context) { helpAsked = Context; };
    WhenModal([&](QWidget* w) {
      auto* dlg = static_cast<TdlgLogin*>(w);
      EXPECT_EQ("Flights Login Dialog", dlg->windowTitle());
      EXPECT_EQ(*k.User ? dlg->edPassword : dlg->edUserName, dlg->focusWidget());
      EXPECT_TRUE(dlg->edDatabase->isReadOnly());
      QTest::mouseClick(dlg->HelpBtn, Qt::LeftButton);
      QTest::keyClicks(dlg->edUserName, "alice");
      QTest::keyClicks(dlg->edPassword, "s3cret");
      dlg->cbSQLRole->setCurrentIndex(1);
      QTest::mouseClick(dlg->findChild<QPushButton*>(k.Button), Qt::LeftButton);
    });
    EXPECT_EQ(k.Result, dialogs.Login(r));
    EXPECT_EQ(12, helpAsked);
    EXPECT_EQ(*k.User && k.Result != mrOk ? k.User : k.Username, r.Username);
    EXPECT_EQ(k.Role, r.SQLRole);
    EXPECT_EQ(k.Result == mrOk ? "s3cret" : "", r.Password);
    EXPECT_EQ("server:/data/nav.fdb", r.Database);
  }
}

// A connection with LoginPrompt logs in through the dialog at the private loopback server: a wrong
// password is reported and the dialog comes again.
TEST(LoginDialog, AConnectionLogsInThroughTheDialog) {
  const char* port = std::getenv("DBLIB_FBSERVER_PORT");
  const char* user = std::getenv("DBLIB_FBSERVER_USER");
  const char* password = std::getenv("DBLIB_FBSERVER_PASSWORD");
  if (!port || !user || !password) GTEST_SKIP() << "no private Firebird server (run through scripts/test.sh)";
  testsupport::TempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);  // the server writes the file
  std::unique_ptr<TComponent> form(new TComponent(nullptr));
  auto* db = new TIB_Connection(form.get());
  db->SetDatabaseName(std::string("localhost/") + port + ":" + dir.File("login.fdb"));
  db->SetUsername(user);
  db->SetPassword(password);
  db->CreateDatabase();
  db->Disconnect();
  db->SetUsername("");
  db->SetPassword("");
  db->SetLoginPrompt(true);
  TDialogs* previous = InstallQtDialogs();
  testsupport::ExceptionSink sink;
  int shown = 0;
  std::function<void(QWidget*)> answer = [&](QWidget* w) {
    auto* dlg = static_cast<TdlgLogin*>(w);
    EXPECT_EQ(QString::fromStdString(db->GetDatabaseName()), dlg->edDatabase->text());
    dlg->edUserName->clear();
    QTest::keyClicks(dlg->edUserName, QString(user).toLower());
    dlg->edPassword->clear();
    QTest::keyClicks(dlg->edPassword, ++shown == 1 ? "wrong" : password);
    if (shown == 1) WhenModal(answer);
    QTest::mouseClick(dlg->OKBtn, Qt::LeftButton);
  };
  WhenModal(answer);
  db->Connect();
  SetDialogs(previous);
  EXPECT_TRUE(db->GetConnected());
  EXPECT_EQ(2, shown);
  EXPECT_EQ(user, db->GetUsername());
  ASSERT_EQ(1u, sink.Messages.size());
  EXPECT_NE(std::string::npos, sink.Messages[0].find("Your user name and password are not defined"));
  db->DropDatabase();
}

}  // namespace
