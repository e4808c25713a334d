#pragma once

#include <QObject>

// The firmware mediator's enums with their real values, so that the pages can be shown without the
// mediator and the bus beneath it. The window scenarios check that the values still agree.
class FirmwareEnums : public QObject {
    Q_OBJECT

public:
    enum class DeviceType { Unknown, SorrelHeadset, SorrelReceiver, SorrelPlusHeadset, SorrelPlusReceiver };
    Q_ENUM(DeviceType)
    enum class Status {
        None,
        Started,
        Updating,
        Repairing,
        Rebooting,
        Finished,
        Canceled,
        Timeout,
        Failed,
        DeviceError,
        FileError
    };
    Q_ENUM(Status)
};
