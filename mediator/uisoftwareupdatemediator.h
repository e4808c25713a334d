#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <optional>

#include "mediator/iuimediator.h"
#include "updater/minisign.h"

namespace Platform {
class PinnedProgram;
}

namespace UIMediator {

// Starts a downloaded installer of a newer program version as a process of its own, in its update mode.
class UISoftwareUpdateMediator : public IUIMediator {
    Q_OBJECT

public:
    explicit UISoftwareUpdateMediator(QObject* parent = nullptr);
    // Waits for a launch that is still under way.
    ~UISoftwareUpdateMediator() override;

    // True when a launch has been started; false while one is under way or when no file is at the path.
    // Whether the installer really started is not known here: the launch itself refuses an installer
    // that is not signed by the program's key (or, without one, not accepted by the system's own check).
    Q_INVOKABLE bool update(const QString& _software_path);

    // The program text handed to the process launcher for an installer at path.
    [[nodiscard]] static QString programText(const QString& path);

    // Defaults to the compiled-in key; affects launches started afterwards.
    void setPublicKey(const std::optional<Updater::Minisign::PublicKey>& key);

private:
    [[nodiscard]] static bool trusted(const Platform::PinnedProgram& program, const QString& path,
                                      const std::optional<Updater::Minisign::PublicKey>& key);

    QFutureWatcher<bool> m_watcher;
    std::optional<Updater::Minisign::PublicKey> m_publicKey;
};

}  // namespace UIMediator
