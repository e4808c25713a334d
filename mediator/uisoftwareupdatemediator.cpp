#include "mediator/uisoftwareupdatemediator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThreadPool>
#include <QtConcurrent>

#include "platform/pinnedprogram.h"

namespace UIMediator {

UISoftwareUpdateMediator::UISoftwareUpdateMediator(QObject* parent)
    : IUIMediator(parent), m_publicKey(Updater::Minisign::compiledKey()) {}

UISoftwareUpdateMediator::~UISoftwareUpdateMediator() {
    m_watcher.waitForFinished();
}

QString UISoftwareUpdateMediator::programText(const QString& path) {
    const QString native = QDir::toNativeSeparators(path);
#ifdef Q_OS_WIN
    // The program text becomes the head of a command line; the quotes keep a path with blanks in one piece.
    return QLatin1Char('"') + native + QLatin1Char('"');
#else
    // Elsewhere the text is passed to exec as it stands, so quotes would become part of the file name.
    return native;
#endif
}

void UISoftwareUpdateMediator::setPublicKey(const std::optional<Updater::Minisign::PublicKey>& key) {
    m_publicKey = key;
}

bool UISoftwareUpdateMediator::trusted(const Platform::PinnedProgram& program, const QString& path,
                                       const std::optional<Updater::Minisign::PublicKey>& key) {
    if (!program.isOpen()) {
        return false;
    }
    if (!key) {
        return program.hasPlatformSignature();
    }
    // The downloader left the signature it verified beside the file; it is verified again here, over the
    // pinned bytes, because the file on disk may have changed since.
    QFile signature_file(path + QStringLiteral(".minisig"));
    if (!signature_file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const auto signature = Updater::Minisign::Signature::fromText(
        signature_file.read(Updater::Minisign::Signature::kMaxTextSize + 1));
    return signature && (program.data() != nullptr || program.size() == 0) &&
           Updater::Minisign::verify(*key, *signature, program.data(),
                                     static_cast<std::size_t>(program.size()));
}

bool UISoftwareUpdateMediator::update(const QString& _software_path) {
    if (m_watcher.isRunning()) {
        return false;
    }
    if (_software_path.isEmpty() || !QFile::exists(_software_path)) {
        return false;
    }
    const QString path = _software_path;
    const auto key = m_publicKey;
    m_watcher.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [path, key]() {
        // Checked and started from one pinned copy: what starts is exactly what was verified. The file on
        // disk never gets the execute bit.
        const Platform::PinnedProgram program(path);
        return trusted(program, path, key) && program.startDetached({QStringLiteral("-update")});
    }));
    return true;
}

}  // namespace UIMediator
