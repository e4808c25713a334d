#include "app/application.h"

#include <QCloseEvent>
#include <QEvent>
#include <QWindow>

#include "base/logging.h"
#include "common/appextension.h"
#include "io/version.h"
#include "meldraversion.h"
#include "platform/terminationsignals.h"

#ifndef ARCA_INSTALLER
#include "common/othersoftware.h"
#include "io/iocontext.h"
#include "io/iodevicescanner.h"
#include "mediator/firmwareimage.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "mediator/uisoftwareupdatemediator.h"
#include "updater/updatemanager.h"
#else
#include "mediator/uiinstallermediator.h"
#endif

namespace {

constexpr Global::Version kApplicationVersion(Global::Version::compose(MELDRA_VERSION_MAJOR,
                                                                       MELDRA_VERSION_MINOR,
                                                                       MELDRA_VERSION_PATCH),
                                              MELDRA_VERSION_BUILD);
const char* const kOrganizationName = "arca";
const char* const kOrganizationDomain = "arca.example";

// The main program's key; the installer closes a running copy of it before it replaces its files.
const char* const kMainProgramKey = "a81c9c8e-efeb-4781-a362-26ddd6d15b74";
#ifndef ARCA_INSTALLER
const char* const kApplicationName = "Sonella - Headset Pairing & Update Utility";
const char* const kSingleInstanceKey = kMainProgramKey;
#else
const char* const kApplicationName = "Sonella Desktop";
const char* const kSingleInstanceKey = "10837403-4004-4fe9-82ea-b536aa04bd53";
#endif

}  // namespace

Application::Application(int& argc, char** argv) : QGuiApplication(argc, argv) {
    setApplicationVersion(kApplicationVersion.toString(QStringLiteral("M.m.p.b"), 10));
    setApplicationName(QString::fromUtf8(kApplicationName));
    setOrganizationName(QString::fromUtf8(kOrganizationName));
    setOrganizationDomain(QString::fromUtf8(kOrganizationDomain));

#ifndef ARCA_INSTALLER
    m_ioContext = std::make_shared<Io::IoContext>();
    m_deviceScanner = std::make_shared<Io::IoDeviceScanner>(m_ioContext, nullptr);
    m_otherSoftware = std::make_unique<Common::OtherSoftware>();
    m_appExtension = std::make_unique<Common::AppExtension>(QString::fromLatin1(kSingleInstanceKey));
    m_updateManager = std::make_unique<Updater::UpdateManager>(nullptr);
    // The online layer knows neither the devices nor the engine; a downloaded image is judged by both here.
    m_updateManager->setFirmwareCheck(&UIMediator::FirmwareImage::checkDownload);
    m_firmwareUpdateMediator =
        std::make_unique<UIMediator::UIFirmwareUpdateMediator>(m_ioContext, m_deviceScanner, nullptr);
    m_firmwareUpdateMediator->setOperationLockKey(
        UIMediator::UIFirmwareUpdateMediator::defaultOperationLockKey());
    m_softwareUpdateMediator = std::make_unique<UIMediator::UISoftwareUpdateMediator>(nullptr);

    // A damaged download would otherwise be offered again and again: drop it so the next check refetches.
    m_firmwareUpdateMediator->setImageRefusedHandler(
        [manager = m_updateManager.get()](const QString& path) { manager->discardDownload(path); });
    connect(m_appExtension.get(), &Common::IAppExtension::activateRequested, this,
            &Application::bringToFront);
    connect(m_appExtension.get(), &Common::IAppExtension::closeRequested, this, &Application::closeWhenIdle);
    // Connected before QML connects, but the quit is queued, so the window still sees the final status.
    const auto on_status = [this](UIMediator::UIFirmwareUpdateMediator::Status status) {
        using Status = UIMediator::UIFirmwareUpdateMediator::Status;
        if (status != Status::Started && status != Status::Updating && status != Status::Repairing &&
            status != Status::Rebooting) {
            onOperationEnded();
        }
    };
    connect(m_firmwareUpdateMediator.get(), &UIMediator::UIFirmwareUpdateMediator::updateStatusChanged, this,
            on_status);
    connect(m_firmwareUpdateMediator.get(), &UIMediator::UIFirmwareUpdateMediator::repairStatusChanged, this,
            on_status);
    // Sees the close of a window before the window does, also when the session ends.
    installEventFilter(this);
#else
    m_installerMediator = std::make_unique<UIMediator::UIInstallerMediator>(nullptr);
    m_installerMediator->setProgramToClose(QString::fromLatin1(kMainProgramKey));
    m_appExtension = std::make_unique<Common::AppExtension>(QString::fromLatin1(kSingleInstanceKey));
#endif
}

