#pragma once

#include <QByteArray>
#include <QString>

#include "sim/hidsim.h"

namespace HidSim {

// The simulated device as its update-mode handler sees it. The handler gets one at construction; it stays
// valid for the handler's whole life. Call it only from the handler's constructor and callbacks, which
// run with the bus lock held: calling it from a thread of the handler's own would race the bus.
class UpdateModeDevice {
public:
    struct Reset {
        // Time off the bus before the device shows up again; -1 takes the bus's resetMs timing.
        int delayMs = -1;
        // false: the device never comes back (a bricked device).
        bool comeBack = true;
        Mode mode = Mode::Normal;
        // Empty keeps the firmware it had; otherwise a version text such as "1.46.0" or "1.46.0-3".
        QString firmware;
        // Null keeps the serial number; anything else (including "") replaces it.
        QString serial;
    };

    virtual ~UpdateModeDevice() = default;

    [[nodiscard]] virtual int id() const = 0;
    [[nodiscard]] virtual DeviceType type() const = 0;
    [[nodiscard]] virtual QString serial() const = 0;
    [[nodiscard]] virtual QString firmware() const = 0;
    [[nodiscard]] virtual quint16 productId() const = 0;
    // The link pacing the bus applies to writes on this interface, 0 in the fast mode.
    [[nodiscard]] virtual int reportIntervalUs() const = 0;

    // An input report for hid_read on the update-mode interface, readable after delayMs. It reaches every
    // handle open at that moment, as hidraw does; with none open it is lost.
    virtual void queueInputReport(const QByteArray& report, int delayMs = 0) = 0;
    // Leaves the bus once the current callback has returned. The handler is destroyed with the identity.
    virtual void reset(const Reset& how) = 0;
};

}  // namespace HidSim
