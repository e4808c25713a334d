#pragma once

#include <QByteArray>
#include <QString>

#include "io/deviceid.h"
#include "mediator/uifirmwareupdatemediator.h"

namespace UIMediator {

// Puts the receiver into pairing mode and follows it until it pairs, fails or is cancelled. There is no
// time limit: the receiver decides when pairing is over.
class RepairWorker {
public:
    using DeviceType = UIFirmwareUpdateMediator::DeviceType;
    using Status = UIFirmwareUpdateMediator::Status;

    RepairWorker(UIFirmwareUpdateMediator& mediator, DeviceType type, const Io::DeviceId& normal_mode_id,
                 const QByteArray& path, const QString& serial_number,
                 const UIFirmwareUpdateMediator::Timings& timings);

    void operator()() const;

private:
    UIFirmwareUpdateMediator* m_mediator;
    DeviceType m_type;
    Io::DeviceId m_normalModeId;
    QByteArray m_path;
    QString m_serialNumber;
    UIFirmwareUpdateMediator::Timings m_timings;
};

}  // namespace UIMediator
