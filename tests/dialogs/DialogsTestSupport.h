// Helpers of the dialogs' tests: answering a modal window from inside its own event loop, and checking
// where the controls of a window sit.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace dialogstest {

// Runs Answer on the next modal window that opens (polling Qt's event loop, as a user would see it).
// A window that never opens within five seconds fails the test.
inline void WhenModal(std::function<void(QWidget* Window)> Answer) {
  auto* poll = new QTimer;
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(poll, &QTimer::timeout, [poll, clock, Answer] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) {
      if (clock->elapsed() < 5000) return;
      ADD_FAILURE() << "no modal window opened";
    } else {
      Answer(w);
    }
    poll->stop();
    poll->deleteLater();
    delete clock;
  });
  poll->start(5);
}

// A control of a window: its name and where it sits (a negative width: the size is not checked).
struct Placed {
  const char* Name;
  int Left, Top, Width, Height;
};

inline void ExpectPlaced(QWidget* Window, const std::vector<Placed>& Controls) {
  for (const Placed& p : Controls) {
    SCOPED_TRACE(p.Name);
    auto* w = Window->findChild<QWidget*>(p.Name);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(QPoint(p.Left, p.Top), w->pos());
    if (p.Width >= 0) {
      EXPECT_EQ(QSize(p.Width, p.Height), w->size());
    }
  }
}

}  // namespace dialogstest
