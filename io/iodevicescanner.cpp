#include "io/iodevicescanner.h"

#include <hidapi.h>
#include <QTimer>
#include <utility>

namespace Io {

IoDeviceScanner::IoDeviceScanner(IIoContext::Shared context, QObject* parent)
    : QObject(parent), m_context(std::move(context)), m_timer(std::make_unique<QTimer>()) {
    connect(m_timer.get(), &QTimer::timeout, this, [this] { emit detected(scan()); });
}

IoDeviceScanner::~IoDeviceScanner() = default;

IoDeviceInfoList IoDeviceScanner::scan() {
    IoDeviceInfoList list;
    if (!m_context) {
        return list;
    }
    const auto lock = m_context->lock();
    hid_device_info* const devices = hid_enumerate(0, 0);
    for (const hid_device_info* device = devices; device != nullptr; device = device->next) {
        const QByteArray path(device->path);
        if (path.isEmpty()) {
            continue;
        }
        const QString serial_number =
            device->serial_number != nullptr ? QString::fromWCharArray(device->serial_number) : QString();
        const DeviceId id(device->vendor_id, device->product_id, device->usage_page, device->usage);

        // The first record of the same device that lacks this interface takes it; a repeated interface means
        // a second device with the same serial number, which starts a record of its own.
        bool matched = false;
        for (IoDeviceInfo& entry : list) {
            if (entry.matches(device->vendor_id, device->product_id, serial_number) &&
                !entry.paths().contains(id)) {
                entry.addPath(id, path);
                matched = true;
                break;
            }
        }
        if (!matched) {
            IoDeviceInfo entry(device->vendor_id, device->product_id, serial_number);
            if (entry.addPath(id, path)) {
                list.append(std::move(entry));
            }
        }
    }
    hid_free_enumeration(devices);
    return list;
}

IoDeviceInfoList IoDeviceScanner::filter(const IoDeviceInfoList& list, const Predicate& predicate) {
    IoDeviceInfoList result;
    if (!predicate) {
        return result;
    }
    for (const IoDeviceInfo& entry : list) {
        if (predicate(entry)) {
            result.append(entry);
        }
    }
    return result;
}

IoDeviceInfoList IoDeviceScanner::filterByIds(const IoDeviceInfoList& list, const QVector<DeviceId>& ids) {
    return filter(list, [&ids](const IoDeviceInfo& entry) {
        for (const DeviceId& id : ids) {
            if (!entry.path(id).isEmpty()) {
                return true;
            }
        }
        return false;
    });
}

IoDeviceInfoList IoDeviceScanner::filterBySerialNumber(const IoDeviceInfoList& list,
                                                       const QString& serial_number) {
    return filter(
        list, [&serial_number](const IoDeviceInfo& entry) { return entry.serialNumber() == serial_number; });
}

}  // namespace Io

// Compiled here rather than in the core's shared moc unit, which the installer links without the HID code.
#include "moc_iodevicescanner.cpp"
