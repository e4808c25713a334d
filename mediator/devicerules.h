#pragma once

#include <QString>
#include <QVector>

#include "io/deviceid.h"
#include "io/iodeviceinfo.h"
#include "mediator/firmwaretypes.h"

namespace UIMediator {

// Which device a question or an operation about a kind of device means. The window's mediator and the
// command line both decide here, so the two cannot come to different answers on the same bus.
class DeviceRules {
public:
    using DeviceType = Firmware::DeviceType;

    // One known physical device of a scan. A device in update mode shows another product id, so it is a
    // record of its own; only the serial number ties it to its normal-mode self.
    struct Device {
        DeviceType type = DeviceType::Unknown;
        bool updateMode = false;
        Io::IoDeviceInfo info;
        // The interface its reports go to in normal mode, or the engine's in update mode.
        [[nodiscard]] Io::DeviceId id() const;
    };

    enum class Match { None, One, Many };
    struct Choice {
        Match match = Match::None;
        // Every device the rule looked at: the one meant, or all of them when more than one matched.
        QVector<Device> devices;
    };

    // Every known device of the scan, in its order.
    [[nodiscard]] static QVector<Device> known(const Io::IoDeviceInfoList& devices);
    // The devices of the type, in update mode or in normal mode (by the interface with the reports).
    [[nodiscard]] static Io::IoDeviceInfoList ofType(const Io::IoDeviceInfoList& devices, DeviceType type);
    [[nodiscard]] static bool anyInUpdateMode(const Io::IoDeviceInfoList& devices, DeviceType type);

    // An update, a repair or a reading of a type means the one device of that type, and none when there
    // are two: nothing tells which of them the user meant.
    [[nodiscard]] static Choice one(const Io::IoDeviceInfoList& devices, DeviceType type);
    // A receiver of either family, or a headset of either: the window's device page is the same for them
    // and leaves as soon as a second one of the kind appears, so a command does not pick either.
    [[nodiscard]] static QVector<DeviceType> similarTypes(DeviceType type);
    [[nodiscard]] static bool isReceiver(DeviceType type);
    [[nodiscard]] static bool isHeadset(DeviceType type);
    [[nodiscard]] static Choice oneSimilar(const Io::IoDeviceInfoList& devices, DeviceType type);
    // The device with the serial number, held to the rule of its kind.
    [[nodiscard]] static Choice bySerial(const Io::IoDeviceInfoList& devices, const QString& serial_number);
};

}  // namespace UIMediator
