#include "platform/instancelock.h"

#include <QSharedMemory>

namespace Platform {

InstanceLock::InstanceLock(const QString& key) : m_key(key) {}

InstanceLock::~InstanceLock() = default;

QString InstanceLock::segmentKey(const QString& key) {
    return key;
}

QString InstanceLock::serverName(const QString& key) {
    return key;
}

QLocalServer::SocketOptions InstanceLock::serverSocketOptions() {
    return QLocalServer::WorldAccessOption;
}

bool InstanceLock::claim(QSharedMemory& segment) {
    return segment.create(1, QSharedMemory::ReadWrite);
}

}  // namespace Platform
