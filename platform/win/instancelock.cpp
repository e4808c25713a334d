#include "platform/instancelock.h"

#include <qt_windows.h>

#include <sddl.h>

#include <QSharedMemory>

#include "base/logging.h"

namespace Platform {

namespace {

// The user's SID in text form, or an empty string when the process token cannot be read.
QString userSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(int(size), Qt::Uninitialized);
    QString text;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
            text = QString::fromWCharArray(sid);
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

// Pipe names are one namespace for the whole machine, across sessions and users: without the user and
// the session in the name, the first user to start the program would take every other user's requests.
QString scopedName(const QString& key) {
    static const QString scope = [] {
        DWORD session = 0;
        ProcessIdToSessionId(GetCurrentProcessId(), &session);
        const QString sid = userSid();
        if (sid.isEmpty()) {
            qCWarning(lcPlatform) << "Single instance: the user's SID could not be read, error"
                                  << GetLastError();
        }
        return QLatin1Char('-') + sid + QLatin1Char('-') + QString::number(session);
    }();
    return key + scope;
}

}  // namespace

InstanceLock::InstanceLock(const QString& key) : m_key(key) {}

InstanceLock::~InstanceLock() = default;

QString InstanceLock::segmentKey(const QString& key) {
    return scopedName(key);
}

QString InstanceLock::serverName(const QString& key) {
    return scopedName(key);
}

// Qt gives the pipe an access list with the user alone.
QLocalServer::SocketOptions InstanceLock::serverSocketOptions() {
    return QLocalServer::UserAccessOption;
}

bool InstanceLock::claim(QSharedMemory& segment) {
    return segment.create(1, QSharedMemory::ReadWrite);
}

// The system frees the segment with the holder's last handle, so an existing one has a living holder.
bool InstanceLock::isHeld(const QString& key) {
    QSharedMemory segment(segmentKey(key));
    return segment.attach(QSharedMemory::ReadOnly);
}

OperationLock::OperationLock(const QString& key) : m_key(key) {}

OperationLock::~OperationLock() = default;

// The system frees a named segment with its last handle, so a crashed holder leaves nothing behind.
bool OperationLock::tryLock() {
    if (m_segment) {
        return true;
    }
    auto segment = std::make_unique<QSharedMemory>(m_key + QStringLiteral("-operation"));
    if (!segment->create(1, QSharedMemory::ReadWrite)) {
        return false;
    }
    m_segment = std::move(segment);
    return true;
}

void OperationLock::unlock() {
    m_segment.reset();
}

bool OperationLock::isLocked() const {
    return m_segment != nullptr;
}

}  // namespace Platform
