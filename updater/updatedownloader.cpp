#include "updater/updatedownloader.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <algorithm>

#include "updater/offer.h"
#include "updater/serviceurl.h"

namespace Updater {

namespace {

const QString kReceiverKind = QStringLiteral("dongle");
const QString kHeadsetKind = QStringLiteral("headset");
constexpr qint64 kFileReadBuffer = 2 * 1024 * 1024;
constexpr int kWriteChunk = 256 * 1024;

// The name a downloaded file is stored under: the last segment of the final URL. Anything that could
// leave the directory, even once decoded ("..%2F..%2Fx"), counts as no name at all.
QString storedFileName(const QUrl& url) {
    const QString encoded_path = url.path(QUrl::FullyEncoded);
    const QString raw_segment = encoded_path.mid(encoded_path.lastIndexOf(QLatin1Char('/')) + 1);
    const QString name = url.fileName(QUrl::FullyDecoded);
    const QString segment = QUrl::fromPercentEncoding(raw_segment.toUtf8());
    for (const QString& candidate : {name, segment}) {
        if (candidate.isEmpty() || candidate == QLatin1String(".") || candidate == QLatin1String("..") ||
            candidate.contains(QLatin1Char('/')) || candidate.contains(QLatin1Char('\\')) ||
            candidate.contains(QChar(0)) || candidate.contains(QLatin1Char(':'))) {
            return {};
        }
    }
    return name;
}

// Offers point at files on the web. Other schemes the network layer knows (file:, qrc:, data:) would let
// a reply copy local files into the download directory and hand them on as updates.
QUrl fetchableUrl(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        return url;
    }
    return {};
}

}  // namespace

// One exchange with the service. Owned by the downloader's list from creation until the slot that sees
// its reply end returns.
class UpdateDownloader::Completer : public QObject, public Utils::SmartType<Completer> {
public:
    Completer(UpdateDownloader* downloader, Global::Id id, const QUrl& url);
    ~Completer() override;

protected:
    virtual void onReadyRead(UpdateDownloader* downloader, QNetworkReply* reply) = 0;
    virtual void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) = 0;
    virtual void onError(UpdateDownloader* downloader, QNetworkReply::NetworkError code) = 0;

    [[nodiscard]] std::shared_ptr<QSaveFile> createFile(QNetworkReply* reply) const;
    void emitStatus(Status status) { emit m_downloader->updateRecordStatusChanged(m_id, status); }

    UpdateDownloader* const m_downloader;
    QNetworkReply* m_reply = nullptr;
    const Global::Id m_id;

private:
    void readyReadSlot();
    void finishedSlot();
    void errorSlot(QNetworkReply::NetworkError code);
};

UpdateDownloader::Completer::Completer(UpdateDownloader* downloader, Global::Id id, const QUrl& url)
    : QObject(nullptr), m_downloader(downloader), m_id(id) {
    QNetworkRequest request(url);
    // Deprecated in 5.15 in favour of a redirect policy, yet still honoured; it is the one attribute
    // every request of ours has carried since 5.12, so the service sees the same behaviour everywhere.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    request.setAttribute(QNetworkRequest::FollowRedirectsAttribute, true);
    QT_WARNING_POP
    m_reply = m_downloader->m_network.get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &Completer::readyReadSlot);
    connect(m_reply, &QNetworkReply::finished, this, &Completer::finishedSlot);
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
    connect(m_reply, &QNetworkReply::errorOccurred, this, &Completer::errorSlot);
#else
    connect(m_reply, QOverload<QNetworkReply::NetworkError>::of(&QNetworkReply::error), this,
            &Completer::errorSlot);
#endif
}

UpdateDownloader::Completer::~Completer() {
    m_reply->disconnect(this);
    m_reply->deleteLater();
}

void UpdateDownloader::Completer::readyReadSlot() {
    // onReadyRead may abort the reply, whose error handling drops this completer from the list.
    const auto self = shared_from_this();
    onReadyRead(m_downloader, m_reply);
}

void UpdateDownloader::Completer::finishedSlot() {
    if (m_reply->error() != QNetworkReply::NoError) {
        return;
    }
    const auto self = shared_from_this();
    onFinished(m_downloader, m_reply);
    m_downloader->remove(this);
}

void UpdateDownloader::Completer::errorSlot(QNetworkReply::NetworkError code) {
    const auto self = shared_from_this();
    onError(m_downloader, code);
    m_downloader->remove(this);
}

