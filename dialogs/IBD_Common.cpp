#include "dialogs/IBD_Common.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTextCodec>
#include <QThread>

QString IBD_ToQString(const std::string& S) {
  QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
  QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
  QString text = utf8->toUnicode(S.data(), static_cast<int>(S.size()), &state);
  if (state.invalidChars == 0 && state.remainingChars == 0) return text;
  return QString::fromLatin1(S.data(), static_cast<int>(S.size()));
}

std::string IBD_FromQString(const QString& S) { return S.toUtf8().toStdString(); }

void IBD_CentreOnScreen(QWidget* Window) {
  QScreen* screen = Window->screen() ? Window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = Window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  Window->move(frame.topLeft());
}

bool IBD_CanShowWidgets() noexcept {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app && QThread::currentThread() == app->thread();
}
