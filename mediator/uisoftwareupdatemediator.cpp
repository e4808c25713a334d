#include "mediator/uisoftwareupdatemediator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThreadPool>
#include <QtConcurrent>

namespace UIMediator {

UISoftwareUpdateMediator::UISoftwareUpdateMediator(QObject* parent) : IUIMediator(parent) {}

UISoftwareUpdateMediator::~UISoftwareUpdateMediator() {
    m_watcher.waitForFinished();
}

QString UISoftwareUpdateMediator::programText(const QString& path) {
    const QString native = QDir::toNativeSeparators(path);
#ifdef Q_OS_WIN
    // The program text becomes the head of a command line; the quotes keep a path with blanks in one piece.
    return QLatin1Char('"') + native + QLatin1Char('"');
#else
    // Elsewhere the text is passed to exec as it stands, so quotes would become part of the file name.
    return native;
#endif
}

bool UISoftwareUpdateMediator::update(const QString& _software_path) {
    if (m_watcher.isRunning()) {
        return false;
    }
    if (_software_path.isEmpty() || !QFile::exists(_software_path)) {
        return false;
    }
    const QString program = programText(_software_path);
    const QString path = _software_path;
    m_watcher.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [program, path]() {
#ifndef Q_OS_WIN
        // A download is stored without the execute bit; on Windows the file's type alone makes it runnable.
        QFile file(path);
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
#else
        Q_UNUSED(path)
#endif
        return QProcess::startDetached(program, {QStringLiteral("-update")});
    }));
    return true;
}

}  // namespace UIMediator
