#include "platform/systemsettings.h"

#include <QSettings>
#include <QStringList>

namespace Platform {

namespace {

QString iniFileFor(const QString& key) {
    QStringList parts = key.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (!parts.isEmpty()) {
        parts.removeFirst();
    }
    if (!parts.isEmpty() && parts.constFirst().compare(QLatin1String("SOFTWARE"), Qt::CaseInsensitive) == 0) {
        parts.removeFirst();
    }
    // A key is compiled in, but a part that climbs out of the directory is still not followed.
    parts.removeAll(QStringLiteral(".."));
    return SystemSettings::machinePath(QStringLiteral("/etc/xdg/")) + parts.join(QLatin1Char('/')) +
           QStringLiteral(".ini");
}

}  // namespace

SystemSettings::SystemSettings(const QString& key) : m_location(iniFileFor(key)) {}

QString SystemSettings::value(const QString& name) const {
    const QSettings file(m_location, QSettings::IniFormat);
    const QVariant value = file.value(name);
    // An unquoted value with a comma reads as a list; a path may well contain one.
    if (value.type() == QVariant::StringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

QString SystemSettings::machinePath(const QString& path) {
    const QString root = qEnvironmentVariable("MELDRA_SYSTEM_ROOT");
    if (root.isEmpty()) {
        return path;
    }
    return root + path;
}

}  // namespace Platform
