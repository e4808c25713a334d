#pragma once

class QWindow;

namespace Platform {

// Greys out or restores the close entry of the window's system menu (and with it the title-bar button).
// The caller has checked that `window` is a window with a close button.
void setCloseMenuEntryEnabled(QWindow* window, bool enabled);

}  // namespace Platform
