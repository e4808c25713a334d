#include "platform/programupdates.h"
#include "platform/win/signedfile.h"

namespace Platform {

// The Installer's package writes the program wherever the user chose; every copy is one it installed.
bool ProgramUpdates::selfUpdating() {
    return true;
}

// Any valid signature would let any signed program start with "-update"; only the publisher fixed at
// build time may, and without one there is nobody to trust.
bool ProgramUpdates::platformSignatures() {
    return *builtInPublisher() != L'\0';
}

}  // namespace Platform
