#pragma once

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QStringList>
#include <QVector>

#include "tools/updateservice/httpserver.h"
#include "updater/updatedownloader.h"

namespace OnlineTest {

using Updater::UpdateDownloader;
using Updater::UpdateRecord;

inline QByteArray firmwareTarget(const QString& model, const QString& revision) {
    return QStringLiteral("/api/pc_headsets/%1/%2/1.0.13/1.0.13/dfu_firmware/meldra/1.0.24/ios/11.4/en")
        .arg(model, revision)
        .toUtf8();
}

inline QByteArray softwareTarget(const QString& platform) {
    return QStringLiteral("/api/pc_headsets/SorrelPlus/SonellaDesktop/1.38.0/app_info/%1/11.4/en")
        .arg(platform)
        .toUtf8();
}

inline HttpServer::Response body(const QByteArray& bytes, int status = 200) {
    HttpServer::Response response;
    response.status = status;
    response.body = bytes;
    return response;
}

inline HttpServer::Response redirect(const QByteArray& location, int status = 302) {
    HttpServer::Response response;
    response.status = status;
    response.location = location;
    return response;
}

inline QByteArray firmwareOffers(const QString& kind, const QList<QPair<QString, QString>>& offers) {
    QJsonArray array;
    for (const auto& offer : offers) {
        QJsonObject element;
        element.insert(QStringLiteral("fw_version_") + kind, offer.first);
        element.insert(QStringLiteral("fw_download_url_") + kind, offer.second);
        array.append(element);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("firmwares"), array}}).toJson(QJsonDocument::Compact);
}

inline QByteArray softwareOffers(const QList<QPair<QString, QString>>& offers) {
    QJsonArray array;
    for (const auto& offer : offers) {
        array.append(QJsonObject{{QStringLiteral("latest_app_version"), offer.first},
                                 {QStringLiteral("app_update_url"), offer.second}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("apps"), array}}).toJson(QJsonDocument::Compact);
}

// Everything a downloader reports, in order. Connected directly: the status type is not a metatype.
class Recorder {
public:
    struct Event {
        Global::Id id;
        QString what;  // a status name, or "record"
        UpdateRecord::Shared record;
    };

    explicit Recorder(UpdateDownloader* downloader) {
        QObject::connect(downloader, &UpdateDownloader::updateRecordStatusChanged, downloader,
                         [this](Global::Id id, UpdateDownloader::Status status) {
                             const QMetaEnum names = QMetaEnum::fromType<UpdateDownloader::Status>();
                             events.append({id, QString::fromLatin1(names.valueToKey(int(status))), {}});
                         });
        QObject::connect(downloader, &UpdateDownloader::updateRecordAvaliable, downloader,
                         [this](Global::Id id, const UpdateRecord::Shared& record) {
                             events.append({id, QStringLiteral("record"), record});
                         });
    }

    [[nodiscard]] QString trail(Global::Id id) const {
        QStringList names;
        for (const Event& event : events) {
            if (event.id == id) {
                names << event.what;
            }
        }
        return names.join(QLatin1Char(','));
    }

    [[nodiscard]] UpdateRecord::Shared record(Global::Id id) const {
        for (const Event& event : events) {
            if (event.id == id && event.record) {
                return event.record;
            }
        }
        return {};
    }

    QVector<Event> events;
};

// Every entry below root, as relative paths, hidden ones included.
inline QStringList tree(const QString& root) {
    QStringList entries;
    QDir dir(root);
    const auto infos =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : infos) {
        entries << info.fileName();
        if (info.isDir() && !info.isSymLink()) {
            for (const QString& child : tree(info.filePath())) {
                entries << info.fileName() + QLatin1Char('/') + child;
            }
        }
    }
    return entries;
}

}  // namespace OnlineTest
