#include "InputMethod.h"

#include <QWidget>

#ifdef Q_OS_WIN
#include <windows.h>
#include <imm.h>
#endif

void enableInputMethod(QWidget *widget)
{
    if (!widget)
        return;
    widget->setAttribute(Qt::WA_InputMethodEnabled, true);
#ifdef Q_OS_WIN
    // Re-associate the default input context: some applications detach it
    // from our window, and Qt does not restore it on its own.
    ImmAssociateContextEx(reinterpret_cast<HWND>(widget->winId()), nullptr, IACE_DEFAULT);
#endif
}
