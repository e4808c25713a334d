#include "tests/support/offers.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace TestSupport {

QByteArray firmwareTarget(const QString& model, const QString& revision) {
    return QStringLiteral("/api/pc_headsets/%1/%2/1.0.13/1.0.13/dfu_firmware/meldra/1.0.24/ios/11.4/en")
        .arg(model, revision)
        .toUtf8();
}

QByteArray softwareTarget(const QString& platform) {
    return QStringLiteral("/api/pc_headsets/SorrelPlus/SonellaDesktop/1.38.0/app_info/%1/11.4/en")
        .arg(platform)
        .toUtf8();
}

HttpServer::Response body(const QByteArray& bytes, int status) {
    HttpServer::Response response;
    response.status = status;
    response.body = bytes;
    return response;
}

HttpServer::Response redirect(const QByteArray& location, int status) {
    HttpServer::Response response;
    response.status = status;
    response.location = location;
    return response;
}

void addFirmwareOffer(QJsonObject* element, const QString& kind, const QString& version, const QString& url) {
    element->insert(QStringLiteral("fw_version_") + kind, version);
    element->insert(QStringLiteral("fw_download_url_") + kind, url);
}

QByteArray firmwareOffers(const QString& kind, const QList<QPair<QString, QString>>& offers) {
    QJsonArray array;
    for (const auto& offer : offers) {
        QJsonObject element;
        addFirmwareOffer(&element, kind, offer.first, offer.second);
        array.append(element);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("firmwares"), array}}).toJson(QJsonDocument::Compact);
}

QByteArray firmwareList(const QJsonObject& element) {
    return QJsonDocument(QJsonObject{{QStringLiteral("firmwares"), QJsonArray{element}}}).toJson();
}

QByteArray softwareOffers(const QList<QPair<QString, QString>>& offers) {
    QJsonArray array;
    for (const auto& offer : offers) {
        array.append(QJsonObject{{QStringLiteral("latest_app_version"), offer.first},
                                 {QStringLiteral("app_update_url"), offer.second}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("apps"), array}}).toJson(QJsonDocument::Compact);
}

}  // namespace TestSupport
