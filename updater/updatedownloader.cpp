#include "updater/updatedownloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>

#include "base/logging.h"
#include "platform/programupdates.h"
#include "updater/offer.h"
#include "updater/releasecomment.h"
#include "updater/serviceurl.h"

namespace Updater {

namespace {

const QString kReceiverKind = QStringLiteral("dongle");
const QString kHeadsetKind = QStringLiteral("headset");
constexpr qint64 kFileReadBuffer = 2 * 1024 * 1024;
constexpr int kWriteChunk = 256 * 1024;
// A real offer list is a few hundred bytes; anything near this bound is not a reply of the service.
constexpr qint64 kMetadataLimit = 1024 * 1024;
constexpr qint64 kMetadataReadBuffer = 64 * 1024;

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

// For the log: a URL without what its query or user part might carry.
QString loggedUrl(const QUrl& url) {
    return url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

// The reply is what the service sent on the wire. Every request asks for the identity encoding, so the
// network layer leaves the body alone and every bound counts the bytes that arrive; a body compressed
// anyway would be inflated by no one and checked as it is, so it is refused at its headers.
QByteArray refusedEncoding(const QNetworkReply* reply) {
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    return encoding.isEmpty() || encoding == "identity" ? QByteArray() : encoding;
}

// A download on its way to the directory: written under a temporary name beside its final one, checked
// there, and moved over the final name in one rename only when whole and accepted. A failed, short or
// refused transfer leaves an earlier file of that name, and the record that names it, as they were; two
// transfers of one name each write a file of their own and the later to finish replaces the earlier.
class PendingFile {
public:
    explicit PendingFile(const QString& final_path)
        : m_finalPath(final_path), m_file(final_path + QStringLiteral(".XXXXXX.part")) {}

    [[nodiscard]] bool open() { return m_file.open(); }
    // The hash a signature covers is taken from the same bytes as they are stored, so verifying a
    // download costs no second read of it.
    [[nodiscard]] bool write(const char* data, qint64 size) {
        m_hash.update(data, static_cast<std::size_t>(size));
        m_size += size;
        return m_file.write(data, size) == size;
    }
    [[nodiscard]] bool flush() { return m_file.flush(); }
    [[nodiscard]] const QString& finalPath() const { return m_finalPath; }
    [[nodiscard]] qint64 size() const { return m_size; }
    [[nodiscard]] Minisign::Hash hash() {
        if (!m_hashed) {
            m_digest = m_hash.final();
            m_hashed = true;
        }
        return m_digest;
    }

    [[nodiscard]] QString path() const { return m_file.fileName(); }

    // Moves the file over its final name; afterwards this object no longer owns it.
    [[nodiscard]] bool commit() {
        if (!m_file.flush()) {
            return false;
        }
        const QString temporary = m_file.fileName();
        m_file.close();
        // rename replaces the target in one step where the system allows it; where it refuses to replace
        // (Windows), the target goes first.
        if (std::rename(QFile::encodeName(temporary).constData(),
                        QFile::encodeName(m_finalPath).constData()) != 0 &&
            !(QFile::remove(m_finalPath) && QFile::rename(temporary, m_finalPath))) {
            return false;
        }
        m_file.setAutoRemove(false);
        return true;
    }

private:
    const QString m_finalPath;
    QTemporaryFile m_file;
    Minisign::Prehash m_hash;
    Minisign::Hash m_digest{};
    bool m_hashed = false;
    qint64 m_size = 0;
};

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

    [[nodiscard]] std::shared_ptr<PendingFile> createFile(QNetworkReply* reply) const;
    void emitStatus(Status status) { emit m_downloader->updateRecordStatusChanged(m_id, status); }
    // Aborts the reply; its error step logs the reason, reports Failed and drops this completer.
    void abortWith(const QString& reason) {
        m_abortReason = reason;
        m_reply->abort();
    }
    // Logs which check refused what was fetched from the reply's URL and reports Failed.
    void refuse(const QString& check) const {
        qCWarning(lcOnline).noquote() << "download of" << loggedUrl(m_reply->url()) << "refused:" << check;
        emit m_downloader->updateRecordStatusChanged(m_id, Status::Failed);
    }
    // Hands the request on to the next exchange, which carries the same id.
    void chain(std::shared_ptr<Completer> next) { m_downloader->add(std::move(next)); }
    // Moves an accepted file into place, with its signature beside it for the check before its start,
    // and announces it.
    void publish(std::shared_ptr<PendingFile> file, const Global::Version& version,
                 const Global::Version& revision, const QByteArray& signature_text);

    UpdateDownloader* const m_downloader;
    QNetworkReply* m_reply = nullptr;
    const Global::Id m_id;

    friend class UpdateDownloader;

private:
    void readyReadSlot();
    void finishedSlot();
    void errorSlot(QNetworkReply::NetworkError code);
    void metaDataSlot();

    // Why this completer aborted its own reply, logged instead of the abort's network error.
    QString m_abortReason;
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
    // Left to itself the network layer asks for gzip and inflates the whole body before any of our bounds
    // sees a byte of it: a megabyte on the wire could fill memory with a gigabyte.
    request.setRawHeader("Accept-Encoding", "identity");
    m_reply = m_downloader->network().get(request);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &Completer::metaDataSlot);
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

void UpdateDownloader::Completer::metaDataSlot() {
    const QByteArray encoding = refusedEncoding(m_reply);
    if (!encoding.isEmpty() && m_abortReason.isEmpty()) {
        abortWith(
            QStringLiteral("compressed reply (Content-Encoding: %1)").arg(QString::fromLatin1(encoding)));
    }
}

void UpdateDownloader::Completer::readyReadSlot() {
    // onReadyRead may abort the reply, whose error handling drops this completer from the list.
    const auto self = shared_from_this();
    if (!refusedEncoding(m_reply).isEmpty()) {
        return;
    }
    onReadyRead(m_downloader, m_reply);
}

void UpdateDownloader::Completer::finishedSlot() {
    if (m_reply->error() != QNetworkReply::NoError) {
        return;
    }
    const auto self = shared_from_this();
    const QByteArray encoding = refusedEncoding(m_reply);
    if (!encoding.isEmpty()) {
        // Headers and body arrived in one go, before the abort could take effect.
        qCWarning(lcOnline).noquote() << "download of" << loggedUrl(m_reply->url())
                                      << "refused: compressed reply (Content-Encoding:" << encoding << ")";
        onError(m_downloader, QNetworkReply::OperationCanceledError);
    } else {
        onFinished(m_downloader, m_reply);
    }
    m_downloader->remove(this);
}

void UpdateDownloader::Completer::errorSlot(QNetworkReply::NetworkError code) {
    const auto self = shared_from_this();
    if (!m_abortReason.isEmpty()) {
        qCWarning(lcOnline).noquote()
            << "download of" << loggedUrl(m_reply->url()) << "refused:" << m_abortReason;
    } else {
        qCWarning(lcOnline).noquote()
            << "request for" << loggedUrl(m_reply->url()) << "failed:" << m_reply->errorString();
    }
    onError(m_downloader, code);
    m_downloader->remove(this);
}

void UpdateDownloader::Completer::publish(std::shared_ptr<PendingFile> file, const Global::Version& version,
                                          const Global::Version& revision, const QByteArray& signature_text) {
    const QString path = file->finalPath();
    bool stored = true;
    if (!signature_text.isEmpty()) {
        QSaveFile signature(path + QStringLiteral(".minisig"));
        stored = signature.open(QIODevice::WriteOnly) &&
                 signature.write(signature_text) == signature_text.size() && signature.commit();
    }
    stored = stored && file->commit();
    file.reset();
    if (!stored) {
        qCWarning(lcOnline).noquote()
            << "download of" << loggedUrl(m_reply->url()) << "could not be stored as" << path;
        emitStatus(Status::Failed);
        return;
    }
    // After a signature exchange the reply is the signature's; the file is what was kept.
    qCInfo(lcOnline).noquote() << "kept download of version" << version.toString(QStringLiteral("M.m.p"), 10)
                               << "as" << path
                               << (signature_text.isEmpty() ? "(unsigned)" : "(signature verified)");
    emit m_downloader->updateRecordAvaliable(m_id, std::make_shared<UpdateRecord>(path, version, revision));
    emitStatus(Status::Downloaded);
}

std::shared_ptr<PendingFile> UpdateDownloader::Completer::createFile(QNetworkReply* reply) const {
    const QString name = storedFileName(reply->url());
    if (name.isEmpty()) {
        return {};
    }
    const QDir directory(m_downloader->m_directory);
    if (!directory.mkpath(QStringLiteral("."))) {
        return {};
    }
    const QString path = QFileInfo(directory.filePath(name)).absoluteFilePath();
    // A folder in the way could never be replaced by the finished file.
    if (QFileInfo(path).isDir()) {
        return {};
    }
    auto file = std::make_shared<PendingFile>(path);
    if (!file->open()) {
        return {};
    }
    return file;
}

namespace {

// Collects a metadata body up to a bound. The network layer's own buffer is kept small, so the body is
// held once, here, and a reply that never ends is cut off as soon as it crosses the bound.
class MetadataCompleter : public UpdateDownloader::Completer {
public:
    MetadataCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url)
        : Completer(downloader, id, url) {
        m_reply->setReadBufferSize(kMetadataReadBuffer);
    }

protected:
    void onReadyRead(UpdateDownloader*, QNetworkReply* reply) override {
        if (!collect(reply)) {
            abortWith(QStringLiteral("offer list larger than %1 bytes").arg(kMetadataLimit));
        }
    }

