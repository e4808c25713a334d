#pragma once

#include <QByteArray>
#include <memory>

#include "sim/updatemodedevice.h"

namespace HidSim {

// The behaviour of a device's update-mode interface (usage page 0xff00, usage 1, under the update-mode
// product id), kept apart so that the firmware-update protocol lives beside the bus without the bus
// knowing it.
//
// Life: the bus calls the registered factory each time a device appears on the bus in update mode (after
// the enter-update command and re-enumeration, or plugged in update mode) and destroys the handler when
// that identity leaves the bus (reset, unplug, bus reset). A new appearance gets a new handler, so state
// that must survive a reset belongs in what the reset carries (firmware, serial).
//
// Threads: every callback runs on the thread of the hidapi call that caused it, with the bus lock held.
// A callback must not call hidapi or the HidSim:: functions (it would dead-lock); it talks back only
// through the UpdateModeDevice it was given. It must not block: a slow device answers with
// queueInputReport(report, delayMs).
//
// Report bytes are as hidapi hands them over: byte 0 is the report id. Returning -1 fails the hidapi call;
// the bus logs every report in the traffic together with the handler's result.
//
// Without a registered factory the interface enumerates, opens and accepts every write without answering.
//
// Registration from the handler's own source file in sim/, before main():
//     static const bool registered = (HidSim::setUpdateModeHandlerFactory(&makeHandler), true);
class UpdateModeHandler {
public:
    virtual ~UpdateModeHandler() = default;

    // hid_write. The default accepts the report.
    virtual int outputReport(const QByteArray& report) { return report.size(); }
    // hid_send_feature_report.
    virtual int featureReport(const QByteArray& report) { return report.size(); }
    // hid_get_feature_report for reportId: fill reply (report id first) and return its size, or -1.
    virtual int getFeatureReport(quint8 reportId, QByteArray* reply) { return -1; }
    // hid_get_input_report, likewise.
    virtual int getInputReport(quint8 reportId, QByteArray* reply) { return -1; }
};

using UpdateModeHandlerFactory = std::unique_ptr<UpdateModeHandler> (*)(UpdateModeDevice& device);

// Safe before main() and from any thread; nullptr unregisters. Devices already in update mode keep the
// handler they have.
void setUpdateModeHandlerFactory(UpdateModeHandlerFactory factory);
[[nodiscard]] UpdateModeHandlerFactory updateModeHandlerFactory();

}  // namespace HidSim
