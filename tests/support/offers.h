#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include "tools/updateservice/httpserver.h"

// What the update service says, built the way it says it, for the suites that play the service.
namespace TestSupport {

// The request targets the program sends for a model's firmware and for a platform's program.
[[nodiscard]] QByteArray firmwareTarget(const QString& model, const QString& revision);
[[nodiscard]] QByteArray softwareTarget(const QString& platform);

[[nodiscard]] HttpServer::Response body(const QByteArray& bytes, int status = 200);
[[nodiscard]] HttpServer::Response redirect(const QByteArray& location, int status = 302);

// Adds one kind ("dongle", "headset") of firmware to an element of the firmware list.
void addFirmwareOffer(QJsonObject* element, const QString& kind, const QString& version, const QString& url);
// A firmware list with one element per (version, url) of one kind.
[[nodiscard]] QByteArray firmwareOffers(const QString& kind, const QList<QPair<QString, QString>>& offers);
[[nodiscard]] QByteArray firmwareList(const QJsonObject& element);
[[nodiscard]] QByteArray softwareOffers(const QList<QPair<QString, QString>>& offers);

}  // namespace TestSupport
