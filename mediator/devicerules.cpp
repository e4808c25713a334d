#include "mediator/devicerules.h"

#include "io/iodevicescanner.h"
#include "mediator/knowndevicetable.h"

namespace UIMediator {

namespace {

constexpr DeviceRules::DeviceType kTypes[] = {
    DeviceRules::DeviceType::SorrelHeadset, DeviceRules::DeviceType::SorrelReceiver,
    DeviceRules::DeviceType::SorrelPlusHeadset, DeviceRules::DeviceType::SorrelPlusReceiver};

DeviceRules::Choice choose(QVector<DeviceRules::Device> devices) {
    DeviceRules::Choice choice;
    choice.match = devices.isEmpty()     ? DeviceRules::Match::None
                   : devices.size() == 1 ? DeviceRules::Match::One
                                         : DeviceRules::Match::Many;
    choice.devices = std::move(devices);
    return choice;
}

QVector<DeviceRules::Device> ofTypes(const Io::IoDeviceInfoList& devices,
                                     const QVector<DeviceRules::DeviceType>& types) {
    QVector<DeviceRules::Device> found;
    for (const DeviceRules::Device& device : DeviceRules::known(devices)) {
        if (types.contains(device.type))
            found.append(device);
    }
    return found;
}

}  // namespace

Io::DeviceId DeviceRules::Device::id() const {
    const Io::DeviceId u = KnownDeviceTable::updateModeId(type);
    return updateMode ? u : KnownDeviceTable::normalModeId(u, 0);
}

QVector<DeviceRules::Device> DeviceRules::known(const Io::IoDeviceInfoList& devices) {
    QVector<Device> found;
    for (const Io::IoDeviceInfo& info : devices) {
        for (const DeviceType type : kTypes) {
            const Io::DeviceId u = KnownDeviceTable::updateModeId(type);
            const bool update_mode = info.paths().contains(u);
            if (update_mode || info.paths().contains(KnownDeviceTable::normalModeId(u, 0))) {
                found.append(Device{type, update_mode, info});
                break;
            }
        }
    }
    return found;
}

Io::IoDeviceInfoList DeviceRules::ofType(const Io::IoDeviceInfoList& devices, DeviceType type) {
    const Io::DeviceId u = KnownDeviceTable::updateModeId(type);
    return Io::IoDeviceScanner::filterByIds(devices, {u, KnownDeviceTable::normalModeId(u, 0)});
}

bool DeviceRules::anyInUpdateMode(const Io::IoDeviceInfoList& devices, DeviceType type) {
    return !Io::IoDeviceScanner::filterByIds(devices, {KnownDeviceTable::updateModeId(type)}).isEmpty();
}

DeviceRules::Choice DeviceRules::one(const Io::IoDeviceInfoList& devices, DeviceType type) {
    if (KnownDeviceTable::updateModeId(type).isValid())
        return choose(ofTypes(devices, {type}));
    return {};
}

QVector<DeviceRules::DeviceType> DeviceRules::similarTypes(DeviceType type) {
    if (isReceiver(type))
        return {DeviceType::SorrelReceiver, DeviceType::SorrelPlusReceiver};
    if (isHeadset(type))
        return {DeviceType::SorrelHeadset, DeviceType::SorrelPlusHeadset};
    return {};
}

bool DeviceRules::isReceiver(DeviceType type) {
    return type == DeviceType::SorrelReceiver || type == DeviceType::SorrelPlusReceiver;
}

bool DeviceRules::isHeadset(DeviceType type) {
    return type == DeviceType::SorrelHeadset || type == DeviceType::SorrelPlusHeadset;
}

DeviceRules::Choice DeviceRules::oneSimilar(const Io::IoDeviceInfoList& devices, DeviceType type) {
    return choose(ofTypes(devices, similarTypes(type)));
}

DeviceRules::Choice DeviceRules::bySerial(const Io::IoDeviceInfoList& devices, const QString& serial_number) {
    for (const Device& device : known(devices)) {
        if (device.info.serialNumber() == serial_number)
            return oneSimilar(devices, device.type);
    }
    return {};
}

}  // namespace UIMediator
