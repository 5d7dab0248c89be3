// Shows a server error of the library in its Qt error dialog (on Qt's offscreen platform when no
// other is set), closes it and prints what the dialog held.
//
//   consumer_dialogs /path/to/new.fdb
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Errors.h"
#include "dblib/IB_Transaction.h"
#include "dialogs/IBD_Dialogs.h"
#include "dialogs/IBD_Error.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s /path/to/new.fdb\n", argv[0]);
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  InstallQtDialogs();
  auto* form = new TComponent(nullptr);
  int rc = 1;
  try {
    auto* db = new TIB_Connection(form);
    db->SetDatabaseName(argv[1]);
    db->SetCharSet("ISO8859_1");
    db->CreateDatabase();
    auto* tr = new TIB_Transaction(form);
    tr->SetIB_Connection(db);
    auto* sel = new TIB_DSQL(form);
    sel->SetIB_Connection(db);
    sel->SetIB_Transaction(tr);
    sel->GetSQL().SetText("SELECT NOSUCH FROM RDB$DATABASE");
    try {
      sel->Execute();
    } catch (const EIB_ISCError& e) {
      TdlgError dlg;
      dlg.SetError(e);
      QTimer::singleShot(0, &dlg, [&dlg] { dlg.accept(); });
      dlg.exec();
      if (dlg.meError->toPlainText().contains("NOSUCH")) {
        std::printf("dialog shown\n");
        rc = 0;
      }
    }
    tr->Rollback();
    db->DropDatabase();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    rc = 1;
  }
  delete form;
  return rc;
}
