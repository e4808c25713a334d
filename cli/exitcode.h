#pragma once

namespace Cli {

// What a script acts on. Documented in the manual page and in docs/fleet.md: a number, once given, keeps
// its meaning.
enum ExitCode : int {
    kSuccess = 0,      // done, or nothing to do
    kUsage = 1,        // the command line was not understood
    kNoDevice = 2,     // no device matches
    kManyDevices = 3,  // more than one device matches; the serials are named
    kFailed = 4,       // the update or repair ended in another state than Finished
    kFileRefused = 5,  // the image was refused before anything was written to the device
    kNetwork = 6,      // the update service could not be asked, or its offer not fetched
    kBusy = 7,         // another process (the window, another command) is updating or repairing
};

// The word for the code in the JSON document ("ok", "no-device", ...).
[[nodiscard]] const char* exitCodeName(int code);

}  // namespace Cli
