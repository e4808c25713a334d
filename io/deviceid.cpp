#include "io/deviceid.h"

namespace Io {

QString DeviceId::toString() const {
    if (!isValid()) {
        return QStringLiteral("null");
    }
    return QStringLiteral("%1.%2.%3.%4")
        .arg(m_vendorId, 0, 16)
        .arg(m_productId, 0, 16)
        .arg(m_usagePage, 0, 16)
        .arg(m_usage, 0, 16);
}

uint qHash(const DeviceId& id, uint seed) {
    return ::qHash(id.toString(), seed);
}

}  // namespace Io
