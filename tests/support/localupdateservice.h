#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include "tools/updateservice/httpserver.h"

// The local update service on loopback, in-process, serving a catalog folder of its own. The port may be
// chosen before the program starts, since the program reads the service's address once, when its update
// manager is made. It offers nothing until told to.
class LocalUpdateService {
public:
    LocalUpdateService();

    // A loopback port that was free a moment ago.
    [[nodiscard]] static quint16 freePort();

    // Port 0: any free one.
    bool listen(quint16 port, QString* error);
    [[nodiscard]] QString baseUrl() const { return m_server.baseUrl(); }

    // Replaces the firmware offers of a model. An empty version leaves that kind out; the files are copied
    // into the catalog under fresh names, so a new offer never shares a download with an old one.
    bool offerFirmware(const QString& model, const QString& receiver_version, const QString& receiver_image,
                       const QString& headset_version, const QString& headset_image, QString* error);
    // signature, when given, is served beside the file as its ".minisig".
    bool offerProgram(const QString& platform, const QString& version, const QString& file, QString* error,
                      const QByteArray& signature = {});
    void withdrawAll();

    [[nodiscard]] QList<QByteArray> requests() const { return m_server.requests(); }
    [[nodiscard]] int countRequests(const QByteArray& part) const;
    void clearRequests() { m_server.clearRequests(); }
    [[nodiscard]] HttpServer& server() { return m_server; }

private:
    QString copyIn(const QString& source, const QString& name, QString* error,
                   const QString& image_version = QString());

    QTemporaryDir m_folder;
    HttpServer m_server;
    int m_serial = 0;
};
