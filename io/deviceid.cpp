#include "io/deviceid.h"

#include <QStringView>

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

namespace {

// Writes the number as toString() does (lower-case hex, no leading zeros) and returns the new end.
QChar* appendHex(QChar* out, quint16 value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    int shift = 12;
    while (shift > 0 && ((value >> shift) & 0xf) == 0) {
        shift -= 4;
    }
    for (; shift >= 0; shift -= 4) {
        *out++ = QLatin1Char(kDigits[(value >> shift) & 0xf]);
    }
    return out;
}

}  // namespace

// The same value as hashing toString(), without building the string: ids are hashed on every lookup of a
// device's paths, several hundred times per scan and filter round.
uint qHash(const DeviceId& id, uint seed) {
    if (!id.isValid()) {
        return ::qHash(QStringView(u"null"), seed);
    }
    QChar text[4 * 4 + 3];
    QChar* end = appendHex(text, id.vendorId());
    *end++ = QLatin1Char('.');
    end = appendHex(end, id.productId());
    *end++ = QLatin1Char('.');
    end = appendHex(end, id.usagePage());
    *end++ = QLatin1Char('.');
    end = appendHex(end, id.usage());
    return ::qHash(QStringView(text, end - text), seed);
}

}  // namespace Io