    void onError(UpdateDownloader*, QNetworkReply::NetworkError) override {
        emitStatus(UpdateDownloader::Status::Failed);
    }

    // The whole body, or false when it is larger than any reply of the service.
    [[nodiscard]] bool collect(QNetworkReply* reply) {
        const qint64 available = reply->bytesAvailable();
        if (m_body.size() + available > kMetadataLimit) {
            m_body.clear();
            m_body.squeeze();
            return false;
        }
        m_body += reply->read(available);
        return true;
    }

    QByteArray m_body;
};

}  // namespace

class UpdateDownloader::FirmwareVersionCompleter : public MetadataCompleter {
public:
    FirmwareVersionCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                             const Global::Version& version, const Global::Version& revision,
                             const QString& kind, const QString& model)
        : MetadataCompleter(downloader, id, url),
          m_version(version),
          m_revision(revision),
          m_kind(kind),
          m_model(model) {
        emitStatus(Status::Checking);
    }

protected:
    void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) override;

private:
    const Global::Version m_version;
    const Global::Version m_revision;
    const QString m_kind;
    const QString m_model;
};

class UpdateDownloader::SoftwareVersionCompleter : public MetadataCompleter {
public:
    SoftwareVersionCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                             const Global::Version& version)
        : MetadataCompleter(downloader, id, url), m_version(version) {
        emitStatus(Status::Checking);
    }

