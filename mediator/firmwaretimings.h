#pragma once

namespace UIMediator {

// The waits of the firmware workers. Tests shorten them; the defaults are the product's.
struct FirmwareTimings {
    int deviceWaitMs = 30000;
    int driverPauseMs = 1000;
    int scanPollMs = 100;
    int progressPollMs = 100;
    int repairPollMs = 100;
    // The earliest that a version or revision that could not be read is asked for again.
    int readRetryMs = 5000;
};

}  // namespace UIMediator
