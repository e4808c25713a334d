#pragma once

#include <QString>
#include <QUrl>

#include "io/version.h"

namespace Updater {

// The request URLs of the update service. The fixed segments are what the service expects whatever this
// program's own version is; do not derive them from it.
class ServiceUrl {
public:
    // MELDRA_UPDATE_URL from the environment when set (tests and the demo use a local service), else the
    // base URL compiled in. Trailing slashes are dropped, so "http://host:8080/" works as well.
    [[nodiscard]] static QString defaultBase();

    [[nodiscard]] static QUrl firmwareMetadata(const QString& base, const QString& model,
                                               const Global::Version& revision);
    [[nodiscard]] static QUrl softwareMetadata(const QString& base, const QString& platform);
};

}  // namespace Updater
