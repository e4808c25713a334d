#pragma once

#include <QSharedMemory>
#include <QString>

#include "common/iappextension.h"
#include "platform/instancelock.h"
#include "platform/sleepinhibitor.h"

class QLocalServer;

namespace Common {

class AppExtension : public IAppExtension {
    Q_OBJECT

public:
    // Decides at once whether another process holds the key; if none does, this one starts serving the
    // requests of later starts.
    explicit AppExtension(const QString& key);
    ~AppExtension() override;

    bool setSystemSleepEnabled(bool _enabled) override;
    bool hasRunningInstance() override;
    bool activateRunningInstance() override;
    bool closeRunningInstance() override;
    void decorateWindow(QObject* _obj) override;
    void setCloseButtonEnabled(QObject* _obj, bool _enabled) override;

    // For a second start whose request was not taken in: the first instance may be on its way out after a
    // close. Waits up to `timeout_ms` for it to let go of the key; true when this process is now the first
    // instance and serves the later starts itself.
    bool takeOverFromClosingInstance(int timeout_ms);

    // Sends one command to the process holding `key`, as a later start of that program would; true when it
    // was acknowledged.
    static bool sendCommandTo(const QString& key, qint32 command);

    // Commands of the local-socket exchange; the acknowledgement is always `kAcknowledge`.
    static constexpr qint32 kActivate = 2;
    static constexpr qint32 kClose = 3;
    static constexpr qint32 kAcknowledge = 1;
    static constexpr int kWaitMs = 1000;
    static constexpr int kTakeOverPollMs = 50;

private:
    void serve();
    void handleConnection(QLocalServer* server);
    bool sendCommand(qint32 command);

    QString m_key;
    QSharedMemory m_sharedMemory;
    bool m_runningInstance = false;
    Platform::InstanceLock m_lock;
    Platform::SleepInhibitor m_sleepInhibitor;
    QLocalServer* m_server = nullptr;
};

}  // namespace Common
