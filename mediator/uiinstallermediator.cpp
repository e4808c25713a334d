#include "mediator/uiinstallermediator.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include "base/logging.h"
#include "common/appextension.h"
#include "platform/instancelock.h"

namespace UIMediator {

static_assert(sizeof(UIInstallerMediator::Status) == 4);
static_assert(std::atomic<UIInstallerMediator::Status>::is_always_lock_free);

namespace {

// The program's own close command, as its --close option sends it: a firmware update that runs is
// finished first, and the program then lets go of its key as it ends.
bool closeAndWait(const QString& key, int timeout_ms) {
    const QDeadlineTimer deadline(timeout_ms);
    if (!Common::AppExtension::sendCommandTo(key, Common::AppExtension::kClose)) {
        // It may have been ending already; only the key says whether it is gone.
        qCInfo(lcInstaller) << "The running program did not take the close command";
    }
    while (Platform::InstanceLock::isHeld(key)) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(UIInstallerMediator::kClosePollMs);
    }
    return true;
}

}  // namespace

UIInstallerMediator::UIInstallerMediator(QObject* parent) : IUIMediator(parent) {
    connect(&m_watcher, &QFutureWatcher<int>::started, this, [this] { setStatus(Status::Installing); });
    connect(&m_watcher, &QFutureWatcher<int>::finished, this, &UIInstallerMediator::onJobFinished);
    connect(&m_closeWatcher, &QFutureWatcher<bool>::finished, this, &UIInstallerMediator::onCloseFinished);
}

UIInstallerMediator::~UIInstallerMediator() {
    // Never orphan the installer engine: a half-written installation left behind by a process nobody
    // waits for is worse than a late exit. A close still awaited starts nothing any more.
    m_closeWatcher.waitForFinished();
    if (m_watcher.isRunning()) {
        m_watcher.waitForFinished();
    }
}

bool UIInstallerMediator::isRunning() const {
    return m_watcher.isRunning() || m_closeWatcher.isRunning();
}

bool UIInstallerMediator::install() {
    if (isRunning()) {
        return false;
    }
    // The engine cannot replace the files of a running program; it would leave them for the next start of
    // Windows.
    if (!m_programKey.isEmpty() && Platform::InstanceLock::isHeld(m_programKey)) {
        qCInfo(lcInstaller) << "Asking the running program to close before the installation";
        m_closeWatcher.setFuture(QtConcurrent::run(
            QThreadPool::globalInstance(),
            [key = m_programKey, timeout = m_closeTimeoutMs] { return closeAndWait(key, timeout); }));
        setStatus(Status::Closing);
        return true;
    }
    startEngine();
    setStatus(Status::Started);
    return true;
}

void UIInstallerMediator::startEngine() {
    // The watcher reports started() and finished() through the event loop, so Started below is always
    // seen before Installing, even when the engine ends at once.
    m_watcher.setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(), [engine = m_engine] { return engine.install(); }));
}

bool UIInstallerMediator::launch() {
    // The recorded folder ends in a separator, so the name is appended as it is; with nothing recorded
    // the bare name is left to the platform's search rules. The program is passed as it is, not as a
    // quoted command text to be split again: a Linux home folder may have a double quote in its name.
    const QString program = QDir::toNativeSeparators(Platform::InstallEngine::recordedFolder() +
                                                     Platform::InstallEngine::executableName());
    QProcess process;
    process.setProgram(program);
    if (!process.startDetached()) {
        qCWarning(lcInstaller).noquote()
            << "starting the installed program" << program << "failed:" << process.errorString();
        return false;
    }
    qCInfo(lcInstaller).noquote() << "started the installed program" << program;
    return true;
}

UIInstallerMediator::Status UIInstallerMediator::status() const {
    return m_status.load();
}

void UIInstallerMediator::setEngine(const Platform::InstallEngine& engine) {
    m_engine = engine;
}

void UIInstallerMediator::setProgramToClose(const QString& key, int timeout_ms) {
    m_programKey = key;
    m_closeTimeoutMs = timeout_ms;
}

void UIInstallerMediator::setStatus(Status status) {
    if (m_status.exchange(status) != status) {
        emit statusChanged();
    }
}

void UIInstallerMediator::onJobFinished() {
    // A cancelled future has no result; there is no cancel path, but never read what is not there.
    const bool success = m_watcher.future().resultCount() > 0 && m_watcher.result() == 0;
    // A failure has been logged with its reason by the engine.
    if (success)
        qCInfo(lcInstaller) << "installation finished";
    setStatus(success ? Status::Finished : Status::Failed);
}

void UIInstallerMediator::onCloseFinished() {
    if (m_closeWatcher.future().resultCount() > 0 && m_closeWatcher.result()) {
        startEngine();
        return;
    }
    qCWarning(lcInstaller) << "Not installing: the running program did not close within"
                           << m_closeTimeoutMs / 1000 << "s";
    setStatus(Status::Failed);
}

}  // namespace UIMediator
