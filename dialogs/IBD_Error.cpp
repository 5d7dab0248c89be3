#include "dialogs/IBD_Error.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>
#include <string_view>

#include "dblib/IB_Errors.h"
#include "dialogs/IBD_Common.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"

namespace {

bool IsDigit(char C) { return C >= '0' && C <= '9'; }
bool IsLetter(char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); }
char Lower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

// True when S at Pos starts with Word (ASCII, ignoring case); Pos moves past it.
bool TakeWord(std::string_view S, size_t& Pos, std::string_view Word) {
  if (S.size() - Pos < Word.size()) return false;
  for (size_t i = 0; i < Word.size(); ++i)
    if (Lower(S[Pos + i]) != Word[i]) return false;
  Pos += Word.size();
  return true;
}

void SkipBlanksAnd(std::string_view S, size_t& Pos, char Also) {
  while (Pos < S.size() && (S[Pos] == ' ' || S[Pos] == '\t' || S[Pos] == Also)) ++Pos;
}

// A decimal number of at most nine digits (larger ones are no position).
bool TakeNumber(std::string_view S, size_t& Pos, int32_t& Value) {
  size_t start = Pos;
  int32_t v = 0;
  while (Pos < S.size() && IsDigit(S[Pos])) {
    if (Pos - start == 9) return false;
    v = v * 10 + (S[Pos++] - '0');
  }
  if (Pos == start) return false;
  Value = v;
  return true;
}

// "line N, column M" (or char / col, each word optionally followed by a colon) at Pos, just after "line".
bool TakePosition(std::string_view S, size_t Pos, int32_t& Line, int32_t& Column) {
  int32_t line = 0, column = 0;
  SkipBlanksAnd(S, Pos, ':');
  if (!TakeNumber(S, Pos, line)) return false;
  SkipBlanksAnd(S, Pos, ' ');
  if (Pos >= S.size() || S[Pos] != ',') return false;
  ++Pos;
  SkipBlanksAnd(S, Pos, ' ');
  if (!TakeWord(S, Pos, "column") && !TakeWord(S, Pos, "char") && !TakeWord(S, Pos, "col")) return false;
  if (Pos < S.size() && IsLetter(S[Pos])) return false;
  SkipBlanksAnd(S, Pos, ':');
  if (!TakeNumber(S, Pos, column)) return false;
  Line = line;
  Column = column;
  return true;
}

