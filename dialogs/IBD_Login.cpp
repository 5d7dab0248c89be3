#include "dialogs/IBD_Login.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QValidator>

#include "dialogs/IBD_Common.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"

namespace {

// What the user types into the user edit is shown in upper case.
class TUpperCaseValidator : public QValidator {
public:
  using QValidator::QValidator;
  State validate(QString& Input, int&) const override {
    Input = Input.toUpper();
    return Acceptable;
  }
};

// The dialog's picture: a database drum.
QPixmap DatabasePicture() {
  QPixmap picture(105, 105);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x30, 0x40, 0x60), 2));
  const QColor side(0x5A, 0x7F, 0xB5), top(0x9C, 0xB8, 0xE0);
  const int left = 17, width = 71, rim = 16;
  for (int y : {72, 50, 28}) {  // three stacked discs, the lowest first
    p.setBrush(side);
    p.drawRect(left, y, width, 16);
    p.drawEllipse(left, y + 16 - rim / 2, width, rim);
    p.setBrush(top);
    p.drawEllipse(left, y - rim / 2, width, rim);
  }
  return picture;
}

template <class W>
W* Place(W* Widget, const char* Name, int Left, int Top, int Width = -1, int Height = -1) {
  Widget->setObjectName(Name);
  if (Width < 0) {
    Widget->adjustSize();
    Widget->move(Left, Top);
  } else {
    Widget->setGeometry(Left, Top, Width, Height);
  }
  return Widget;
}

}  // namespace

TdlgLogin::TdlgLogin(QWidget* Parent) : QDialog(Parent) {
  setObjectName("dlgLogin");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(472, 151);
  QFont f = font();
  f.setPointSize(8);
  setFont(f);

  Bevel1 = Place(new QFrame(this), "Bevel1", 11, 11, 116, 116);
  Bevel1->setFrameShape(QFrame::Panel);
  Bevel1->setFrameShadow(QFrame::Raised);
  Image1 = Place(new QLabel(this), "Image1", 16, 16, 105, 105);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setScaledContents(true);
  Image1->setPixmap(DatabasePicture());

  lbDatabase = Place(new QLabel(IBD_Msg(IBMsg::Database), this), "lbDatabase", 138, 15);
  edDatabase = Place(new QLineEdit(this), "edDatabase", 197, 11, 268, 21);
  lbUser = Place(new QLabel(IBD_Msg(IBMsg::User), this), "lbUser", 138, 43);
  edUserName = Place(new QLineEdit(this), "edUserName", 197, 38, 172, 21);
  edUserName->setValidator(new TUpperCaseValidator(edUserName));
  lbPassword = Place(new QLabel(IBD_Msg(IBMsg::Password), this), "lbPassword", 138, 69);
  edPassword = Place(new QLineEdit(this), "edPassword", 197, 65, 172, 21);
  edPassword->setEchoMode(QLineEdit::Password);
  edPassword->setStyleSheet("QLineEdit { lineedit-password-character: 42 }");  // '*'
  lbSQLRole = Place(new QLabel("SQL Role", this), "lbSQLRole", 138, 96);
  cbSQLRole = Place(new QComboBox(this), "cbSQLRole", 197, 92, 172, 21);
  cbSQLRole->setEditable(true);
  cbSQLRole->setInsertPolicy(QComboBox::NoInsert);
  lbDatabase->setBuddy(edDatabase);
  lbUser->setBuddy(edUserName);
  lbPassword->setBuddy(edPassword);
  lbSQLRole->setBuddy(cbSQLRole);

  OKBtn = Place(new QPushButton(IBD_Msg(IBMsg::OK), this), "OKBtn", 197, 120, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = Place(new QPushButton(IBD_Msg(IBMsg::Cancel), this), "CancelBtn", 294, 120, 75, 25);
  HelpBtn = Place(new QPushButton(IBD_Msg(IBMsg::Help), this), "HelpBtn", 390, 120, 75, 25);
  HelpBtn->setAutoDefault(false);
  HelpBtn->hide();
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpBtn, &QPushButton::clicked, this, [this] {
    if (OnHelp) RunReported([this] { OnHelp(FHelpContext); });
  });

  QWidget::setTabOrder(edPassword, cbSQLRole);
  QWidget::setTabOrder(cbSQLRole, OKBtn);
  QWidget::setTabOrder(OKBtn, CancelBtn);
  QWidget::setTabOrder(CancelBtn, HelpBtn);
  QWidget::setTabOrder(HelpBtn, edDatabase);
  QWidget::setTabOrder(edDatabase, edUserName);

  const std::string title = Application ? Trim(Application->GetTitle()) : std::string();
  setWindowTitle(IBD_ToQString(title + " " + IB_LoadStr(IBMsg::LoginDialog)));
}

void TdlgLogin::SetDatabaseReadOnly(bool Value) {
  if (Value == FDatabaseReadOnly) return;
  FDatabaseReadOnly = Value;
  edDatabase->setReadOnly(Value);
  QPalette p = edDatabase->palette();
  p.setColor(QPalette::Base, Value ? QColor(0xC0, 0xC0, 0xC0) : palette().color(QPalette::Base));
  edDatabase->setPalette(p);
}

void TdlgLogin::Fill(const TLoginRequest& Request) {
  if (!Request.Caption.empty()) setWindowTitle(IBD_ToQString(Request.Caption));
  SetDatabaseReadOnly(Request.DatabaseReadOnly);
  edDatabase->setText(IBD_ToQString(Request.Database));
  edUserName->setText(IBD_ToQString(Request.Username).toUpper());
  edPassword->setText(IBD_ToQString(Request.Password));
  cbSQLRole->clear();
  for (const std::string& role : Request.SQLRoleList) cbSQLRole->addItem(IBD_ToQString(role));
  cbSQLRole->setEditText(IBD_ToQString(Request.SQLRole));
  FHelpContext = Request.HelpContext;
  HelpBtn->setVisible(Request.HelpContext != 0);
}

void TdlgLogin::ReadInto(TLoginRequest& Request) const {
  Request.Database = IBD_FromQString(edDatabase->text());
  Request.Username = IBD_FromQString(edUserName->text());
  Request.Password = IBD_FromQString(edPassword->text());
  Request.SQLRole = IBD_FromQString(cbSQLRole->currentText());
}

TModalResult TdlgLogin::Execute(TLoginRequest& Request) {
  Fill(Request);
  if (exec() != QDialog::Accepted) return mrCancel;
  ReadInto(Request);
  return mrOk;
}

void TdlgLogin::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  IBD_CentreOnScreen(this);
  // The first control of the tab order, unless there is no user name yet.
  (edUserName->text().isEmpty() ? edUserName : edPassword)->setFocus(Qt::OtherFocusReason);
}