Application::~Application() {
    // Members go in reverse order of creation; the installer's mediator waits here for a running job.
#ifndef ARCA_INSTALLER
    // Only an end that bypassed closeWhenIdle() finds an operation running (the system ending the session
    // without asking): a worker waiting for a device must not hold the process for its whole time-out.
    m_firmwareUpdateMediator->setClosing();
    m_softwareUpdateMediator.reset();
    m_firmwareUpdateMediator.reset();
    m_updateManager.reset();
    m_appExtension.reset();
    m_otherSoftware.reset();
    m_deviceScanner.reset();
    m_ioContext.reset();
#else
    m_installerMediator.reset();
    m_appExtension.reset();
#endif
}

const char* Application::singleInstanceKey() {
    return kSingleInstanceKey;
}

Common::AppExtension* Application::extension() const {
    return m_appExtension.get();
}

#ifndef ARCA_INSTALLER
QObject* Application::otherSoftware() const {
    return m_otherSoftware.get();
}
QObject* Application::appExtension() const {
    return m_appExtension.get();
}
QObject* Application::updateManager() const {
    return m_updateManager.get();
}

void Application::holdOnlineChecks(bool held) {
    m_updateManager->setHeld(held);
}
QObject* Application::firmwareUpdateMediator() const {
    return m_firmwareUpdateMediator.get();
}
QObject* Application::softwareUpdateMediator() const {
    return m_softwareUpdateMediator.get();
}

bool Application::isBusy() {
    return m_firmwareUpdateMediator && m_firmwareUpdateMediator->isRunning();
}

void Application::closeWhenIdle() {
    if (!isBusy()) {
        quit();
        return;
    }
    // Leaving now would stop a transfer midway and leave the device in update mode with half an image.
    m_closePending = true;
}

void Application::onOperationEnded() {
    if (m_closePending) {
        QMetaObject::invokeMethod(this, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

bool Application::eventFilter(QObject* watched, QEvent* event) {
    // Only the close of a window of its own (not of a dialog) would end the program.
    if (event->type() == QEvent::Close && watched->isWindowType() &&
        !static_cast<QWindow*>(watched)->transientParent() && isBusy()) {
        closeWhenIdle();
        event->ignore();
        return true;
    }
    return QGuiApplication::eventFilter(watched, event);
}

void Application::closeOnTerminationSignals() {
    Platform::watchTerminationSignals(this, [this](int) {
        qCInfo(lcShell) << "termination signal: closing"
                        << (isBusy() ? "after the running operation" : "now");
        closeWhenIdle();
    });
}

void Application::bringToFront() {
    const auto windows = QGuiApplication::allWindows();
    for (QWindow* window : windows) {
        // A hidden window (a dialog that was closed, a window that Qt keeps for itself) stays hidden:
        // showing it would lay an empty window over the main one.
        if (!window->isVisible()) {
            continue;
        }
        const Qt::WindowStates states = window->windowStates();
        window->setWindowState(Qt::WindowMinimized);
        if (states & Qt::WindowMaximized) {
            window->showMaximized();
        } else {
            window->showNormal();
        }
        window->raise();
        window->requestActivate();
    }
}
#else
QObject* Application::appExtension() const {
    return m_appExtension.get();
}
QObject* Application::installerMediator() const {
    return m_installerMediator.get();
}
#endif

bool Application::event(QEvent* event) {
#ifndef ARCA_INSTALLER
    if ((event->type() == QEvent::Close || event->type() == QEvent::Quit) && isBusy()) {
        closeWhenIdle();
        event->ignore();
        return true;
    }
#else
    const bool busy = m_installerMediator && m_installerMediator->isRunning();
    if (event->type() == QEvent::Close && busy) {
        event->ignore();
        return true;
    }
#endif
    return QGuiApplication::event(event);
}
