#include "platform/instancelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSharedMemory>
#include <QStandardPaths>

namespace Platform {

namespace {

QString fileNamePart(const QString& key) {
    QString name;
    name.reserve(key.size());
    for (const QChar c : key) {
        const bool plain = c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('-') ||
                                                 c == QLatin1Char('_') || c == QLatin1Char('.'));
        name += plain ? c : QLatin1Char('_');
    }
    return name;
}

// The runtime directory belongs to the user alone (mode 0700), so nobody else can take, reach or replace
// the files in it. Without one, the shared temporary directory serves, with the user id in every name.
QString instanceFile(const QString& key, const QString& suffix) {
    // Looked up once: Qt warns on every look-up when it has to fall back to a directory of its own.
    static const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) {
        return runtime + QLatin1Char('/') + fileNamePart(key) + suffix;
    }
    return QDir::tempPath() + QLatin1Char('/') + fileNamePart(key) + QLatin1Char('-') +
           QString::number(::getuid()) + suffix;
}

}  // namespace

InstanceLock::InstanceLock(const QString& key) : m_key(key) {}

InstanceLock::~InstanceLock() {
    if (m_handle >= 0) {
        ::close(m_handle);
    }
}

QString InstanceLock::segmentKey(const QString& key) {
    return key + QLatin1Char('-') + QString::number(::getuid());
}

QString InstanceLock::serverName(const QString& key) {
    return instanceFile(key, QStringLiteral(".socket"));
}

QLocalServer::SocketOptions InstanceLock::serverSocketOptions() {
    return QLocalServer::UserAccessOption;
}

bool InstanceLock::claim(QSharedMemory& segment) {
    const QByteArray path = QFile::encodeName(instanceFile(m_key, QStringLiteral(".lock")));
    // Close-on-exec: a program started from here (the pairing software, the installer) must not inherit
    // the lock and keep later starts out after this process has ended.
    const int handle = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (handle < 0) {
        return false;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        ::close(handle);
        return false;
    }
    m_handle = handle;

    // Holding the lock means no other instance runs: a segment that still exists was left by a crashed
    // one. Attaching and detaching as its last user removes it.
    if (!segment.create(1, QSharedMemory::ReadWrite) && segment.error() == QSharedMemory::AlreadyExists) {
        QSharedMemory stale(segment.key());
        if (stale.attach()) {
            stale.detach();
        }
        // The segment only marks the instance here; the lock has decided already.
        (void)segment.create(1, QSharedMemory::ReadWrite);
    }
    // A crashed holder leaves its socket file behind, and listening on an existing name fails.
    QLocalServer::removeServer(serverName(m_key));
    return true;
}

}  // namespace Platform
