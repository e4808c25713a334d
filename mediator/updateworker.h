#pragma once

#include <QString>

#include "io/deviceid.h"
#include "mediator/uifirmwareupdatemediator.h"

namespace UIMediator {

// Flashes one device: stages the image, waits for the device in update mode, transfers the image through
// the engine, restarts the device and waits for it to come back in normal mode. Runs on the mediator's
// worker thread; the mediator outlives it because its destructor waits for the thread.
class UpdateWorker {
public:
    using DeviceType = UIFirmwareUpdateMediator::DeviceType;
    using Status = UIFirmwareUpdateMediator::Status;

    UpdateWorker(UIFirmwareUpdateMediator& mediator, DeviceType type, const Io::DeviceId& update_mode_id,
                 const QString& serial_number, const QString& firmware_path,
                 const UIFirmwareUpdateMediator::Timings& timings);

    void operator()() const;

private:
    void run() const;

    UIFirmwareUpdateMediator* m_mediator;
    DeviceType m_type;
    Io::DeviceId m_updateModeId;
    QString m_serialNumber;
    QString m_firmwarePath;
    UIFirmwareUpdateMediator::Timings m_timings;
};

}  // namespace UIMediator
