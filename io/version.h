#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

namespace Global {

// major.minor.patch packed into 24 bits, plus a 32-bit build number. Valid when the packed part is non-zero.
class Version {
public:
    constexpr Version() = default;
    constexpr Version(quint32 packed, quint32 build) : m_packed(packed & 0xffffffu), m_build(build) {}

    [[nodiscard]] static constexpr quint32 compose(quint32 major, quint32 minor, quint32 patch) {
        return (major & 0xffu) << 16 | (minor & 0xffu) << 8 | (patch & 0xffu);
    }

    [[nodiscard]] constexpr quint32 packed() const { return m_packed; }
    [[nodiscard]] constexpr quint32 build() const { return m_build; }
    [[nodiscard]] constexpr quint32 major() const { return (m_packed >> 16) & 0xffu; }
    [[nodiscard]] constexpr quint32 minor() const { return (m_packed >> 8) & 0xffu; }
    [[nodiscard]] constexpr quint32 patch() const { return m_packed & 0xffu; }
    [[nodiscard]] constexpr bool isValid() const { return m_packed != 0; }

    // "major.minor.patch[-build]"; anything else yields the invalid version or zeroed parts, never an error.
    [[nodiscard]] static Version fromString(const QString& text, int base = 10);

    // Replaces M, m, p and b of the format by the numbers; an invalid version gives a null string.
    [[nodiscard]] QString toString(const QString& format, int base = 10) const;

    constexpr bool operator==(const Version& o) const {
        return m_packed == o.m_packed && m_build == o.m_build;
    }
    constexpr bool operator!=(const Version& o) const { return !(*this == o); }
    constexpr bool operator<(const Version& o) const {
        return m_packed < o.m_packed || (m_packed == o.m_packed && m_build < o.m_build);
    }
    constexpr bool operator>(const Version& o) const { return o < *this; }

private:
    quint32 m_packed = 0;
    quint32 m_build = 0;
};

}  // namespace Global

Q_DECLARE_TYPEINFO(Global::Version, Q_PRIMITIVE_TYPE);
Q_DECLARE_METATYPE(Global::Version)
