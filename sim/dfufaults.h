#pragma once

#include <QString>

namespace HidSim {

// Misbehaviour of a device in update mode, keyed by the device's id, which it keeps across its changes of
// identity. A device without an entry flashes cleanly. The fields are described with the update protocol
// in docs/dfu-protocol.md.
struct DfuFaults {
    // The block that carries the transfer past this percentage of the image is answered with a write
    // error. -1: off.
    int errorAtPercent = -1;
    // The device leaves the bus for good, without answering, on the block that carries the transfer past
    // this percentage. -1: off.
    int lostAtPercent = -1;
    // The image is stored with one byte changed, so the device's own check at the end fails.
    bool corruptStorage = false;
    // The device takes every report and never answers.
    bool silent = false;
    bool refuseReset = false;
    // After an accepted reset the device never comes back.
    bool noReturnAfterReset = false;
    // Null keeps the serial number across the reset; anything else is the serial it comes back with.
    QString returnSerial;
    // Time off the bus after a reset; -1 takes the bus's timing.
    int resetDelayMs = -1;
};

// Safe from any thread, never from inside an update-mode handler's callback.
void setDfuFaults(int deviceId, const DfuFaults& faults);
void clearDfuFaults();
// The image a device holds after a verified transfer, kept across resets as flash would keep it; empty
// when it has not been flashed since the last clearDfuFaults().
[[nodiscard]] QByteArray dfuFlashedImage(int deviceId);

}  // namespace HidSim
