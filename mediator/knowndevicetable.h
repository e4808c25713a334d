#pragma once

#include <QString>

#include "io/deviceid.h"
#include "mediator/firmwaretypes.h"

namespace UIMediator {

// The ten HID interfaces the program knows, keyed by model index. One physical device shows one identity
// in normal mode and another in update mode; only the serial number ties the two together.
class KnownDeviceTable {
public:
    using DeviceType = Firmware::DeviceType;

    static constexpr int kSize = 10;

    // Which set of device reports an interface speaks. Only the first normal-mode interface of each
    // device carries them; the receiver's second one takes just the end of a repair.
    enum class Reports { None, Headset, Receiver };

    // kSize for an identity that is not in the table.
    [[nodiscard]] static int modelIndexOf(const Io::DeviceId& id);
    [[nodiscard]] static Io::DeviceId knownId(int index);
    [[nodiscard]] static Io::DeviceId updateModeId(DeviceType type);
    // variant 1 names a receiver's second interface; every flow of the program asks for variant 0.
    [[nodiscard]] static Io::DeviceId normalModeId(const Io::DeviceId& update_mode_id, int variant);
    [[nodiscard]] static DeviceType deviceTypeOf(const Io::DeviceId& id);
    [[nodiscard]] static QString familyName(DeviceType type);
    // The update-mode identity of a family's receiver or headset; invalid for a family the table lacks.
    [[nodiscard]] static Io::DeviceId updateModeIdOf(const QString& family, bool receiver);
    // How the log names one device: its type and serial number ("SorrelReceiver R-0001").
    [[nodiscard]] static QString describe(DeviceType type, const QString& serial_number);
    // The same for an interface of the table, or its identity when it is none of ours.
    [[nodiscard]] static QString describe(const Io::DeviceId& id, const QString& serial_number);

    [[nodiscard]] static Reports reportsOf(const Io::DeviceId& id);
    // The headset's report interface of id's family; invalid when id is not a headset's.
    [[nodiscard]] static Io::DeviceId postUpdateTargetOf(const Io::DeviceId& id);
    // The receiver's second interface of id's family; invalid when id is not a receiver's.
    [[nodiscard]] static Io::DeviceId repairEndTargetOf(const Io::DeviceId& id);
};

}  // namespace UIMediator
