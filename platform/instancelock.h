#pragma once

#include <QLocalServer>
#include <QString>
#include <memory>

#include "base/nocopyable.h"

class QSharedMemory;

namespace Platform {

// Which process is the first one of a deliverable, and where it listens for the others.
//
// On Windows the named memory segment alone decides: the system frees it with the last handle, also when
// the holder crashes. A Unix segment outlives a crashed holder and would block every later start, so on
// Linux a lock on a file in the user's runtime directory decides (the kernel drops it with the process),
// and a segment left behind is cleaned before it is created again. Names there are private to the user.
class InstanceLock : public Utils::NoCopyable {
public:
    explicit InstanceLock(const QString& key);
    ~InstanceLock();

    // The name of the memory segment and of the request server for `key` on this system.
    [[nodiscard]] static QString segmentKey(const QString& key);
    [[nodiscard]] static QString serverName(const QString& key);
    [[nodiscard]] static QLocalServer::SocketOptions serverSocketOptions();

    // True when this process is the first one for the key; `segment` (made with segmentKey()) is created
    // then. After a true result the server name is free to listen on.
    [[nodiscard]] bool claim(QSharedMemory& segment);

    // Whether some process holds the key now, asked without taking it: the installer asks this of the
    // main program, whose start must not find its own key taken by the installer.
    [[nodiscard]] static bool isHeld(const QString& key);

private:
    QString m_key;
    int m_handle = -1;
};

// Held while a firmware update or a repair runs, by whichever process of the deliverable runs it (the
// window or the command line), so that one device never has two owners. It lives where the instance lock
// lives and goes with its holder the same way, also after a crash; unlike that one, any process may take
// it, first instance or not.
class OperationLock : public Utils::NoCopyable {
public:
    explicit OperationLock(const QString& key);
    ~OperationLock();

    // False when another holder has it, or when there is no private place to keep it.
    [[nodiscard]] bool tryLock();
    void unlock();
    [[nodiscard]] bool isLocked() const;

private:
    QString m_key;
    int m_handle = -1;
    std::unique_ptr<QSharedMemory> m_segment;
};

}  // namespace Platform
