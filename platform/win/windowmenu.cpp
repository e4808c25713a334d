#include "platform/windowmenu.h"

#include <windows.h>

#include <QWindow>

namespace Platform {

void setCloseMenuEntryEnabled(QWindow* window, bool enabled) {
    const auto handle = reinterpret_cast<HWND>(window->winId());
    const HMENU menu = ::GetSystemMenu(handle, FALSE);
    const UINT flags = enabled ? (MF_BYCOMMAND | MF_ENABLED) : (MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
    ::EnableMenuItem(menu, SC_CLOSE, flags);
}

}  // namespace Platform
