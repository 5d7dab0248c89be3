// The floating window a dataset shows while it fetches many rows: the row reached so far and an
// Abort button that, once the user confirms, ends the fetch. The window owns its controls; the
// abort callback it watches belongs to the dataset and is dropped when the window is unwatched.
// Use it on the thread of the QApplication.
#pragma once

#include <QDialog>
#include <functional>

#include "platform/Dialogs.h"

class QFrame;
class QLabel;
class QPushButton;

class TdlgCancelQuery : public QDialog {
public:
  explicit TdlgCancelQuery(QWidget* Parent = nullptr);

  // Shows the window for the fetch Info describes: its caption, "Row# n", and what Abort ends.
  void Watch(const TCancelQueryInfo& Info);
  // Hides the window and forgets the fetch.
  void Unwatch();
  bool Watching() const { return static_cast<bool>(FAbortFetching); }

  // The Abort button (and Escape, and closing the window): only while a fetch is watched, hides the
  // window and asks for confirmation; OK ends the fetch. The window stays hidden until the next Watch.
  void CancelBtnClick();

  QFrame* Bevel1;
  QLabel* lbFetchingMessage;
  QLabel* lbRowNum;
  QPushButton* CancelBtn;

protected:
  void reject() override;

private:
  std::function<void()> FAbortFetching;
  bool FAsking = false;
};
