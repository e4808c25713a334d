#include "mediator/uiinstallermediator.h"

#include <QDir>
#include <QProcess>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace UIMediator {

static_assert(sizeof(UIInstallerMediator::Status) == 4);
static_assert(std::atomic<UIInstallerMediator::Status>::is_always_lock_free);

UIInstallerMediator::UIInstallerMediator(QObject* parent) : IUIMediator(parent) {
    connect(&m_watcher, &QFutureWatcher<int>::started, this, [this] { setStatus(Status::Installing); });
    connect(&m_watcher, &QFutureWatcher<int>::finished, this, &UIInstallerMediator::onJobFinished);
}

UIInstallerMediator::~UIInstallerMediator() {
    // Never orphan the installer engine: a half-written installation left behind by a process nobody
    // waits for is worse than a late exit.
    if (m_watcher.isRunning()) {
        m_watcher.waitForFinished();
    }
}

bool UIInstallerMediator::isRunning() const {
    return m_watcher.isRunning();
}

bool UIInstallerMediator::install() {
    if (m_watcher.isRunning()) {
        return false;
    }
    // The watcher reports started() and finished() through the event loop, so Started below is always
    // seen before Installing, even when the engine ends at once.
    m_watcher.setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(), [engine = m_engine] { return engine.install(); }));
    setStatus(Status::Started);
    return true;
}

bool UIInstallerMediator::launch() {
    // The recorded folder ends in a separator, so the name is appended as it is; with nothing recorded
    // the bare name is left to the platform's search rules. The program is passed as it is, not as a
    // quoted command text to be split again: a Linux home folder may have a double quote in its name.
    const QString program = QDir::toNativeSeparators(Platform::InstallEngine::recordedFolder() +
                                                     Platform::InstallEngine::executableName());
    return QProcess::startDetached(program, QStringList());
}

UIInstallerMediator::Status UIInstallerMediator::status() const {
    return m_status.load();
}

void UIInstallerMediator::setEngine(const Platform::InstallEngine& engine) {
    m_engine = engine;
}

void UIInstallerMediator::setStatus(Status status) {
    if (m_status.exchange(status) != status) {
        emit statusChanged();
    }
}

void UIInstallerMediator::onJobFinished() {
    // A cancelled future has no result; there is no cancel path, but never read what is not there.
    const bool success = m_watcher.future().resultCount() > 0 && m_watcher.result() == 0;
    setStatus(success ? Status::Finished : Status::Failed);
}

}  // namespace UIMediator
