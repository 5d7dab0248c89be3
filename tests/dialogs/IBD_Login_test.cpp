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
#include <thread>

#include "dblib/IB_Connection.h"
#include "dialogs/DialogsTestSupport.h"
#include "dialogs/IBD_Dialogs.h"
#include "platform/Forms.h"
#include "support/TestSupport.h"

namespace {

using dialogstest::Placed;
using dialogstest::WhenModal;

TEST(LoginDialog, ControlsSitWhereTheFormPlacesThemWithTheLibrarysTexts) {
  Application->SetTitle("  Planner ");
  TdlgLogin dlg;
  EXPECT_EQ(QSize(472, 151), dlg.size());
  EXPECT_EQ("Planner Login Dialog", dlg.windowTitle());
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
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
  EXPECT_TRUE(dlg.HelpBtn->isHidden());
  // Tab goes from the password to the role, the buttons, the database and the user, and round again.
  QStringList order;
  for (QWidget* w = dlg.edPassword; order.size() < 8; w = w->nextInFocusChain())
    if (w->parentWidget() == &dlg && w->focusPolicy() & Qt::TabFocus) order << w->objectName();
  EXPECT_EQ((QStringList{"edPassword", "cbSQLRole", "OKBtn", "CancelBtn", "HelpBtn", "edDatabase", "edUserName",
                         "edPassword"}),
            order);
  // The password shows as stars.
  QStyleOptionFrame option;
  option.initFrom(dlg.edPassword);
  EXPECT_EQ('*', dlg.edPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &option, dlg.edPassword));
}

TEST(LoginDialog, ReadOnlyDatabaseShowsInSilverAndGoesBackToTheWindowColour) {
  TdlgLogin dlg;
  const QColor window = dlg.edDatabase->palette().color(QPalette::Base);
  dlg.SetDatabaseReadOnly(true);
  EXPECT_TRUE(dlg.edDatabase->isReadOnly());
  EXPECT_EQ(QColor(0xC0, 0xC0, 0xC0), dlg.edDatabase->palette().color(QPalette::Base));
  dlg.SetDatabaseReadOnly(false);
  EXPECT_FALSE(dlg.edDatabase->isReadOnly());
  EXPECT_EQ(window, dlg.edDatabase->palette().color(QPalette::Base));
}

// The user types into the dialog that the Qt dialogs show for a login, and presses a button.
TEST(LoginDialog, TheUsersAnswersGoBackOnlyWithOK) {
  struct Case {
    const char* Button;
    TModalResult Result;
    const char* Username;  // what the request holds afterwards
    const char* Role;
  } cases[] = {{"OKBtn", mrOk, "ALICE", "AUDITOR"}, {"CancelBtn", mrCancel, "", "CLERK"}};
  TQtDialogs dialogs;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Button);
    TLoginRequest r;
    r.Caption = "Flights Login Dialog";
    r.Database = "server:/data/nav.fdb";
    r.DatabaseReadOnly = true;
    r.SQLRole = "CLERK";
    r.SQLRoleList = {"CLERK", "AUDITOR"};
    r.HelpContext = 12;
    int32_t helpAsked = 0;
    dialogs.OnHelp = [&](int32_t Context) { helpAsked = Context; };
    WhenModal([&](QWidget* w) {
      auto* dlg = static_cast<TdlgLogin*>(w);
      EXPECT_EQ("Flights Login Dialog", dlg->windowTitle());
      EXPECT_EQ(dlg->edUserName, dlg->focusWidget());  // no user name yet
      EXPECT_TRUE(dlg->edDatabase->isReadOnly());
      EXPECT_EQ(2, dlg->cbSQLRole->count());
      QTest::mouseClick(dlg->HelpBtn, Qt::LeftButton);
      QTest::keyClicks(dlg->edUserName, "alice");
      QTest::keyClicks(dlg->edPassword, "s3cret");
      dlg->cbSQLRole->setCurrentIndex(1);
      QTest::mouseClick(dlg->findChild<QPushButton*>(k.Button), Qt::LeftButton);
    });
    EXPECT_EQ(k.Result, dialogs.Login(r));
    EXPECT_EQ(12, helpAsked);
    EXPECT_EQ(k.Username, r.Username);
    EXPECT_EQ(k.Role, r.SQLRole);
    EXPECT_EQ(k.Result == mrOk ? "s3cret" : "", r.Password);
    EXPECT_EQ("server:/data/nav.fdb", r.Database);
  }
}

TEST(LoginDialog, AKnownUserStartsInThePassword) {
  TdlgLogin dlg;
  TLoginRequest r;
  r.Username = "sysdba";
  dlg.Fill(r);
  dlg.show();
  EXPECT_EQ("SYSDBA", dlg.edUserName->text());
  EXPECT_EQ(dlg.edPassword, dlg.focusWidget());
  EXPECT_TRUE(dlg.HelpBtn->isHidden());
}

TEST(LoginDialog, WithoutTheWidgetThreadTheLoginCancels) {
  TQtDialogs dialogs;
  TLoginRequest r;
  TModalResult result = mrNone;
  std::thread([&] { result = dialogs.Login(r); }).join();
  EXPECT_EQ(mrCancel, result);
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
  const std::string path = std::string("localhost/") + port + ":" + dir.File("login.fdb");
  std::unique_ptr<TComponent> form(new TComponent(nullptr));
  {
    auto* maker = new TIB_Connection(form.get());
    maker->SetDatabaseName(path);
    maker->SetUsername(user);
    maker->SetPassword(password);
    maker->CreateDatabase();
    maker->Disconnect();
  }
  auto* db = new TIB_Connection(form.get());
  db->SetDatabaseName(path);
  db->LoginPrompt = true;
  db->LoginDBReadOnly = true;
  TDialogs* previous = InstallQtDialogs();
  testsupport::ExceptionSink sink;
  int shown = 0;
  std::function<void(QWidget*)> answer = [&](QWidget* w) {
    auto* dlg = static_cast<TdlgLogin*>(w);
    ++shown;
    EXPECT_EQ(QString::fromStdString(path), dlg->edDatabase->text());
    dlg->edUserName->clear();
    QTest::keyClicks(dlg->edUserName, QString(user).toLower());
    dlg->edPassword->clear();
    QTest::keyClicks(dlg->edPassword, shown == 1 ? "wrong" : password);
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
