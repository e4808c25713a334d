#include "io/iodeviceinfo.h"

namespace Io {

bool IoDeviceInfo::matches(quint16 vendor_id, quint16 product_id, const QString& serial_number) const {
    return m_vendorId != 0 && m_productId != 0 && m_vendorId == vendor_id && m_productId == product_id &&
           m_serialNumber == serial_number;
}

QByteArray IoDeviceInfo::path(const DeviceId& id) const {
    return m_paths.value(id);
}

bool IoDeviceInfo::addPath(const DeviceId& id, const QByteArray& path) {
    if (id.vendorId() != m_vendorId || id.productId() != m_productId || path.isEmpty()) {
        return false;
    }
    // One hash lookup instead of two, as every interface of every scan comes through here: a stored path is
    // never empty, so an empty slot is one that this call has just made.
    QByteArray& slot = m_paths[id];
    if (!slot.isEmpty()) {
        return false;
    }
    slot = path;
    return true;
}

}  // namespace Io
