#include "io/iodevicescanner.h"

#include <hidapi.h>
#include <QTimer>
#include <algorithm>
#include <cwchar>
#include <utility>

namespace Io {

namespace {

// A device has one or two interfaces: walking them is cheaper than hashing the id, which the scan and the
// filters of every poll would otherwise do hundreds of times.
bool hasInterface(const IoDeviceInfo& entry, const DeviceId& id) {
    for (auto it = entry.paths().cbegin(); it != entry.paths().cend(); ++it) {
        if (it.key() == id) {
            return true;
        }
    }
    return false;
}

// Whether a wide character needs more than one QChar, or is half of a pair, which only Qt's decoder handles.
bool isOutsideBasicPlane(quint32 c) {
    return c > 0xffff || (c >= 0xd800 && c < 0xe000);
}

// Serial numbers are short and nearly always within the Basic Multilingual Plane, where each wide character
// is one QChar; that path skips the general UTF-32 decoder, which is most of a scan's own cost. Anything
// else, and every 16-bit wchar_t, goes through Qt's conversion.
QString fromWide(const wchar_t* text) {
    if (text == nullptr) {
        return {};
    }
    const std::size_t length = std::wcslen(text);
    if (sizeof(wchar_t) == sizeof(QChar) ||
        std::any_of(text, text + length, [](wchar_t c) { return isOutsideBasicPlane(quint32(c)); })) {
        return QString::fromWCharArray(text, int(length));
    }
    QString out(int(length), Qt::Uninitialized);
    QChar* data = out.data();
    for (std::size_t i = 0; i < length; ++i) {
        data[i] = QChar(char16_t(text[i]));
    }
    return out;
}

}  // namespace

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
    int interfaces = 0;
    for (const hid_device_info* device = devices; device != nullptr; device = device->next) {
        ++interfaces;
    }
    list.reserve(interfaces);
    for (const hid_device_info* device = devices; device != nullptr; device = device->next) {
        const QByteArray path(device->path);
        if (path.isEmpty()) {
            continue;
        }
        const QString serial_number = fromWide(device->serial_number);
        const DeviceId id(device->vendor_id, device->product_id, device->usage_page, device->usage);

        // The first record of the same device that lacks this interface takes it; a repeated interface means
        // a second device with the same serial number, which starts a record of its own.
        bool matched = false;
        for (IoDeviceInfo& entry : list) {
            if (entry.matches(device->vendor_id, device->product_id, serial_number) &&
                !hasInterface(entry, id)) {
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
        for (auto it = entry.paths().cbegin(); it != entry.paths().cend(); ++it) {
            if (!it.value().isEmpty() && ids.contains(it.key())) {
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
