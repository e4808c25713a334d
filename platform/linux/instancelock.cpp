#include "platform/instancelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QSharedMemory>
#include <QStandardPaths>

#include "base/logging.h"

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

// A directory of this user that nobody else may enter: anyone who can reach the lock or the socket can
// keep this user's starts out or send them requests.
bool isPrivateDirectory(const QByteArray& path, bool follow_link) {
    struct stat info {};
    const int result = follow_link ? ::stat(path.constData(), &info) : ::lstat(path.constData(), &info);
    return result == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// The user's runtime directory when there is a usable one. Without it, a folder of the program's own in
// the user's cache folder: Qt's fallback, like any fixed name in the shared temporary directory, can be
// created first by another user, who would then hold or refuse this user's lock.
QString makeInstanceDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(QFile::decodeName(runtime)) &&
        isPrivateDirectory(runtime, true)) {
        return QFile::decodeName(runtime);
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir().mkpath(cache + QStringLiteral("/arca"))) {
        return {};
    }
    const QString own = cache + QStringLiteral("/arca/instance");
    const QByteArray path = QFile::encodeName(own);
    // Made with its final mode; one found with a wider mode is ours to narrow, one of another owner or a
    // link is not used at all.
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    struct stat info {};
    if (::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()) {
        (void)::chmod(path.constData(), 0700);
    }
    return isPrivateDirectory(path, false) ? own : QString();
}

// Empty when no private directory can be had: the start then counts as a second one and ends, which beats
// serving from a place that others can reach.
QString instanceFile(const QString& key, const QString& suffix) {
    static const QString directory = makeInstanceDirectory();
    if (directory.isEmpty()) {
        return {};
    }
    return directory + QLatin1Char('/') + fileNamePart(key) + suffix;
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
    const QString file = instanceFile(m_key, QStringLiteral(".lock"));
    if (file.isEmpty()) {
        return false;
    }
    const QByteArray path = QFile::encodeName(file);
    // Close-on-exec: a program started from here (the pairing software, the installer) must not inherit
    // the lock and keep later starts out after this process has ended.
    const int handle = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (handle < 0) {
        qCWarning(lcPlatform).noquote()
            << "the instance lock" << file << "cannot be opened:" << std::strerror(errno);
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

bool InstanceLock::isHeld(const QString& key) {
    const QString file = instanceFile(key, QStringLiteral(".lock"));
    if (file.isEmpty()) {
        return false;
    }
    const int handle = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (handle < 0) {
        return false;
    }
    // A shared lock for an instant: a start that comes just then finds the key taken and waits for it
    // like a start behind a closing instance does.
    const bool held = ::flock(handle, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(handle);
    return held;
}

OperationLock::OperationLock(const QString& key) : m_key(key) {}

OperationLock::~OperationLock() {
    unlock();
}

bool OperationLock::tryLock() {
    if (m_handle >= 0) {
        return true;
    }
    const QString file = instanceFile(m_key, QStringLiteral(".operation.lock"));
    if (file.isEmpty()) {
        return false;
    }
    // Close-on-exec for the same reason as the instance lock: a started program must not keep it.
    const int handle =
        ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (handle < 0) {
        return false;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        ::close(handle);
        return false;
    }
    m_handle = handle;
    return true;
}

void OperationLock::unlock() {
    if (m_handle >= 0) {
        ::close(m_handle);
        m_handle = -1;
    }
}

bool OperationLock::isLocked() const {
    return m_handle >= 0;
}

}  // namespace Platform
