#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

namespace Io {

// One HID interface: USB vendor and product id plus the usage page and usage of its top-level collection.
class DeviceId {
public:
    constexpr DeviceId() = default;
    constexpr DeviceId(quint16 vendor_id, quint16 product_id, quint16 usage_page, quint16 usage)
        : m_vendorId(vendor_id), m_productId(product_id), m_usagePage(usage_page), m_usage(usage) {}

    [[nodiscard]] constexpr quint16 vendorId() const { return m_vendorId; }
    [[nodiscard]] constexpr quint16 productId() const { return m_productId; }
    [[nodiscard]] constexpr quint16 usagePage() const { return m_usagePage; }
    [[nodiscard]] constexpr quint16 usage() const { return m_usage; }

    [[nodiscard]] constexpr bool isValid() const { return m_vendorId != 0 && m_productId != 0; }

    // "46d.a92.ff00.1"; "null" for an invalid id. Also the name of the device's firmware folder.
    [[nodiscard]] QString toString() const;

    constexpr bool operator==(const DeviceId& other) const {
        return m_vendorId == other.m_vendorId && m_productId == other.m_productId &&
               m_usagePage == other.m_usagePage && m_usage == other.m_usage;
    }
    constexpr bool operator!=(const DeviceId& other) const { return !(*this == other); }

private:
    quint16 m_vendorId = 0;
    quint16 m_productId = 0;
    quint16 m_usagePage = 0;
    quint16 m_usage = 0;
};

// Hashes the text form, so every invalid id lands in the bucket of "null".
uint qHash(const DeviceId& id, uint seed = 0);

}  // namespace Io

Q_DECLARE_TYPEINFO(Io::DeviceId, Q_PRIMITIVE_TYPE);
Q_DECLARE_METATYPE(Io::DeviceId)
