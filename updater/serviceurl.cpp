#include "updater/serviceurl.h"

#include <QtGlobal>

namespace Updater {

namespace {

const char kFirmwareTemplate[] =
    "%1/api/pc_headsets/%2/%3/1.0.13/1.0.13/dfu_firmware/meldra/1.0.24/ios/11.4/en";
const char kSoftwareTemplate[] = "%1/api/pc_headsets/SorrelPlus/SonellaDesktop/1.38.0/app_info/%2/11.4/en";

}  // namespace

QString ServiceUrl::defaultBase() {
    QString base = qEnvironmentVariable("MELDRA_UPDATE_URL");
    if (base.isEmpty()) {
        base = QStringLiteral(MELDRA_UPDATE_BASE_URL);
    }
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base;
}

QUrl ServiceUrl::firmwareMetadata(const QString& base, const QString& model,
                                  const Global::Version& revision) {
    // The build number never reaches the URL; an invalid revision leaves its segment empty on purpose.
    const QString text = QString::fromLatin1(kFirmwareTemplate)
                             .arg(base, 0, QLatin1Char(' '))
                             .arg(model, 0, QLatin1Char(' '))
                             .arg(revision.toString(QStringLiteral("M.m.p"), 10), 0, QLatin1Char(' '));
    return QUrl(text, QUrl::TolerantMode);
}

QUrl ServiceUrl::softwareMetadata(const QString& base, const QString& platform) {
    const QString text = QString::fromLatin1(kSoftwareTemplate)
                             .arg(base, 0, QLatin1Char(' '))
                             .arg(platform, 0, QLatin1Char(' '));
    return QUrl(text, QUrl::TolerantMode);
}

}  // namespace Updater
