#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

#include "base/smarttype.h"
#include "io/version.h"
#include "updater/globalid.h"
#include "updater/minisign.h"
#include "updater/updaterecord.h"

namespace Updater {

// Asks the update service for a newer firmware image or program and stores what it offers in one
// directory. Every request answers at once with an id; its progress arrives later through the two
// signals, always on the thread that owns the downloader.
class UpdateDownloader : public QObject, public Utils::SmartType<UpdateDownloader> {
    Q_OBJECT

public:
    // Not a registered metatype: the status signal works through direct connections only.
    enum class Status {
        Checking = 1,
        UpToDate,
        Downloading,
        Failed,
        Downloaded,
    };
    Q_ENUM(Status)

    class Completer;
    class FirmwareVersionCompleter;
    class SoftwareVersionCompleter;
    class FirmwareCompleter;
    class SoftwareCompleter;

    // The directory need not exist; it is created by the first download.
    explicit UpdateDownloader(const QString& directory, QObject* parent = nullptr);
    ~UpdateDownloader() override;

    Global::Id checkReceiverFirmware(const QString& model, const Global::Version& version,
                                     const Global::Version& revision);
    Global::Id checkHeadsetFirmware(const QString& model, const Global::Version& version,
                                    const Global::Version& revision);
    Global::Id checkSoftware(const QString& platform, const Global::Version& version);

    [[nodiscard]] const QString& directory() const { return m_directory; }

    // Defaults to ServiceUrl::defaultBase(); affects requests made afterwards.
    [[nodiscard]] const QString& baseUrl() const { return m_baseUrl; }
    void setBaseUrl(const QString& base_url);

    // The key that program and firmware downloads must be signed with; defaults to the compiled-in one.
    // Affects files that finish afterwards.
    [[nodiscard]] const std::optional<Minisign::PublicKey>& publicKey() const { return m_publicKey; }
    void setPublicKey(const std::optional<Minisign::PublicKey>& key);

    // Whether a downloaded file is a whole firmware image for the model's receiver (or headset), asked of
    // the layer that knows the devices and the engine: nothing when it is not, otherwise the major.minor
    // the image states about itself, or the invalid version when it leaves that open.
    using FirmwareCheck = std::function<std::optional<Global::Version>(const QString& path,
                                                                       const QString& model, bool receiver)>;
    // Without one, no firmware download is kept. Affects files that finish afterwards.
    void setFirmwareCheck(FirmwareCheck check) { m_firmwareCheck = std::move(check); }
    [[nodiscard]] const FirmwareCheck& firmwareCheck() const { return m_firmwareCheck; }

    // Requests whose exchange has not ended yet.
    [[nodiscard]] int pendingCount() const { return m_completers.size(); }
    // Whether the request id has not ended yet: it may still publish a file.
    [[nodiscard]] bool isPending(Global::Id id) const;

signals:
    void updateRecordAvaliable(Global::Id id, UpdateRecord::Shared update_record);
    void updateRecordStatusChanged(Global::Id id, Status status);

private:
    Global::Id checkFirmware(const QString& model, const Global::Version& version,
                             const Global::Version& revision, const QString& kind);
    void add(std::shared_ptr<Completer> completer);
    void remove(const Completer* completer);

    // Made by the first request: making one loads the network stack's plugins, which a program that
    // checks nothing (or not yet) has no use for. Declared before the completers so that it outlives them:
    // their replies belong to it.
    [[nodiscard]] QNetworkAccessManager& network();
    std::unique_ptr<QNetworkAccessManager> m_network;
    QVector<std::shared_ptr<Completer>> m_completers;
    QString m_directory;
    QString m_baseUrl;
    std::optional<Minisign::PublicKey> m_publicKey;
    FirmwareCheck m_firmwareCheck;
};

}  // namespace Updater