std::shared_ptr<QSaveFile> UpdateDownloader::Completer::createFile(QNetworkReply* reply) const {
    const QString name = storedFileName(reply->url());
    if (name.isEmpty()) {
        return {};
    }
    const QDir directory(m_downloader->m_directory);
    if (!directory.mkpath(QStringLiteral("."))) {
        return {};
    }
    // The file at the final path is replaced only by a complete download: a failed or short transfer
    // leaves an earlier file of that name, and the record that names it, as they were. Two transfers of
    // one name each write a file of their own and the later to finish replaces the earlier.
    auto file = std::make_shared<QSaveFile>(QFileInfo(directory.filePath(name)).absoluteFilePath());
    if (!file->open(QIODevice::WriteOnly)) {
        return {};
    }
    return file;
}

class UpdateDownloader::FirmwareVersionCompleter : public Completer {
public:
    FirmwareVersionCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                             const Global::Version& version, const Global::Version& revision,
                             const QString& kind)
        : Completer(downloader, id, url), m_version(version), m_revision(revision), m_kind(kind) {
        emitStatus(Status::Checking);
    }

protected:
    void onReadyRead(UpdateDownloader*, QNetworkReply*) override {}
    void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) override;
    void onError(UpdateDownloader*, QNetworkReply::NetworkError) override { emitStatus(Status::Failed); }

private:
    const Global::Version m_version;
    const Global::Version m_revision;
    const QString m_kind;
};

class UpdateDownloader::SoftwareVersionCompleter : public Completer {
public:
    SoftwareVersionCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                             const Global::Version& version)
        : Completer(downloader, id, url), m_version(version) {
        emitStatus(Status::Checking);
    }

protected:
    void onReadyRead(UpdateDownloader*, QNetworkReply*) override {}
    void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) override;
    void onError(UpdateDownloader*, QNetworkReply::NetworkError) override { emitStatus(Status::Failed); }

private:
    const Global::Version m_version;
};

namespace {

// What both file completers do with the body: stream it into the directory and publish it when whole.
class FileCompleter : public UpdateDownloader::Completer {
public:
    FileCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                  const Global::Version& version)
        : Completer(downloader, id, fetchableUrl(url)), m_version(version) {
        // Without a bound the network thread reads ahead of the disk and a large image ends up in memory.
        m_reply->setReadBufferSize(kFileReadBuffer);
        emitStatus(UpdateDownloader::Status::Downloading);
    }

protected:
    [[nodiscard]] virtual Global::Version recordRevision() const = 0;

    void onReadyRead(UpdateDownloader*, QNetworkReply* reply) override {
        if (!writeAvailable(reply)) {
            // Abort rather than fetch the rest of a body that cannot be stored; the error step reports it.
            reply->abort();
        }
    }

    void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) override {
        if (!writeAvailable(reply) || m_writeFailed) {
            emitStatus(UpdateDownloader::Status::Failed);
            return;
        }
        if (!m_file) {
            return;
        }
        const QString path = m_file->fileName();
        const bool stored = m_file->commit();
        m_file.reset();
        if (!stored) {
            emitStatus(UpdateDownloader::Status::Failed);
            return;
        }
        const auto record = std::make_shared<UpdateRecord>(path, m_version, recordRevision());
        emit downloader->updateRecordAvaliable(m_id, record);
        emitStatus(UpdateDownloader::Status::Downloaded);
    }

    void onError(UpdateDownloader*, QNetworkReply::NetworkError) override {
        discard();
        emitStatus(UpdateDownloader::Status::Failed);
    }

private:
    // False once a write has failed or stored fewer bytes than it was given.
    bool writeAvailable(QNetworkReply* reply) {
        if (m_writeFailed) {
            return false;
        }
        if (!m_file) {
            m_file = createFile(reply);
            if (!m_file) {
                // Left in the reply: the next readyRead tries again.
                return true;
            }
        }
        // One reused chunk instead of readAll: large transient buffers would stay in the heap and in RSS.
        if (m_chunk.size() != kWriteChunk) {
            m_chunk.resize(kWriteChunk);
        }
        while (reply->bytesAvailable() > 0) {
            const qint64 size = reply->read(m_chunk.data(), m_chunk.size());
            if (size <= 0) {
                break;
            }
            if (m_file->write(m_chunk.constData(), size) != size) {
                m_writeFailed = true;
                discard();
                return false;
            }
        }
        return true;
    }

    void discard() {
        if (m_file) {
            m_file->cancelWriting();
            m_file.reset();
        }
    }

    const Global::Version m_version;
    std::shared_ptr<QSaveFile> m_file;
    QByteArray m_chunk;
    bool m_writeFailed = false;
};

}  // namespace

