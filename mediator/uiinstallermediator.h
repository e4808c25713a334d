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

signals:
    void statusChanged();

private:
    void setStatus(Status status);
    void onJobFinished();

    QFutureWatcher<int> m_watcher;
    std::atomic<Status> m_status{Status::None};
    Platform::InstallEngine m_engine;
};

}  // namespace UIMediator