protected:
    void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) override;

private:
    const Global::Version m_version;
};

namespace {

// Fetches the signature of a finished download and publishes the download only when it verifies and
// says the file is what the offer said it was.
class SignatureCompleter : public UpdateDownloader::Completer {
public:
    SignatureCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                       std::shared_ptr<PendingFile> file, const ReleaseComment& expected,
                       const Global::Version& revision)
        : Completer(downloader, id, fetchableUrl(url)),
          m_file(std::move(file)),
          m_expected(expected),
          m_revision(revision) {
        m_reply->setReadBufferSize(Minisign::Signature::kMaxTextSize + 1);
    }

protected:
    void onReadyRead(UpdateDownloader*, QNetworkReply* reply) override {
        if (!collect(reply)) {
            abortWith(
                QStringLiteral("signature larger than %1 bytes").arg(Minisign::Signature::kMaxTextSize));
        }
    }

    void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) override {
        const QString refusal = check(downloader->publicKey(), reply);
        if (!refusal.isEmpty()) {
            refuse(refusal);
            return;
        }
        publish(std::move(m_file), m_expected.version(), m_revision, m_text);
    }

    void onError(UpdateDownloader*, QNetworkReply::NetworkError) override {
        emitStatus(UpdateDownloader::Status::Failed);
    }

