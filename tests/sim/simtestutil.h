#pragma once

#include <hidapi/hidapi.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

#include "sim/hidsim.h"
#include "tests/support/simbus.h"

namespace SimTest {

struct HandleCloser {
    void operator()(hid_device* handle) const {
        if (handle)
            hid_close(handle);
    }
};
using Handle = std::unique_ptr<hid_device, HandleCloser>;

inline QByteArray bytes(std::initializer_list<int> list) {
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

struct Found {
    QString path;
    QString serial;
    bool hasSerial = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
    quint16 usagePage = 0;
    quint16 usage = 0;
};

inline QVector<Found> enumerateAll(quint16 vendorId = 0, quint16 productId = 0) {
    QVector<Found> out;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (hid_device_info* i = list; i; i = i->next) {
        Found f;
        f.path = QString::fromUtf8(i->path);
        f.hasSerial = i->serial_number != nullptr;
        if (i->serial_number)
            f.serial = QString::fromWCharArray(i->serial_number);
        f.vendorId = i->vendor_id;
        f.productId = i->product_id;
        f.usagePage = i->usage_page;
        f.usage = i->usage;
        out.append(f);
    }
    hid_free_enumeration(list);
    return out;
}

inline QString pathOf(const QString& serial, quint16 usagePage) {
    for (const Found& f : enumerateAll()) {
        if (f.serial == serial && f.usagePage == usagePage)
            return f.path;
    }
    return QString();
}

inline Handle open(const QString& serial, quint16 usagePage) {
    const QString path = pathOf(serial, usagePage);
    return Handle(path.isEmpty() ? nullptr : hid_open_path(path.toUtf8().constData()));
}

inline int write(hid_device* handle, const QByteArray& report) {
    return hid_write(handle, reinterpret_cast<const unsigned char*>(report.constData()),
                     size_t(report.size()));
}

// The reply, or the hidapi result as a one-element failure marker when it is not positive.
inline QByteArray read(hid_device* handle, int length, int timeoutMs, int* result = nullptr) {
    QByteArray buffer(length, '\0');
    const int n =
        hid_read_timeout(handle, reinterpret_cast<unsigned char*>(buffer.data()), size_t(length), timeoutMs);
    if (result)
        *result = n;
    return n > 0 ? buffer.left(n) : QByteArray();
}

// The sim tests' own default firmware; the rest as the bus has it.
inline HidSim::DeviceSetup setup(HidSim::DeviceType type, const QString& serial,
                               const QString& firmware = "1.45.0", int revision = 0) {
    return TestSupport::device(type, serial, firmware, revision);
}

using TestSupport::waitFor;

inline HidSim::Timings fastTimings() {
    return TestSupport::fastBusTimings();
}

}  // namespace SimTest
