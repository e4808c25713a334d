#include "io/version.h"

#include <QStringList>

namespace Global {

namespace {

quint32 toNumber(const QString& text, int base) {
    bool ok = false;
    const quint32 value = text.toUInt(&ok, base);
    return ok ? value : 0;
}

}  // namespace

Version Version::fromString(const QString& text, int base) {
    if (text.isEmpty()) {
        return {};
    }
    const QStringList parts = text.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        return {};
    }
    const quint32 build = parts.size() == 2 ? toNumber(parts.at(1), base) : 0;

    const QStringList numbers = parts.first().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    quint32 fields[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i < numbers.size(); ++i) {
        fields[i] = toNumber(numbers.at(i), base);
    }
    return Version(compose(fields[0], fields[1], fields[2]), build);
}

QString Version::toString(const QString& format, int base) const {
    if (!isValid()) {
        return {};
    }
    // One pass over the format, so that digits of a base above 10 are never taken for letters.
    QString text;
    text.reserve(format.size() + 8);
    for (const QChar c : format) {
        switch (c.unicode()) {
            case 'M':
                text += QString::number(major(), base);
                break;
            case 'm':
                text += QString::number(minor(), base);
                break;
            case 'p':
                text += QString::number(patch(), base);
                break;
            case 'b':
                text += QString::number(m_build, base);
                break;
            default:
                text += c;
        }
    }
    return text;
}

}  // namespace Global