private:
    bool collect(QNetworkReply* reply) {
        if (m_text.size() + reply->bytesAvailable() > Minisign::Signature::kMaxTextSize) {
            return false;
        }
        m_text += reply->readAll();
        return true;
    }

    // Which check refused the file, or nothing when it is trusted.
    QString check(const std::optional<Minisign::PublicKey>& key, QNetworkReply* reply) {
        if (!key) {
            return QStringLiteral("no key to check the signature with");
        }
        const auto signature = collect(reply) ? Minisign::Signature::fromText(m_text) : std::nullopt;
        if (!signature) {
            return QStringLiteral("not a signature");
        }
        if (signature->algorithm != Minisign::Signature::Algorithm::Prehashed) {
            return QStringLiteral("legacy signature (only prehashed ones are accepted)");
        }
        if (m_file->size() == 0 || !Minisign::verifyPrehashed(*key, *signature, m_file->hash())) {
            return QStringLiteral("signature does not verify");
        }
        const auto comment = ReleaseComment::parse(signature->trustedComment);
        if (!comment || *comment != m_expected) {
            return QStringLiteral("signed as \"%1\", offered as \"%2\"")
                .arg(QString::fromUtf8(signature->trustedComment), QString::fromUtf8(m_expected.toText()));
        }
        return {};
    }

    std::shared_ptr<PendingFile> m_file;
    const ReleaseComment m_expected;
    const Global::Version m_revision;
    QByteArray m_text;
};

// What both file completers do with the body: stream it into the directory, check it and publish it.
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
    enum class Rule {
        Publish,           // nothing beyond the file's own checks
        RequireSignature,  // a signature by the compiled-in key, fetched beside the file
        Refuse,            // never published on this system
    };

    [[nodiscard]] virtual Global::Version recordRevision() const = 0;
    [[nodiscard]] virtual Rule rule(const UpdateDownloader* downloader) const = 0;
    // The file's own checks, run before any signature is fetched: which one refused it, or nothing.
    [[nodiscard]] virtual QString refusal(PendingFile& file) const = 0;
    // What the signature's trusted comment must say of the file.
    [[nodiscard]] virtual ReleaseComment expected() const = 0;

    [[nodiscard]] const Global::Version& offeredVersion() const { return m_version; }

    void onReadyRead(UpdateDownloader*, QNetworkReply* reply) override {
        if (!writeAvailable(reply)) {
            // Abort rather than fetch the rest of a body that cannot be stored.
            abortWith(storeFailure());
        }
    }

    void onFinished(UpdateDownloader* downloader, QNetworkReply* reply) override {
        if (!writeAvailable(reply) || !m_file) {
            discard();
            refuse(storeFailure());
            return;
        }
        const QString refused = refusal(*m_file);
        if (!refused.isEmpty()) {
            discard();
            refuse(refused);
            return;
        }
        switch (rule(downloader)) {
            case Rule::Publish:
                publish(std::move(m_file), m_version, recordRevision(), {});
                break;
            case Rule::RequireSignature: {
                // Beside the file as the service finally served it, so a redirected file brings its own.
                QUrl signature_url = reply->url();
                signature_url.setPath(signature_url.path(QUrl::FullyEncoded) + QStringLiteral(".minisig"),
                                      QUrl::TolerantMode);
                chain(std::make_shared<SignatureCompleter>(downloader, m_id, signature_url, std::move(m_file),
                                                           expected(), recordRevision()));
                break;
            }
            case Rule::Refuse:
                discard();
                refuse(QStringLiteral("no key to check a program with, and no system check either"));
                break;
        }
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
                // Nothing will change by the next chunk: waiting would only hold the connection open
                // while the reply's buffer fills.
                m_writeFailed = true;
                return false;
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
            if (!m_file->write(m_chunk.constData(), size)) {
                m_writeFailed = true;
                discard();
                return false;
            }
        }
        return true;
    }

    void discard() { m_file.reset(); }

    QString storeFailure() const {
        return QStringLiteral("cannot be stored in %1")
            .arg(QDir::toNativeSeparators(m_downloader->directory()));
    }

    const Global::Version m_version;
    std::shared_ptr<PendingFile> m_file;
    QByteArray m_chunk;
    bool m_writeFailed = false;
};

}  // namespace

class UpdateDownloader::FirmwareCompleter : public FileCompleter {
public:
    FirmwareCompleter(UpdateDownloader* downloader, Global::Id id, const QUrl& url,
                      const Global::Version& version, const Global::Version& revision, const QString& model,
                      bool receiver)
        : FileCompleter(downloader, id, url, version),
          m_revision(revision),
          m_model(model),
          m_receiver(receiver) {}

protected:
    [[nodiscard]] Global::Version recordRevision() const override { return m_revision; }

    [[nodiscard]] Rule rule(const UpdateDownloader* downloader) const override {
        // Without a key the engine's check of suffix, CRC and identity is the only gate.
        return downloader->publicKey() ? Rule::RequireSignature : Rule::Publish;
    }

