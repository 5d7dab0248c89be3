#include "dialogs/IBD_Error.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest/QTest>
#include <memory>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dialogs/DialogsTestSupport.h"
#include "support/TestSupport.h"

namespace {

TEST(ErrorDialog, FindsThePositionOnAnyLineInEachWayTheServerWritesIt) {
  struct Case {
    const char* Text;
    bool Found;
    int32_t Line, Column;
  } cases[] = {
      {"Dynamic SQL Error\nSQL error code = -104\nToken unknown - line 2, column 7\nFROMM", true, 2, 7},
      {"arithmetic exception\nAt block line: 4, col: 3", true, 4, 3},
      {"a\nb\nc\nd\ne\nToken unknown - line 3, char 7", true, 3, 7},
      {"At LINE 12 , COLUMN 30", true, 12, 30},
      {"lock conflict on no wait transaction", false, 0, 0},
      {"deadline 3, column 4", false, 0, 0},       // part of another word
      {"line 3, colour 4", false, 0, 0},           // another word after the comma
      {"line 2, column", false, 0, 0},             // cut short
      {"line 9999999999, column 1", false, 0, 0},  // no number the dialog can place
      {"line two, col 1\nAt line 5, column 6", true, 5, 6},
      {"divide by zero.\nAt procedure 'P' line: 3, col: 3\nAt block line: 4, col: 5", true, 4, 5},
      {"At trigger \"T\" line: 3, col: 3", false, 0, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Text);
    int32_t line = 0, column = 0;
    EXPECT_EQ(k.Found, FindErrorPosition(k.Text, line, column));
    EXPECT_EQ(k.Line, line);
    EXPECT_EQ(k.Column, column);
  }
}

// The pages the texts fill, and where the caret of the SQL page goes.
TEST(ErrorDialog, PagesWithoutTextAreHiddenAndTheCaretStaysInsideTheText) {
  const std::string sql = "SELECT ID\r\nFROM T\r\nWHERE X = 1\r\n";
  struct Case {
    const char* Error;
    const char* SQLMessage;
    std::string SQL;
    bool SQLMessageShown, SQLShown;
    const char* CursorPos;
  } cases[] = {
      {"Column unknown\r\nX\r\nAt line 3, column 7", "SQL ERROR CODE:-206", sql, true, true, "3: 7"},
      {"\r\n  Column unknown\r\nAt line 2, column 60\r\n", "", sql, false, true, "2: 6"},  // past the line's end
      {"Column unknown\nAt line 9, column 2", "", sql, false, true, "1: 0"},  // a line the text does not have
      {"Column unknown\nAt line 4, column 1", "", sql, false, true, "1: 0"},
      {"Token unknown - line 1, column 1", "", "  \r\n ", false, false, "1: 0"},
      {"Column unknown", "", sql, false, true, "1: 0"},
      {"At line 0, column 5", "Invalid token", sql, true, true, "1: 0"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Error);
    TdlgError dlg;
    dlg.SetTexts(k.Error, k.SQLMessage, k.SQL);
    EXPECT_EQ(k.SQLMessageShown, dlg.pcError->isTabVisible(1));
    EXPECT_EQ(k.SQLShown, dlg.pcError->isTabVisible(2));
    EXPECT_EQ(dlg.tsErrorMsg, dlg.pcError->currentWidget());
    EXPECT_EQ(k.CursorPos, dlg.lbCursorPos->text());
    EXPECT_FALSE(dlg.meError->toPlainText().startsWith('\n'));
    EXPECT_FALSE(dlg.meSQL->toPlainText().contains('\r'));
  }
}

TEST(ErrorDialog, TheFirstChangeToTheSQLPageFocusesItsCaretLaterOnesDoNot) {
  std::string sql;
  for (int i = 1; i <= 200; ++i) sql += "-- line " + std::to_string(i) + "\n";
  for (bool sqlFirst : {true, false}) {
    SCOPED_TRACE(sqlFirst);
    TdlgError dlg;
    dlg.SetTexts("At line 100, column 3", "Column unknown", sql);
    dlg.show();
    const int before = dlg.meSQL->verticalScrollBar()->value();
    if (!sqlFirst) dlg.pcError->setCurrentWidget(dlg.tsSQLMsg);
    dlg.OKBtn->setFocus();
    dlg.pcError->setCurrentWidget(dlg.tsSQL);
    EXPECT_EQ(sqlFirst, dlg.focusWidget() == dlg.meSQL);
    EXPECT_EQ(sqlFirst, before < dlg.meSQL->verticalScrollBar()->value());
    EXPECT_EQ("100: 3", dlg.lbCursorPos->text());
  }
}

TEST(ErrorDialog, ControlsAndTexts) {
  TdlgError dlg;
  EXPECT_EQ(QSize(419, 376), dlg.size());
  EXPECT_EQ("Error Dialog", dlg.windowTitle());
  EXPECT_EQ((QStringList{"Error Message", "SQL Message", "SQL"}),
            (QStringList{dlg.pcError->tabText(0), dlg.pcError->tabText(1), dlg.pcError->tabText(2)}));
  dlg.show();
  EXPECT_EQ(41, dlg.findChild<QWidget*>("pnBottom")->height());
  EXPECT_EQ(102, dlg.findChild<QWidget*>("pnRight")->width());
  EXPECT_EQ(QPoint(16, 16), dlg.lbCursorPos->pos());
  for (QPlainTextEdit* memo : {dlg.meError, dlg.meSQLMsg, dlg.meSQL}) {
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(Qt::ScrollBarAlwaysOn, memo->horizontalScrollBarPolicy());
    EXPECT_EQ("Courier New", memo->font().family());
  }
  EXPECT_EQ(QPlainTextEdit::NoWrap, dlg.meSQL->lineWrapMode());
  // A server text in a single-byte character set keeps every character.
  dlg.SetTexts("Tabelle Z\xFCrich", "", "");
  EXPECT_EQ(QString::fromUtf8("Tabelle Z\u00FCrich"), dlg.meError->toPlainText());
}

// A real error of the engine in the dialog, closed with its OK button.
TEST(ErrorDialog, ShowsTheEnginesErrorAndClosesWithOK) {
  testsupport::TempDir dir;
  std::unique_ptr<TComponent> form(new TComponent(nullptr));
  auto* db = new TIB_Connection(form.get());
  db->SetDatabaseName(dir.File("e.fdb"));
  db->SetSQLDialect(3);
  db->CreateDatabase();
  auto* tr = new TIB_Transaction(form.get());
  tr->SetIB_Connection(db);
  auto statement = [&](const char* SQL) {
    auto* q = new TIB_DSQL(form.get());
    q->SetIB_Connection(db);
    q->SetIB_Transaction(tr);
    q->GetSQL().SetText(SQL);
    return q;
  };
  statement("CREATE PROCEDURE P RETURNS (R INTEGER) AS\nBEGIN\n  R = 1 / 0;\n  SUSPEND;\nEND")->Execute();
  tr->Commit();
  // The statement names itself on the SQL page (two lines, the second 12 characters long); the caret
  // lands inside that text.
  struct Case {
    const char* SQL;
    const char* CursorPos;
  } cases[] = {
      {"SELECT 1\nFROMM RDB$DATABASE", "2: 7"},  // "line 2, column 7"
      // "At procedure 'P' line: 3, col: 3" is passed over for "At block line: 4, col: 5", a line the SQL
      // page does not have: the caret stays.
      {"EXECUTE BLOCK RETURNS (X INTEGER) AS\nBEGIN\n  X = 0;\n    SELECT R FROM P INTO :X;\n  SUSPEND;\nEND", "1: 0"},
      {"SELECT R FROM P", "1: 0"},  // only a place in P's source
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.SQL);
    TIB_DSQL* q = statement(k.SQL);
    try {
      q->Execute();
      ADD_FAILURE() << "no error";
    } catch (const EIB_ISCError& e) {
      bool shown = false;
      dialogstest::WhenModal([&](QWidget* w) {
        auto* dlg = static_cast<TdlgError*>(w);
        shown = true;
        EXPECT_TRUE(dlg->meError->toPlainText().startsWith("ISC ERROR CODE:"));
        EXPECT_EQ(dlg->tsErrorMsg, dlg->pcError->currentWidget());
        EXPECT_EQ(k.CursorPos, dlg->lbCursorPos->text());
        QTest::mouseClick(dlg->OKBtn, Qt::LeftButton);
      });
      ShowISCErrorDialog(e);
      EXPECT_TRUE(shown);
    }
  }
}

}  // namespace
