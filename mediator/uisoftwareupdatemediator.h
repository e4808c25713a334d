#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include "mediator/iuimediator.h"

namespace UIMediator {

// Starts a downloaded installer of a newer program version as a process of its own, in its update mode.
class UISoftwareUpdateMediator : public IUIMediator {
    Q_OBJECT

public:
    explicit UISoftwareUpdateMediator(QObject* parent = nullptr);
    // Waits for a launch that is still under way.
    ~UISoftwareUpdateMediator() override;

    // True when a launch has been started; false while one is under way or when no file is at the path.
    // Whether the installer really started is not known here.
    Q_INVOKABLE bool update(const QString& _software_path);

    // The program text handed to the process launcher for an installer at path.
    [[nodiscard]] static QString programText(const QString& path);

private:
    QFutureWatcher<bool> m_watcher;
};

}  // namespace UIMediator
