#include "platform/systemsettings.h"

#include <QSettings>

namespace Platform {

SystemSettings::SystemSettings(const QString& key) : m_location(key) {}

QString SystemSettings::value(const QString& name) const {
    const QSettings registry(m_location, QSettings::Registry64Format);
    return registry.value(name).toString();
}

QString SystemSettings::machinePath(const QString& path) {
    return path;
}

}  // namespace Platform
