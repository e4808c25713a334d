#include "common/appextension.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWindow>
#include <cstring>
#include <memory>

#include "base/logging.h"
#include "platform/windowmenu.h"

namespace Common {

namespace {

// Both ends are the same program, so the integers travel in the machine's own byte order.
QByteArray encode(qint32 value) {
    QByteArray bytes(sizeof(value), Qt::Uninitialized);
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

// Waits for a whole 4-byte integer within one wait budget, also when it arrives in pieces.
bool readInteger(QLocalSocket& socket, qint32* value) {
    const QDeadlineTimer deadline(AppExtension::kWaitMs);
    while (socket.bytesAvailable() < qint64(sizeof(*value))) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            break;
        }
    }
    return socket.read(reinterpret_cast<char*>(value), sizeof(*value)) == qint64(sizeof(*value));
}

bool writeInteger(QLocalSocket& socket, qint32 value) {
    if (socket.state() != QLocalSocket::ConnectedState) {
        return false;
    }
    const QByteArray bytes = encode(value);
    return socket.write(bytes) == bytes.size() && socket.waitForBytesWritten(AppExtension::kWaitMs);
}

}  // namespace

AppExtension::AppExtension(const QString& key)
    : IAppExtension(nullptr),
      m_key(key),
      m_sharedMemory(Platform::InstanceLock::segmentKey(key)),
      m_runningInstance(false),
      m_lock(key) {
    if (!m_lock.claim(m_sharedMemory)) {
        m_runningInstance = true;
        return;
    }
    serve();
}

AppExtension::~AppExtension() {
    // The server goes before the lock: a start that takes the lock next listens under the same name, and a
    // server closed after that would remove the newcomer's socket file.
    delete m_server;
}

void AppExtension::serve() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(Platform::InstanceLock::serverSocketOptions());
    if (!m_server->listen(Platform::InstanceLock::serverName(m_key))) {
        qCWarning(lcShell).noquote() << "a second start cannot reach this instance: listening on"
                                     << m_server->serverName() << "failed:" << m_server->errorString();
    }
    QLocalServer* const server = m_server;
    connect(
        server, &QLocalServer::newConnection, server, [this, server] { handleConnection(server); },
        Qt::DirectConnection);
}

bool AppExtension::takeOverFromClosingInstance(int timeout_ms) {
    if (!m_runningInstance) {
        return false;
    }
    const QDeadlineTimer deadline(timeout_ms);
    for (;;) {
        if (m_lock.claim(m_sharedMemory)) {
            m_runningInstance = false;
            serve();
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(kTakeOverPollMs);
    }
}

bool AppExtension::setSystemSleepEnabled(bool _enabled) {
    return m_sleepInhibitor.setSleepEnabled(_enabled);
}

bool AppExtension::hasRunningInstance() {
    return m_runningInstance;
}

bool AppExtension::activateRunningInstance() {
    return sendCommand(kActivate);
}

bool AppExtension::closeRunningInstance() {
    return sendCommand(kClose);
}

void AppExtension::decorateWindow(QObject* _obj) {}

void AppExtension::setCloseButtonEnabled(QObject* _obj, bool _enabled) {
    if (!_obj || !_obj->isWindowType()) {
        return;
    }
    auto* window = static_cast<QWindow*>(_obj);
    if (!window->flags().testFlag(Qt::WindowCloseButtonHint)) {
        return;
    }
    Platform::setCloseMenuEntryEnabled(window, _enabled);
}

void AppExtension::handleConnection(QLocalServer* server) {
    QLocalSocket* socket = server->nextPendingConnection();
    if (!socket) {
        return;
    }
    // Only a command that arrived whole is acknowledged: a sender that stalls or hangs up half-way must
    // not take the acknowledgement for success.
    qint32 command = 0;
    if (!readInteger(*socket, &command) || !writeInteger(*socket, kAcknowledge)) {
        command = 0;
    }
    if (command == kActivate) {
        emit activateRequested();
    } else if (command == kClose) {
        emit closeRequested();
    }
    delete socket;
}

bool AppExtension::sendCommand(qint32 command) {
    return m_runningInstance && sendCommandTo(m_key, command);
}

bool AppExtension::sendCommandTo(const QString& key, qint32 command) {
    const auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(Platform::InstanceLock::serverName(key), QIODevice::ReadWrite);
    socket->waitForConnected(kWaitMs);

    qint32 answer = 0;
    return writeInteger(*socket, command) && readInteger(*socket, &answer) && answer == kAcknowledge;
}

}  // namespace Common
