#pragma once

#include <QGuiApplication>
#include <QObject>
#include <memory>

// One Application class per deliverable, chosen at build time: ARCA_INSTALLER selects the installer's
// members. Both own every native service object and hand them to QML as read-only properties of "App".

#ifndef ARCA_INSTALLER
namespace Io {
class IoContext;
class IoDeviceScanner;
}  // namespace Io
namespace Common {
class IOtherSoftware;
class AppExtension;
}  // namespace Common
namespace Updater {
class UpdateManager;
}
namespace UIMediator {
class UIFirmwareUpdateMediator;
class UISoftwareUpdateMediator;
}  // namespace UIMediator
#else
namespace Common {
class AppExtension;
}
namespace UIMediator {
class UIInstallerMediator;
}
#endif

class Application : public QGuiApplication {
    Q_OBJECT
#ifndef ARCA_INSTALLER
    Q_PROPERTY(QObject* otherSoftware READ otherSoftware CONSTANT FINAL)
    Q_PROPERTY(QObject* appExtension READ appExtension CONSTANT FINAL)
    Q_PROPERTY(QObject* updateManager READ updateManager CONSTANT FINAL)
    Q_PROPERTY(QObject* firmwareUpdateMediator READ firmwareUpdateMediator CONSTANT FINAL)
    Q_PROPERTY(QObject* softwareUpdateMediator READ softwareUpdateMediator CONSTANT FINAL)
#else
    Q_PROPERTY(QObject* appExtension READ appExtension CONSTANT FINAL)
    Q_PROPERTY(QObject* installerMediator READ installerMediator CONSTANT FINAL)
#endif

public:
    Application(int& argc, char** argv);
    ~Application() override;

    static const char* singleInstanceKey();

#ifndef ARCA_INSTALLER
    [[nodiscard]] QObject* otherSoftware() const;
    [[nodiscard]] QObject* appExtension() const;
    [[nodiscard]] QObject* updateManager() const;
    [[nodiscard]] QObject* firmwareUpdateMediator() const;
    [[nodiscard]] QObject* softwareUpdateMediator() const;
    // Online checks that QML asks for wait while held, and are made when released.
    void holdOnlineChecks(bool held);
#else
    [[nodiscard]] QObject* appExtension() const;
    [[nodiscard]] QObject* installerMediator() const;
#endif
    [[nodiscard]] Common::AppExtension* extension() const;

    bool event(QEvent* event) override;
#ifndef ARCA_INSTALLER
    bool eventFilter(QObject* watched, QEvent* event) override;
    // SIGTERM, SIGHUP and SIGINT (logout, shutdown, a closed terminal, Ctrl+C) become close requests.
    void closeOnTerminationSignals();
#endif

private:
#ifndef ARCA_INSTALLER
    void bringToFront();
    [[nodiscard]] bool isBusy();
    // Every way of closing the program ends here: at once when idle, otherwise after the running update
    // or repair has signalled its final status.
    void closeWhenIdle();
    void onOperationEnded();

    std::shared_ptr<Io::IoContext> m_ioContext;
    std::shared_ptr<Io::IoDeviceScanner> m_deviceScanner;
    std::unique_ptr<Common::IOtherSoftware> m_otherSoftware;
    std::unique_ptr<Common::AppExtension> m_appExtension;
    std::unique_ptr<Updater::UpdateManager> m_updateManager;
    std::unique_ptr<UIMediator::UIFirmwareUpdateMediator> m_firmwareUpdateMediator;
    std::unique_ptr<UIMediator::UISoftwareUpdateMediator> m_softwareUpdateMediator;
    bool m_closePending = false;
#else
    std::unique_ptr<Common::AppExtension> m_appExtension;
    std::unique_ptr<UIMediator::UIInstallerMediator> m_installerMediator;
#endif
};
