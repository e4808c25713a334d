#pragma once

#include <QString>

namespace Platform {

// Machine-wide settings that other programs install. Windows: a registry key, read in the 64-bit view.
// Linux: an INI file under /etc/xdg named after the key without its root and "SOFTWARE" parts, so
// "HKEY_LOCAL_MACHINE\SOFTWARE\Corvin\Pairwell" is /etc/xdg/Corvin/Pairwell.ini with its values in
// [General]. MELDRA_SYSTEM_ROOT, when set, is put in front of every machine path on Linux.
class SystemSettings {
public:
    explicit SystemSettings(const QString& key);

    // An empty string when the value or the key is missing.
    [[nodiscard]] QString value(const QString& name) const;
    // The registry key or the file that is read.
    [[nodiscard]] QString location() const { return m_location; }

    // Where an absolute machine path lies on this system.
    [[nodiscard]] static QString machinePath(const QString& path);

private:
    QString m_location;
};

}  // namespace Platform
