// What the dialogs share: the library's byte strings to Qt's strings and back, its messages by id,
// and placing a window in the middle of its screen. Internal to the dialogs target.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

#include "dblib/IB_Constants.h"

// Bytes as UTF-8 when they are valid UTF-8, else as ISO 8859-1, so that no byte of a server text in a
// single-byte character set is lost or replaced.
QString IBD_ToQString(const std::string& S);
// A string as UTF-8 bytes.
std::string IBD_FromQString(const QString& S);
// The library's message Id as a QString.
inline QString IBD_Msg(int Id) { return IBD_ToQString(IB_LoadStr(Id)); }

// Moves Window so that it is centred on the screen it is on (the primary screen when none).
void IBD_CentreOnScreen(QWidget* Window);

// True when widgets can be shown from here: a QApplication exists and this is its thread.
bool IBD_CanShowWidgets() noexcept;
