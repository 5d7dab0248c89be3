#include "dialogs/IBD_CancelQuery.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "dialogs/IBD_Common.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

TdlgCancelQuery::TdlgCancelQuery(QWidget* Parent) : QDialog(Parent) {
  setObjectName("dlgCancelQuery");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(313, 135);
  QFont f = font();
  f.setPointSize(8);
  setFont(f);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(8, 8, 297, 81);
  lbFetchingMessage = new QLabel(IBD_Msg(IBMsg::FetchingQueryResults), this);
  lbFetchingMessage->setObjectName("lbFetchingMessage");
  lbFetchingMessage->setGeometry(58, 22, 197, 24);
  // 21 pixels high, or smaller where this system's font would not fit the text in the label.
  QFont big = font();
  for (int height = 21; height >= 8; --height) {
    big.setPixelSize(height);
    if (QFontMetrics(big).horizontalAdvance(lbFetchingMessage->text()) <= lbFetchingMessage->width()) break;
  }
  lbFetchingMessage->setFont(big);
  lbRowNum = new QLabel("Row#", this);
  lbRowNum->setObjectName("lbRowNum");
  lbRowNum->setAlignment(Qt::AlignCenter);
  lbRowNum->setGeometry(56, 56, 201, 20);
  CancelBtn = new QPushButton(IBD_Msg(IBMsg::Abort), this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(119, 100, 75, 25);
  CancelBtn->setCursor(Qt::ArrowCursor);  // the screen shows the busy cursor while the fetch runs
  connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
}

void TdlgCancelQuery::Watch(const TCancelQueryInfo& Info) {
  FAbortFetching = Info.AbortFetching;
  setWindowTitle(IBD_ToQString(Info.Caption));
  lbRowNum->setText(IBD_ToQString(Format(IB_LoadStr(IBMsg::RowNumber), {Info.RowNum})));
  if (FAsking) return;  // the confirmation is open: the window comes back with the next row after it
  if (!isVisible()) {
    show();
    IBD_CentreOnScreen(this);
  }
}

void TdlgCancelQuery::Unwatch() {
  FAbortFetching = nullptr;
  hide();
}

void TdlgCancelQuery::CancelBtnClick() {
  if (!FAbortFetching || FAsking) return;
  hide();
  TValueRestorer<bool> asking(FAsking, true);
  if (MessageDlg(IB_LoadStr(IBMsg::AreYouSureYouWantTo), mtConfirmation, {mbOK, mbCancel}, 0) != mrOk) return;
  // The fetch may have ended (and been unwatched) while the question was open.
  if (std::function<void()> abort = FAbortFetching) RunReported(abort);
}

void TdlgCancelQuery::reject() { CancelBtnClick(); }
