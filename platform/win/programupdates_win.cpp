#include "platform/programupdates.h"

namespace Platform {

// The Installer's package writes the program wherever the user chose; every copy is one it installed.
bool ProgramUpdates::selfUpdating() {
    return true;
}

bool ProgramUpdates::platformSignatures() {
    return true;
}

}  // namespace Platform
