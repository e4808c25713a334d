#pragma once

#include <QDir>
#include <QMetaEnum>
#include <QStringList>
#include <QVector>

#include "mediator/firmwareimage.h"
#include "mediator/knowndevicetable.h"
#include "tests/support/files.h"
#include "tests/support/offers.h"
#include "tools/updateservice/httpserver.h"
#include "updater/updatedownloader.h"

namespace OnlineTest {

using Updater::UpdateDownloader;
using Updater::UpdateRecord;

using TestSupport::body;
using TestSupport::firmwareOffers;
using TestSupport::firmwareTarget;
using TestSupport::redirect;
using TestSupport::softwareOffers;
using TestSupport::softwareTarget;

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

// A missing file reads as text no download can produce.
inline QByteArray readAll(const QString& path) {
    return TestSupport::readFile(path, "<missing>");
}

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