// Line breaks made uniform (LF) and blanks trimmed at both ends.
QString Tidy(const std::string& Text) {
  std::string s;
  s.reserve(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '\r') {
      s += '\n';
      if (i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    } else {
      s += Text[i];
    }
  }
  size_t first = 0, last = s.size();
  while (first < last && static_cast<unsigned char>(s[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ') --last;
  return IBD_ToQString(s.substr(first, last - first));
}

QPlainTextEdit* NewMemo(QWidget* Page, const char* Name, bool WordWrap) {
  auto* memo = new QPlainTextEdit(Page);
  memo->setObjectName(Name);
  memo->setReadOnly(true);
  memo->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  memo->setLineWrapMode(WordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font("Courier New", 8);
  font.setStyleHint(QFont::TypeWriter);
  memo->setFont(font);
  auto* layout = new QVBoxLayout(Page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(memo);
  return memo;
}

}  // namespace

bool FindErrorPosition(const std::string& ErrorText, int32_t& Line, int32_t& Column) noexcept {
  const std::string_view text(ErrorText);
  bool namedModule = false;  // the line so far names a stored procedure, trigger or function
  for (size_t pos = 0; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '\n' || c == '\r') namedModule = false;
    if (c == '\'' || c == '"') namedModule = true;
    size_t after = pos;
    // "At procedure 'P' line: 3, col: 3" is a place in P's own source, not in the statement's text.
    if (namedModule || !TakeWord(text, after, "line")) continue;
    if (pos > 0 && IsLetter(text[pos - 1])) continue;  // "deadline", "inline"
    if (TakePosition(text, after, Line, Column)) return true;
  }
  return false;
}

TdlgError::TdlgError(QWidget* Parent) : QDialog(Parent) {
  setObjectName("dlgError");
  setWindowTitle("Error Dialog");
  resize(419, 376);
  QFont f = font();
  f.setPointSize(8);
  setFont(f);

  pcError = new QTabWidget(this);
  pcError->setObjectName("pcError");
  tsErrorMsg = new QWidget;
  tsErrorMsg->setObjectName("tsErrorMsg");
  tsSQLMsg = new QWidget;
  tsSQLMsg->setObjectName("tsSQLMsg");
  tsSQL = new QWidget;
  tsSQL->setObjectName("tsSQL");
  meError = NewMemo(tsErrorMsg, "meError", true);
  meSQLMsg = NewMemo(tsSQLMsg, "meSQLMsg", true);
  meSQL = NewMemo(tsSQL, "meSQL", false);
  pcError->addTab(tsErrorMsg, "Error Message");
  pcError->addTab(tsSQLMsg, "SQL Message");
  pcError->addTab(tsSQL, "SQL");

  auto* pnBottom = new QWidget(this);
  pnBottom->setObjectName("pnBottom");
  pnBottom->setFixedHeight(41);
  lbCursorPos = new QLabel(pnBottom);
  lbCursorPos->setObjectName("lbCursorPos");
  lbCursorPos->move(16, 16);
  auto* pnRight = new QWidget(pnBottom);
  pnRight->setObjectName("pnRight");
  pnRight->setFixedWidth(102);
  OKBtn = new QPushButton(IBD_Msg(IBMsg::OK), pnRight);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(14, 8, 75, 25);
  OKBtn->setDefault(true);
  auto* bottom = new QHBoxLayout(pnBottom);
  bottom->setContentsMargins(0, 0, 0, 0);
  bottom->addStretch();
  bottom->addWidget(pnRight);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(pcError);
  layout->addWidget(pnBottom);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(pcError, &QTabWidget::currentChanged, this, [this](int Index) { PageChanged(Index); });
  connect(meSQL, &QPlainTextEdit::cursorPositionChanged, this, [this] { UpdateCursorPos(); });
  meSQL->installEventFilter(this);
}

void TdlgError::SetError(const EIB_ISCError& E) {
  SetTexts(E.ErrorMessage().GetText(), E.SQLMessage().GetText(), E.SQL().GetText());
}

void TdlgError::SetTexts(const std::string& ErrorMessage, const std::string& SQLMessage, const std::string& SQL) {
  meError->setPlainText(Tidy(ErrorMessage));
  meSQLMsg->setPlainText(Tidy(SQLMessage));
  meSQL->setPlainText(Tidy(SQL));
  {
    const QSignalBlocker quiet(pcError);  // filling the pages is no page change of the user's
    pcError->setTabVisible(pcError->indexOf(tsSQLMsg), !meSQLMsg->document()->isEmpty());
    pcError->setTabVisible(pcError->indexOf(tsSQL), !meSQL->document()->isEmpty());
    pcError->setCurrentWidget(tsErrorMsg);
  }
  int32_t line = 0, column = 0;
  if (!meSQL->document()->isEmpty() && FindErrorPosition(IBD_FromQString(meError->toPlainText()), line, column) &&
      line >= 1 && column >= 1) {
    // A line the text does not have leaves the caret where it is; a column past its line's end goes to
    // the line's end.
    QTextDocument* doc = meSQL->document();
    if (line <= doc->blockCount()) {
      const QTextBlock b = doc->findBlockByNumber(line - 1);
      QTextCursor caret(doc);
      caret.setPosition(b.position() + std::min(column, b.length() - 1));
      meSQL->setTextCursor(caret);
      meSQL->ensureCursorVisible();
    }
  }
  UpdateCursorPos();
}

void TdlgError::UpdateCursorPos() {
  const QTextCursor caret = meSQL->textCursor();
  const int line = caret.block().blockNumber();
  lbCursorPos->setText(QString("%1: %2").arg(line + 1).arg(caret.position() - caret.block().position()));
}

void TdlgError::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  IBD_CentreOnScreen(this);
  UpdateCursorPos();
}

bool TdlgError::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == meSQL && Event->type() == QEvent::FocusIn) UpdateCursorPos();
  return QDialog::eventFilter(Watched, Event);
}

void TdlgError::PageChanged(int Index) {
  if (FFirstPageChangeDone) return;
  FFirstPageChangeDone = true;
  if (pcError->widget(Index) != tsSQL) return;
  meSQL->setFocus(Qt::OtherFocusReason);
  meSQL->ensureCursorVisible();
  QScrollBar* bar = meSQL->verticalScrollBar();
  bar->setValue(bar->value() + 2);
}

namespace {

// Runs the dialog for the texts; without a widget-capable application here the texts go to the
// headless dialogs instead.
void RunErrorDialog(const std::string& Caption, const std::string& ErrorMessage, const std::string& SQLMessage,
                    const std::string& SQL) {
  if (!IBD_CanShowWidgets()) {
    TDialogs headless;
    headless.ShowError(Caption, ErrorMessage);
    return;
  }
  TdlgError dialog;
  if (!Caption.empty()) dialog.setWindowTitle(IBD_ToQString(Caption));
  dialog.SetTexts(ErrorMessage, SQLMessage, SQL);
  dialog.exec();
}

}  // namespace

void ShowISCErrorDialog(const EIB_ISCError& E) noexcept {
  RunReported([&] { RunErrorDialog({}, E.ErrorMessage().GetText(), E.SQLMessage().GetText(), E.SQL().GetText()); });
}

void ShowErrorDialog(const std::string& Caption, const std::string& Text) noexcept {
  RunReported([&] { RunErrorDialog(Caption, Text, {}, {}); });
}
