#pragma once

#include <QString>

#include "io/deviceid.h"
#include "mediator/firmwaretimings.h"
#include "mediator/firmwaretypes.h"

namespace DFU {
class IUpdater;
}

namespace UIMediator {

class FirmwareSession;

// Flashes one device: stages the image, waits for the device in update mode, transfers the image through
// the engine, restarts the device and waits for it to come back in normal mode. Runs on the mediator's
// worker thread; the session outlives it because the mediator's destructor waits for the thread.
class UpdateWorker {
public:
    using DeviceType = Firmware::DeviceType;
    using Status = Firmware::Status;

    UpdateWorker(FirmwareSession& session, DeviceType type, const Io::DeviceId& update_mode_id,
                 const QString& serial_number, const QString& firmware_path);

    void operator()() const;

private:
    // Signals each new percentage until the engine reports 100; false when the transfer failed or the
    // update was canceled meanwhile.
    bool followTransfer(DFU::IUpdater& updater) const;

    FirmwareSession* m_session;
    DeviceType m_type;
    Io::DeviceId m_updateModeId;
    QString m_serialNumber;
    QString m_firmwarePath;
    FirmwareTimings m_timings;
};

}  // namespace UIMediator
