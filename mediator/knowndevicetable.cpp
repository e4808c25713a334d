#include "mediator/knowndevicetable.h"

#include <QHash>
#include <array>

namespace UIMediator {

namespace {

constexpr quint16 kVendorId = 0x046d;

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
            return knownId(0);
        case DeviceType::SorrelReceiver:
            return knownId(2);
        case DeviceType::SorrelPlusHeadset:
            return knownId(5);
        case DeviceType::SorrelPlusReceiver:
            return knownId(7);
        case DeviceType::Unknown:
            break;
    }
    return {};
}

Io::DeviceId KnownDeviceTable::normalModeId(const Io::DeviceId& update_mode_id, int variant) {
    switch (modelIndexOf(update_mode_id)) {
        case 0:
            return knownId(1);
        case 2:
            return variant == 0 ? knownId(3) : variant == 1 ? knownId(4) : Io::DeviceId();
        case 5:
            return knownId(6);
        case 7:
            return variant == 0 ? knownId(8) : variant == 1 ? knownId(9) : Io::DeviceId();
        default:
            return {};
    }
}

KnownDeviceTable::DeviceType KnownDeviceTable::deviceTypeOf(const Io::DeviceId& id) {
    switch (modelIndexOf(id)) {
        case 0:
        case 1:
            return DeviceType::SorrelHeadset;
        case 2:
        case 3:
        case 4:
            return DeviceType::SorrelReceiver;
        case 5:
        case 6:
            return DeviceType::SorrelPlusHeadset;
        case 7:
        case 8:
        case 9:
            return DeviceType::SorrelPlusReceiver;
        default:
            return DeviceType::Unknown;
    }
}

QString KnownDeviceTable::familyName(DeviceType type) {
    switch (type) {
        case DeviceType::SorrelHeadset:
            return QString::fromLatin1(kFamilyNames[1]);
        case DeviceType::SorrelReceiver:
            return QString::fromLatin1(kFamilyNames[3]);
        case DeviceType::SorrelPlusHeadset:
            return QString::fromLatin1(kFamilyNames[6]);
        case DeviceType::SorrelPlusReceiver:
            return QString::fromLatin1(kFamilyNames[8]);
        case DeviceType::Unknown:
            break;
    }
    return {};
}

}  // namespace UIMediator
