#pragma once

#include <hidapi/hidapi.h>

#include <QByteArray>
#include <QString>
#include <string>

#include "sim/hidsim.h"

namespace HidSim {

class DeviceTable;
class TrafficLog;

// hidapi's view of the bus: the enumeration, the handles it opens and closes, and what a handle tells
// about its device. A handle keeps its interface alive, so one whose device left fails instead of
// touching freed memory. Lives under the bus lock.
class HandleTable {
public:
    HandleTable(const DeviceTable& devices, TrafficLog& traffic);

    [[nodiscard]] hid_device_info* enumerate(quint16 vendorId, quint16 productId) const;
    [[nodiscard]] hid_device* open(const QString& path, std::wstring* error);
    // The path hid_open takes for these ids (zero matches any) and serial number; empty when none does.
    [[nodiscard]] QByteArray pathOf(quint16 vendorId, quint16 productId, const wchar_t* serial) const;
    void close(hid_device* handle);

    int setNonBlocking(hid_device* handle, bool enabled);
    // which: 0 manufacturer, 1 product, 2 serial number.
    int string(hid_device* handle, int which, wchar_t* out, size_t maxlen);
    [[nodiscard]] hid_device_info* deviceInfo(hid_device* handle);
    void setError(hid_device* handle, const wchar_t* error);
    [[nodiscard]] const wchar_t* error(hid_device* handle);

    // True while the handle's device is still on the bus under the identity it was opened with.
    [[nodiscard]] static bool alive(const hid_device* handle);
    static void freeInfo(hid_device_info* info);

private:
    const DeviceTable& m_devices;
    TrafficLog& m_traffic;
};

}  // namespace HidSim
