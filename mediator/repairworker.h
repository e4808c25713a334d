#pragma once

#include <QByteArray>
#include <QString>

#include "io/deviceid.h"
#include "mediator/firmwaretimings.h"
#include "mediator/firmwaretypes.h"

namespace UIMediator {

class FirmwareSession;

// Puts the receiver into pairing mode and follows it until it pairs, fails or is cancelled. There is no
// time limit: the receiver decides when pairing is over.
class RepairWorker {
public:
    using DeviceType = Firmware::DeviceType;
    using Status = Firmware::Status;

    RepairWorker(FirmwareSession& session, DeviceType type, const Io::DeviceId& normal_mode_id,
                 const QByteArray& path, const QString& serial_number);

    void operator()() const;

private:
    FirmwareSession* m_session;
    DeviceType m_type;
    Io::DeviceId m_normalModeId;
    QByteArray m_path;
    QString m_serialNumber;
    FirmwareTimings m_timings;
};

}  // namespace UIMediator
