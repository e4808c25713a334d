#include "sim/handletable.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "sim/devicemodel.h"
#include "sim/devicetable.h"
#include "sim/simdevice.h"
#include "sim/simhandle.h"
#include "sim/trafficlog.h"

namespace HidSim {

namespace {

// hidapi's callers free these strings with free(), so they come from malloc.
wchar_t* copyWide(const QString& text) {
    const std::wstring wide = text.toStdWString();
    auto* out = static_cast<wchar_t*>(std::malloc((wide.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(out, wide.c_str(), wide.size() + 1);
    return out;
}

hid_device_info* makeInfo(const SimDevice& device, const SimInterface& interface) {
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    info->path = strdup(interface.id.path.toUtf8().constData());
    info->vendor_id = interface.id.vendorId;
    info->product_id = interface.id.productId;
    info->serial_number = device.setup.serial.isNull() ? nullptr : copyWide(device.setup.serial);
    DeviceModel::Firmware fw;
    QString ignored;
    if (DeviceModel::parseFirmware(device.setup.firmware, &fw, &ignored))
        info->release_number = quint16(DeviceModel::bcd(fw.major) << 8 | DeviceModel::bcd(fw.minor));
    info->manufacturer_string = copyWide(device.setup.manufacturer);
    info->product_string = copyWide(device.setup.product);
    info->usage_page = interface.id.usagePage;
    info->usage = interface.id.usage;
    info->interface_number = interface.number;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

}  // namespace

HandleTable::HandleTable(const DeviceTable& devices, TrafficLog& traffic)
    : m_devices(devices), m_traffic(traffic) {}

bool HandleTable::alive(const hid_device* handle) {
    return handle && handle->interface && handle->interface->device;
}

void HandleTable::freeInfo(hid_device_info* info) {
    while (info) {
        hid_device_info* next = info->next;
        std::free(info->path);
        std::free(info->serial_number);
        std::free(info->manufacturer_string);
        std::free(info->product_string);
        std::free(info);
        info = next;
    }
}

hid_device_info* HandleTable::enumerate(quint16 vendorId, quint16 productId) const {
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const auto& device : m_devices.all()) {
        for (const auto& interface : device->interfaces) {
            if ((vendorId && interface->id.vendorId != vendorId) ||
                (productId && interface->id.productId != productId))
                continue;
            *tail = makeInfo(*device, *interface);
            tail = &(*tail)->next;
        }
    }
    return head;
}

hid_device* HandleTable::open(const QString& path, std::wstring* error) {
    for (const auto& device : m_devices.all()) {
        for (const auto& interface : device->interfaces) {
            if (interface->id.path != path)
                continue;
            if (device->faultsFor(interface->id.usagePage).openFails) {
                m_traffic.record(TrafficKind::OpenRefused, *interface, QByteArray(), -1);
                *error = L"hidsim: open refused by fault";
                return nullptr;
            }
            auto* handle = new hid_device_;
            handle->interface = interface;
            interface->handles.push_back(handle);
            m_traffic.record(TrafficKind::Open, *interface, QByteArray(), 0);
            return handle;
        }
    }
    *error = L"hidsim: no such device path";
    return nullptr;
}

QByteArray HandleTable::pathOf(quint16 vendorId, quint16 productId, const wchar_t* serial) const {
    for (const auto& device : m_devices.all()) {
        if (serial &&
            (device->setup.serial.isNull() || device->setup.serial.toStdWString() != std::wstring(serial)))
            continue;
        for (const auto& interface : device->interfaces) {
            // Zero matches any id, as hidapi's own hid_open does through its enumeration.
            if ((!vendorId || interface->id.vendorId == vendorId) &&
                (!productId || interface->id.productId == productId))
                return interface->id.path.toUtf8();
        }
    }
    return QByteArray();
}

void HandleTable::close(hid_device* handle) {
    auto& handles = handle->interface->handles;
    handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
    if (alive(handle))
        m_traffic.record(TrafficKind::Close, *handle->interface, QByteArray(), 0);
    freeInfo(handle->info);
    delete handle;
}

int HandleTable::setNonBlocking(hid_device* handle, bool enabled) {
    handle->nonBlocking = enabled;
    return 0;
}

int HandleTable::string(hid_device* handle, int which, wchar_t* out, size_t maxlen) {
    if (!out || maxlen == 0) {
        handle->error = L"hidsim: no buffer";
        return -1;
    }
    if (!alive(handle)) {
        handle->error = L"hidsim: device disconnected";
        return -1;
    }
    const DeviceSetup& setup = handle->interface->device->setup;
    const QString text = which == 0 ? setup.manufacturer : which == 1 ? setup.product : setup.serial;
    const std::wstring wide = text.toStdWString();
    const size_t n = std::min(wide.size(), maxlen - 1);
    std::wmemcpy(out, wide.c_str(), n);
    out[n] = L'\0';
    return 0;
}

hid_device_info* HandleTable::deviceInfo(hid_device* handle) {
    if (!alive(handle)) {
        handle->error = L"hidsim: device disconnected";
        return nullptr;
    }
    if (!handle->info)
        handle->info = makeInfo(*handle->interface->device, *handle->interface);
    return handle->info;
}

void HandleTable::setError(hid_device* handle, const wchar_t* error) {
    handle->error = error;
}

const wchar_t* HandleTable::error(hid_device* handle) {
    return handle->error.empty() ? nullptr : handle->error.c_str();
}

}  // namespace HidSim
