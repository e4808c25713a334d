#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QVector>

#include "io/deviceid.h"

namespace Io {

// One physical device on the HID bus (vendor id, product id, serial number) with the path of each interface.
class IoDeviceInfo {
public:
    IoDeviceInfo() = default;
    IoDeviceInfo(quint16 vendor_id, quint16 product_id, const QString& serial_number)
        : m_serialNumber(serial_number), m_vendorId(vendor_id), m_productId(product_id) {}

    [[nodiscard]] const QString& serialNumber() const { return m_serialNumber; }
    [[nodiscard]] quint16 vendorId() const { return m_vendorId; }
    [[nodiscard]] quint16 productId() const { return m_productId; }
    [[nodiscard]] const QHash<DeviceId, QByteArray>& paths() const { return m_paths; }

    [[nodiscard]] bool matches(quint16 vendor_id, quint16 product_id, const QString& serial_number) const;
    [[nodiscard]] QByteArray path(const DeviceId& id) const;
    bool addPath(const DeviceId& id, const QByteArray& path);

private:
    QHash<DeviceId, QByteArray> m_paths;
    QString m_serialNumber;
    quint16 m_vendorId = 0;
    quint16 m_productId = 0;
};

using IoDeviceInfoList = QVector<IoDeviceInfo>;

}  // namespace Io

Q_DECLARE_TYPEINFO(Io::IoDeviceInfo, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(Io::IoDeviceInfo)
Q_DECLARE_METATYPE(Io::IoDeviceInfoList)
