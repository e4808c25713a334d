#include "mediator/knowndevicetable.h"

#include <QHash>
#include <array>

namespace UIMediator {

namespace {

constexpr quint16 kVendorId = 0x046d;

// The model indices, in table order.
enum Index : int {
    kSorrelHeadsetUpdate = 0,
    kSorrelHeadset = 1,
    kSorrelReceiverUpdate = 2,
    kSorrelReceiver = 3,
    kSorrelReceiverSecond = 4,
    kPlusHeadsetUpdate = 5,
    kPlusHeadset = 6,
    kPlusReceiverUpdate = 7,
    kPlusReceiver = 8,
    kPlusReceiverSecond = 9,
};

constexpr std::array<Io::DeviceId, KnownDeviceTable::kSize> kIds = {{
    {kVendorId, 0x0a93, 0xff00, 1},
    {kVendorId, 0x0a91, 0xffc0, 1},
    {kVendorId, 0x0a92, 0xff00, 1},
    {kVendorId, 0x0a90, 0xffa0, 1},
    {kVendorId, 0x0a90, 0xffa1, 1},
    {kVendorId, 0x0aac, 0xff00, 1},
    {kVendorId, 0x0aab, 0xffc0, 1},
    {kVendorId, 0x0aa9, 0xff00, 1},
    {kVendorId, 0x0aa8, 0xffa0, 1},
    {kVendorId, 0x0aa8, 0xffa1, 1},
}};

const char* const kFamilyNames[KnownDeviceTable::kSize] = {
    "Sorrel",     "Sorrel",     "Sorrel",     "Sorrel",     "Sorrel",
    "SorrelPlus", "SorrelPlus", "SorrelPlus", "SorrelPlus", "SorrelPlus",
};

const QHash<Io::DeviceId, int>& indexById() {
    static const QHash<Io::DeviceId, int> table = [] {
        QHash<Io::DeviceId, int> hash;
        for (int i = 0; i < KnownDeviceTable::kSize; ++i)
            hash.insert(kIds[static_cast<size_t>(i)], i);
        return hash;
    }();
    return table;
}

}  // namespace

int KnownDeviceTable::modelIndexOf(const Io::DeviceId& id) {
    return indexById().value(id, kSize);
}

Io::DeviceId KnownDeviceTable::knownId(int index) {
    if (index < 0 || index >= kSize)
        return {};
    return kIds[static_cast<size_t>(index)];
}

Io::DeviceId KnownDeviceTable::updateModeId(DeviceType type) {
    switch (type) {
        case DeviceType::SorrelHeadset:
            return knownId(kSorrelHeadsetUpdate);
        case DeviceType::SorrelReceiver:
            return knownId(kSorrelReceiverUpdate);
        case DeviceType::SorrelPlusHeadset:
            return knownId(kPlusHeadsetUpdate);
        case DeviceType::SorrelPlusReceiver:
            return knownId(kPlusReceiverUpdate);
        case DeviceType::Unknown:
            break;
    }
    return {};
}

Io::DeviceId KnownDeviceTable::normalModeId(const Io::DeviceId& update_mode_id, int variant) {
    const auto receiver = [variant](Index first, Index second) {
        return variant == 0 ? knownId(first) : variant == 1 ? knownId(second) : Io::DeviceId();
    };
    switch (modelIndexOf(update_mode_id)) {
        case kSorrelHeadsetUpdate:
            return knownId(kSorrelHeadset);
        case kSorrelReceiverUpdate:
            return receiver(kSorrelReceiver, kSorrelReceiverSecond);
        case kPlusHeadsetUpdate:
            return knownId(kPlusHeadset);
        case kPlusReceiverUpdate:
            return receiver(kPlusReceiver, kPlusReceiverSecond);
        default:
            return {};
    }
}

KnownDeviceTable::DeviceType KnownDeviceTable::deviceTypeOf(const Io::DeviceId& id) {
    switch (modelIndexOf(id)) {
        case kSorrelHeadsetUpdate:
        case kSorrelHeadset:
            return DeviceType::SorrelHeadset;
        case kSorrelReceiverUpdate:
        case kSorrelReceiver:
        case kSorrelReceiverSecond:
            return DeviceType::SorrelReceiver;
        case kPlusHeadsetUpdate:
        case kPlusHeadset:
            return DeviceType::SorrelPlusHeadset;
        case kPlusReceiverUpdate:
        case kPlusReceiver:
        case kPlusReceiverSecond:
            return DeviceType::SorrelPlusReceiver;
        default:
            return DeviceType::Unknown;
    }
}

QString KnownDeviceTable::describe(DeviceType type, const QString& serial_number) {
    static constexpr std::array<const char*, 5> kTypeNames = {
        {"Unknown", "SorrelHeadset", "SorrelReceiver", "SorrelPlusHeadset", "SorrelPlusReceiver"}};
    const auto index = static_cast<std::size_t>(type);
    const QLatin1String name(index < kTypeNames.size() ? kTypeNames[index] : "Unknown");
    return serial_number.isEmpty() ? QString(name) : name + QLatin1Char(' ') + serial_number;
}

QString KnownDeviceTable::describe(const Io::DeviceId& id, const QString& serial_number) {
    const DeviceType type = deviceTypeOf(id);
    if (type == DeviceType::Unknown) {
        return serial_number.isEmpty() ? id.toString() : id.toString() + QLatin1Char(' ') + serial_number;
    }
    return describe(type, serial_number);
}

QString KnownDeviceTable::familyName(DeviceType type) {
    switch (type) {
        case DeviceType::SorrelHeadset:
            return QString::fromLatin1(kFamilyNames[kSorrelHeadset]);
        case DeviceType::SorrelReceiver:
            return QString::fromLatin1(kFamilyNames[kSorrelReceiver]);
        case DeviceType::SorrelPlusHeadset:
            return QString::fromLatin1(kFamilyNames[kPlusHeadset]);
        case DeviceType::SorrelPlusReceiver:
            return QString::fromLatin1(kFamilyNames[kPlusReceiver]);
        case DeviceType::Unknown:
            break;
    }
    return {};
}

Io::DeviceId KnownDeviceTable::updateModeIdOf(const QString& family, bool receiver) {
    for (const DeviceType type : {DeviceType::SorrelHeadset, DeviceType::SorrelReceiver,
                                  DeviceType::SorrelPlusHeadset, DeviceType::SorrelPlusReceiver}) {
        const bool is_receiver = type == DeviceType::SorrelReceiver || type == DeviceType::SorrelPlusReceiver;
        if (is_receiver == receiver && familyName(type) == family) {
            return updateModeId(type);
        }
    }
    return {};
}

KnownDeviceTable::Reports KnownDeviceTable::reportsOf(const Io::DeviceId& id) {
    switch (modelIndexOf(id)) {
        case kSorrelHeadset:
        case kPlusHeadset:
            return Reports::Headset;
        case kSorrelReceiver:
        case kPlusReceiver:
            return Reports::Receiver;
        default:
            return Reports::None;
    }
}

Io::DeviceId KnownDeviceTable::postUpdateTargetOf(const Io::DeviceId& id) {
    switch (deviceTypeOf(id)) {
        case DeviceType::SorrelHeadset:
            return knownId(kSorrelHeadset);
        case DeviceType::SorrelPlusHeadset:
            return knownId(kPlusHeadset);
        default:
            return {};
    }
}

Io::DeviceId KnownDeviceTable::repairEndTargetOf(const Io::DeviceId& id) {
    switch (deviceTypeOf(id)) {
        case DeviceType::SorrelReceiver:
            return knownId(kSorrelReceiverSecond);
        case DeviceType::SorrelPlusReceiver:
            return knownId(kPlusReceiverSecond);
        default:
            return {};
    }
}

}  // namespace UIMediator
