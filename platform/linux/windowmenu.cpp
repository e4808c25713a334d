#include "platform/windowmenu.h"

namespace Platform {

// Deliberately nothing. X11 window managers take the close button from Motif hints and Wayland has no
// protocol for it; changing the window flags of a shown window makes Qt re-apply them, which several
// window managers answer by unmapping and mapping the window again. A close request during an update is
// refused by the window's closing handler and by Application::event instead.
void setCloseMenuEntryEnabled(QWindow* window, bool enabled) {}

}  // namespace Platform
