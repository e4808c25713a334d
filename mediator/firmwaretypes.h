#pragma once

#include <QMetaType>

// The kinds of device and the statuses of the firmware operations as the native side sees them. The
// firmware update mediator carries the same values as enums of its own, which QML reads; keeping these
// apart lets the workers and the device table go without the mediator's header.
namespace UIMediator::Firmware {

enum class DeviceType {
    Unknown = 0,
    SorrelHeadset = 1,
    SorrelReceiver = 2,
    SorrelPlusHeadset = 3,
    SorrelPlusReceiver = 4,
};

enum class Status {
    None = 0,
    Started = 1,
    Updating = 2,
    Repairing = 3,
    Rebooting = 4,
    Finished = 5,
    Canceled = 6,
    Timeout = 7,
    Failed = 8,
    DeviceError = 9,
    FileError = 10,
};

}  // namespace UIMediator::Firmware

Q_DECLARE_METATYPE(UIMediator::Firmware::DeviceType)
Q_DECLARE_METATYPE(UIMediator::Firmware::Status)
