// The error dialog: an EIB_ISCError's server text, SQL message and failing SQL on three pages, with
// the caret of the SQL page at the line and column the server named (left where it is when the page
// has no such line). The dialog owns its controls and keeps copies of the texts; the exception may go
// away once the dialog is filled. Use it on the thread of the QApplication.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class EIB_ISCError;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;

// Finds the first position a server message names, on any of its lines: a line number followed by
// "column", "char" or "col" and the column ("line 2, column 5", "At block line: 1, col: 24",
// "line 3, char 7"). Places in the source of a named stored procedure, trigger or function ("At
// procedure 'P' line: 3, col: 3") are not places in the statement and are passed over. False, with
// Line and Column untouched, when no line names one.
bool FindErrorPosition(const std::string& ErrorText, int32_t& Line, int32_t& Column) noexcept;

class TdlgError : public QDialog {
public:
  explicit TdlgError(QWidget* Parent = nullptr);

  // Fills the pages from E and places the caret of the SQL page.
  void SetError(const EIB_ISCError& E);
  // The same from the three texts (lines separated by CR LF, LF or CR).
  void SetTexts(const std::string& ErrorMessage, const std::string& SQLMessage, const std::string& SQL);
  // Shows the caret of the SQL page as "line: column" (the line from 1, the column from 0).
  void UpdateCursorPos();

  QTabWidget* pcError;
  QWidget* tsErrorMsg;
  QWidget* tsSQLMsg;
  QWidget* tsSQL;
  QPlainTextEdit* meError;
  QPlainTextEdit* meSQLMsg;
  QPlainTextEdit* meSQL;
  QLabel* lbCursorPos;
  QPushButton* OKBtn;

protected:
  void showEvent(QShowEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void PageChanged(int Index);
  bool FFirstPageChangeDone = false;
};

// Shows E in the error dialog, modally. Never throws: a failure to show it is reported to the
// application's exception handler.
void ShowISCErrorDialog(const EIB_ISCError& E) noexcept;
// Shows a plain error text with a caption in the same dialog (only its first page).
void ShowErrorDialog(const std::string& Caption, const std::string& Text) noexcept;
