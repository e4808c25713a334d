#include "updater/offer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace Updater {

Offer Offer::readFirmware(const QByteArray& body, const QString& kind, const Global::Version& current) {
    return read(body, QStringLiteral("firmwares"), QStringLiteral("fw_version_%1").arg(kind),
                QStringLiteral("fw_download_url_%1").arg(kind), current);
}

Offer Offer::readSoftware(const QByteArray& body, const Global::Version& current) {
    return read(body, QStringLiteral("apps"), QStringLiteral("latest_app_version"),
                QStringLiteral("app_update_url"), current);
}

Offer Offer::read(const QByteArray& body, const QString& array_key, const QString& version_key,
                  const QString& url_key, const Global::Version& current) {
    // Anything that is not an object, or an object without the array, reads as an empty list of offers.
    const QJsonArray offers = QJsonDocument::fromJson(body).object().value(array_key).toArray();
    Offer offer;
    for (const QJsonValue& element : offers) {
        const QJsonObject fields = element.toObject();
        const Global::Version version = Global::Version::fromString(fields.value(version_key).toString(), 10);
        if (!version.isValid()) {
            continue;
        }
        // The first valid element speaks for the service; later ones are never looked at.
        offer.m_version = version;
        if (current < version) {
            offer.m_decision = Decision::Accepted;
            offer.m_url = QUrl(fields.value(url_key).toString(), QUrl::TolerantMode);
        } else {
            offer.m_decision = Decision::UpToDate;
        }
        break;
    }
    return offer;
}

}  // namespace Updater