class UpdateDownloader::FirmwareCompleter : public FileCompleter {
public:
    FirmwareCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                      const Global::Version& version, const Global::Version& revision)
        : FileCompleter(downloader, id, url, version), m_revision(revision) {}

protected:
    [[nodiscard]] Global::Version recordRevision() const override { return m_revision; }

private:
    const Global::Version m_revision;
};

class UpdateDownloader::SoftwareCompleter : public FileCompleter {
public:
    SoftwareCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                      const Global::Version& version)
        : FileCompleter(downloader, id, url, version) {}

protected:
    // A program has no hardware revision; a fixed valid one keeps its record valid.
    [[nodiscard]] Global::Version recordRevision() const override {
        return Global::Version(Global::Version::compose(1, 0, 0), 0);
    }
};

void UpdateDownloader::FirmwareVersionCompleter::onFinished(UpdateDownloader* downloader,
                                                            QNetworkReply* reply) {
    const Offer offer = Offer::readFirmware(reply->readAll(), m_kind, m_version);
    switch (offer.decision()) {
        case Offer::Decision::Accepted:
            downloader->add(std::make_shared<FirmwareCompleter>(downloader, m_id, offer.url(),
                                                                offer.version(), m_revision));
            break;
        case Offer::Decision::UpToDate:
            emitStatus(Status::UpToDate);
            break;
        case Offer::Decision::None:
            break;
    }
}

void UpdateDownloader::SoftwareVersionCompleter::onFinished(UpdateDownloader* downloader,
                                                            QNetworkReply* reply) {
    const Offer offer = Offer::readSoftware(reply->readAll(), m_version);
    switch (offer.decision()) {
        case Offer::Decision::Accepted:
            downloader->add(
                std::make_shared<SoftwareCompleter>(downloader, m_id, offer.url(), offer.version()));
            break;
        case Offer::Decision::UpToDate:
            emitStatus(Status::UpToDate);
            break;
        case Offer::Decision::None:
            break;
    }
}

UpdateDownloader::UpdateDownloader(const QString& directory, QObject* parent)
    : QObject(parent), m_directory(directory), m_baseUrl(ServiceUrl::defaultBase()) {
    qRegisterMetaType<Global::Id>("Global::Id");
    qRegisterMetaType<UpdateRecord::Shared>("UpdateRecord::Shared");
}

UpdateDownloader::~UpdateDownloader() = default;

void UpdateDownloader::setBaseUrl(const QString& base_url) {
    m_baseUrl = base_url;
}

Global::Id UpdateDownloader::checkReceiverFirmware(const QString& model, const Global::Version& version,
                                                   const Global::Version& revision) {
    return checkFirmware(model, version, revision, kReceiverKind);
}

Global::Id UpdateDownloader::checkHeadsetFirmware(const QString& model, const Global::Version& version,
                                                  const Global::Version& revision) {
    return checkFirmware(model, version, revision, kHeadsetKind);
}

Global::Id UpdateDownloader::checkFirmware(const QString& model, const Global::Version& version,
                                           const Global::Version& revision, const QString& kind) {
    const QUrl url = ServiceUrl::firmwareMetadata(m_baseUrl, model, revision);
    const Global::Id id = Global::Id::nextId();
    add(std::make_shared<FirmwareVersionCompleter>(this, id, url, version, revision, kind));
    return id;
}

Global::Id UpdateDownloader::checkSoftware(const QString& platform, const Global::Version& version) {
    const QUrl url = ServiceUrl::softwareMetadata(m_baseUrl, platform);
    const Global::Id id = Global::Id::nextId();
    add(std::make_shared<SoftwareVersionCompleter>(this, id, url, version));
    return id;
}

void UpdateDownloader::add(std::shared_ptr<Completer> completer) {
    m_completers.append(std::move(completer));
}

void UpdateDownloader::remove(const Completer* completer) {
    const auto it =
        std::find_if(m_completers.begin(), m_completers.end(),
                     [completer](const std::shared_ptr<Completer>& c) { return c.get() == completer; });
    if (it != m_completers.end()) {
        m_completers.erase(it);
    }
}

}  // namespace Updater