    // Only an image the engine would take for this model is ever offered to the user, and only when the
    // image says of itself the version it was offered as, as far as its suffix can say it.
    [[nodiscard]] QString refusal(PendingFile& file) const override {
        const UpdateDownloader::FirmwareCheck& check = m_downloader->firmwareCheck();
        if (!check) {
            return QStringLiteral("no image check is set");
        }
        const auto stated = file.flush() ? check(file.path(), m_model, m_receiver) : std::nullopt;
        if (!stated) {
            return QStringLiteral("not a whole image for the %1 %2")
                .arg(m_model, m_receiver ? "receiver" : "headset");
        }
        const Global::Version& offered = offeredVersion();
        if (stated->isValid() && (stated->major() != offered.major() || stated->minor() != offered.minor())) {
            return QStringLiteral("image of version %1 offered as %2")
                .arg(stated->toString(QStringLiteral("M.m"), 10),
                     offered.toString(QStringLiteral("M.m.p"), 10));
        }
        return {};
    }

    [[nodiscard]] ReleaseComment expected() const override {
        return ReleaseComment(ReleaseComment::Kind::Firmware, m_model, offeredVersion());
    }

private:
    const Global::Version m_revision;
    const QString m_model;
    const bool m_receiver;
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

    [[nodiscard]] Rule rule(const UpdateDownloader* downloader) const override {
        if (downloader->publicKey()) {
            return Rule::RequireSignature;
        }
        // Without our key only a system that vouches for installers itself (Authenticode, checked again
        // right before the start) may take a program at all.
        return Platform::ProgramUpdates::platformSignatures() ? Rule::Publish : Rule::Refuse;
    }

    [[nodiscard]] QString refusal(PendingFile&) const override { return {}; }

    [[nodiscard]] ReleaseComment expected() const override {
        return ReleaseComment(ReleaseComment::Kind::Program, {}, offeredVersion());
    }
};

void UpdateDownloader::FirmwareVersionCompleter::onFinished(UpdateDownloader* downloader,
                                                            QNetworkReply* reply) {
    if (!collect(reply)) {
        refuse(QStringLiteral("offer list larger than %1 bytes").arg(kMetadataLimit));
        return;
    }
    const Offer offer = Offer::readFirmware(m_body, m_kind, m_version);
    switch (offer.decision()) {
        case Offer::Decision::Accepted:
            downloader->add(std::make_shared<FirmwareCompleter>(downloader, m_id, offer.url(),
                                                                offer.version(), m_revision, m_model,
                                                                m_kind == kReceiverKind));
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
    if (!collect(reply)) {
        refuse(QStringLiteral("offer list larger than %1 bytes").arg(kMetadataLimit));
        return;
    }
    // Whatever the caller says it has, nothing older than the running program is ever taken for newer.
    const Global::Version running = Global::Version::fromString(QCoreApplication::applicationVersion(), 10);
    const Offer offer = Offer::readSoftware(m_body, std::max(m_version, running));
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
    : QObject(parent),
      m_directory(directory),
      m_baseUrl(ServiceUrl::defaultBase()),
      m_publicKey(Minisign::compiledKey()) {
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
    add(std::make_shared<FirmwareVersionCompleter>(this, id, url, version, revision, kind, model));
    return id;
}

Global::Id UpdateDownloader::checkSoftware(const QString& platform, const Global::Version& version) {
    const QUrl url = ServiceUrl::softwareMetadata(m_baseUrl, platform);
    const Global::Id id = Global::Id::nextId();
    add(std::make_shared<SoftwareVersionCompleter>(this, id, url, version));
    return id;
}

void UpdateDownloader::setPublicKey(const std::optional<Minisign::PublicKey>& key) {
    m_publicKey = key;
}

void UpdateDownloader::add(std::shared_ptr<Completer> completer) {
    m_completers.append(std::move(completer));
}

QNetworkAccessManager& UpdateDownloader::network() {
    if (!m_network) {
        m_network = std::make_unique<QNetworkAccessManager>();
    }
    return *m_network;
}

bool UpdateDownloader::isPending(Global::Id id) const {
    return std::any_of(m_completers.cbegin(), m_completers.cend(),
                       [id](const std::shared_ptr<Completer>& c) { return c->m_id == id; });
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

// Compiled here rather than in the core's shared moc unit, which the installer links without the engine.
#include "moc_updatedownloader.cpp"
