#include <hidapi/hidapi.h>

#include <string>

#include "sim/bus.h"

using HidSim::Bus;
using HidSim::TrafficKind;

namespace {

// hid_error(NULL) reports the last failure of an open on this thread.
thread_local std::wstring t_lastError;

const hid_api_version kVersion = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};

}  // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) {
    Bus::instance();
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void) {
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id) {
    return Bus::instance().enumerate(vendor_id, product_id);
}

// Not hidapi's: how the simulated bus announces arrivals and departures, in place of the system's device
// notifications, which know nothing of it. A count that moves on with every change, or -1 when the bus
// announces nothing.
HID_API_EXPORT long long HID_API_CALL hidsim_bus_changes(void) {
    return Bus::instance().announcedChanges();
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs) {
    HidSim::HandleTable::freeInfo(devs);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t* serial_number) {
    return Bus::instance().open(vendor_id, product_id, serial_number, &t_lastError);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
    return Bus::instance().open(path, &t_lastError);
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    return dev ? Bus::instance().write(dev, data, length, TrafficKind::Write) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data, size_t length,
                                                 int milliseconds) {
    return dev ? Bus::instance().read(dev, data, length, milliseconds) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length) {
    if (!dev)
        return -1;
    return Bus::instance().read(dev, data, length, Bus::kBlockingMode);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int nonblock) {
    return dev ? Bus::instance().setNonBlocking(dev, nonblock != 0) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device* dev, const unsigned char* data,
                                                        size_t length) {
    return dev ? Bus::instance().write(dev, data, length, TrafficKind::SendFeature) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device* dev, unsigned char* data, size_t length) {
    return dev ? Bus::instance().getReport(dev, data, length, TrafficKind::GetFeature) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device* dev, unsigned char* data, size_t length) {
    return dev ? Bus::instance().getReport(dev, data, length, TrafficKind::GetInput) : -1;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
    Bus::instance().close(dev);
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return dev ? Bus::instance().string(dev, 0, string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return dev ? Bus::instance().string(dev, 1, string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return dev ? Bus::instance().string(dev, 2, string, maxlen) : -1;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info(hid_device* dev) {
    return dev ? Bus::instance().deviceInfo(dev) : nullptr;
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device* dev, int string_index, wchar_t* string,
                                               size_t maxlen) {
    if (dev)
        Bus::instance().setError(dev, L"hidsim: indexed strings are not supported");
    return -1;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev) {
    if (!dev)
        return t_lastError.empty() ? nullptr : t_lastError.c_str();
    return Bus::instance().error(dev);
}

HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version(void) {
    return &kVersion;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str(void) {
    return HID_API_VERSION_STR;
}

}  // extern "C"
