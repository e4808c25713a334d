#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <atomic>

#include "mediator/iuimediator.h"
#include "platform/installengine.h"

namespace UIMediator {

// The installer's whole native side: runs the package installation on the global thread pool, publishes
// its progress as a status, and starts the installed main program.
class UIInstallerMediator : public IUIMediator {
    Q_OBJECT
    Q_PROPERTY(Status status READ status NOTIFY statusChanged FINAL)

public:
    enum class Status : qint32 {
        None = 0,
        Started = 1,
        Installing = 2,
        Finished = 3,
        Failed = 4,
        // The installed main program was asked to close and is waited for before the engine runs; it
        // comes instead of Started and is followed by Installing, or by Failed when it stays.
        Closing = 5,
    };
    Q_ENUM(Status)

    explicit UIInstallerMediator(QObject* parent = nullptr);
    ~UIInstallerMediator() override;

    Q_INVOKABLE bool isRunning() const;
    Q_INVOKABLE bool install();
    Q_INVOKABLE bool launch();

    [[nodiscard]] Status status() const;

    // The engine that later install() calls run; a running job keeps the copy it started with.
    void setEngine(const Platform::InstallEngine& engine);
    [[nodiscard]] const Platform::InstallEngine& engine() const { return m_engine; }

    // The single-instance key of the main program, which an installation asks to close first and waits
    // for, at most `timeout_ms`; an empty key closes nothing.
    void setProgramToClose(const QString& key, int timeout_ms = kCloseTimeoutMs);

    // Long enough for a firmware update that the program finishes before it closes.
    static constexpr int kCloseTimeoutMs = 300000;
    static constexpr int kClosePollMs = 100;

signals:
    void statusChanged();

private:
    void setStatus(Status status);
    void startEngine();
    void onJobFinished();
    void onCloseFinished();

    QFutureWatcher<int> m_watcher;
    QFutureWatcher<bool> m_closeWatcher;
    QString m_programKey;
    int m_closeTimeoutMs = kCloseTimeoutMs;
    std::atomic<Status> m_status{Status::None};
    Platform::InstallEngine m_engine;
};

}  // namespace UIMediator
