#pragma once

namespace Platform {

// Where a copy of the program may replace itself with a newer version from the update service.
class ProgramUpdates {
public:
    // Windows: the program was installed by its Installer. Linux: only the per-user installation that
    // Installer made and recorded is ours to replace; a copy from the package manager, or one run from a
    // build tree, is left to whoever put it there.
    [[nodiscard]] static bool selfUpdating();

    // Whether the system itself can vouch for an installer (Windows: Authenticode). Where it cannot, only
    // a signature by the program's own key lets an installer start.
    [[nodiscard]] static bool platformSignatures();
};

}  // namespace Platform
