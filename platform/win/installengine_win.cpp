#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSettings>

#include "platform/installengine.h"

namespace Platform {

namespace {

const char* const kPackageFolder = "/data";
const char* const kPackageName = "/Meldra.msi";
const char* const kCommandFirst = "msiexec.exe /i \"";
const char* const kCommandLast = "\" /qn";
const char* const kRegistryKey = "HKEY_LOCAL_MACHINE\\Software\\Corvin\\Sonella";
const char* const kRecordValue = "InstallLocation";
const char* const kExecutable = "Meldra.exe";

}  // namespace

QString InstallEngine::defaultPackagePath() {
    const QString folder =
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QLatin1String(kPackageFolder));
    return QDir::toNativeSeparators(folder + QLatin1String(kPackageName));
}

QString InstallEngine::defaultInstallLocation() {
    return QString();
}

QString InstallEngine::executableName() {
    return QLatin1String(kExecutable);
}

InstallEngine::Command InstallEngine::platformCommand() const {
    // One command text, split the way QProcess splits it: the quotes keep a path with blanks together.
    const QString text = QLatin1String(kCommandFirst) + m_packagePath + QLatin1String(kCommandLast);
    QStringList pieces = QProcess::splitCommand(text);
    const QString program = pieces.takeFirst();
    return Command{program, pieces};
}

bool InstallEngine::preparePlatformInstall() const {
    return true;
}

int InstallEngine::finishPlatformInstall(int engineCode) const {
    // The package writes InstallLocation itself.
    return engineCode;
}

QString InstallEngine::recordedFolder() {
    const QSettings record(QLatin1String(kRegistryKey), QSettings::NativeFormat);
    return record.value(QLatin1String(kRecordValue)).toString();
}

}  // namespace Platform
