#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace Global {

// Names one online update request across every downloader of the process; -1 names none.
class Id {
public:
    constexpr Id() = default;
    constexpr explicit Id(qint32 value) : m_value(value) {}

    [[nodiscard]] constexpr qint32 value() const { return m_value; }
    [[nodiscard]] constexpr bool isValid() const { return m_value >= 0; }

    // 0, 1, 2, ... from one atomic counter; after the largest value the sequence starts again at 0.
    [[nodiscard]] static Id nextId();

    constexpr bool operator==(const Id& other) const { return m_value == other.m_value; }
    constexpr bool operator!=(const Id& other) const { return m_value != other.m_value; }

private:
    qint32 m_value = -1;
};

}  // namespace Global

Q_DECLARE_TYPEINFO(Global::Id, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(Global::Id)
