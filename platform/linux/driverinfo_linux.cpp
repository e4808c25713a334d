#include <QDir>
#include <QFile>

#include "platform/driverinfo.h"

namespace Platform {

namespace {

bool readsHex(const QString& file_name, quint16 expected) {
    QFile file(file_name);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const uint value = file.read(16).trimmed().toUInt(&ok, 16);
    return ok && value == expected;
}

}  // namespace

bool DriverInfo::isInstalled(quint16 vendor_id, quint16 product_id) {
    return isInstalledUnder(QStringLiteral("/sys/bus/usb/devices"), vendor_id, product_id);
}

bool DriverInfo::isInstalledUnder(const QString& usb_devices_dir, quint16 vendor_id, quint16 product_id) {
    const QDir root(usb_devices_dir);
    const QStringList entries = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& device : entries) {
        const QString device_dir = root.filePath(device);
        if (!readsHex(device_dir + QStringLiteral("/idVendor"), vendor_id) ||
            !readsHex(device_dir + QStringLiteral("/idProduct"), product_id))
            continue;
        // Every USB device is bound to the generic device driver; what matters is a driver on one of its
        // interfaces ("<device>:<configuration>.<interface>").
        const QDir dir(device_dir);
        const QStringList interfaces =
            dir.entryList({device + QStringLiteral(":*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
        for (const QString& interface : interfaces) {
            if (QFile::exists(dir.filePath(interface) + QStringLiteral("/driver")))
                return true;
        }
    }
    return false;
}

}  // namespace Platform
