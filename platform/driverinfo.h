#pragma once

#include <QString>
#include <QtGlobal>

namespace Platform {

// Whether the operating system has a driver for a USB device. The flashing engine needs one for the
// device in update mode; without it the update still goes on.
class DriverInfo {
public:
    [[nodiscard]] static bool isInstalled(quint16 vendor_id, quint16 product_id);

#ifndef Q_OS_WIN
    // The same question asked of a sysfs tree laid out like /sys/bus/usb/devices.
    [[nodiscard]] static bool isInstalledUnder(const QString& usb_devices_dir, quint16 vendor_id,
                                               quint16 product_id);
#endif
};

}  // namespace Platform
