#include <qt_windows.h>

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#include "base/logging.h"
#include "platform/installengine.h"

namespace Platform {

namespace {

const char* const kPackageFolder = "/data";
const char* const kPackageName = "/Meldra.msi";
// An administrator's deployment (ALLUSERS=1) records the folder under the machine key, a user's own
// installation under the user's key; the machine's copy wins when both exist.
const char* const kMachineKey = "HKEY_LOCAL_MACHINE\\Software\\Corvin\\Sonella";
const char* const kUserKey = "HKEY_CURRENT_USER\\Software\\Corvin\\Sonella";
const char* const kRecordValue = "InstallLocation";
const char* const kExecutable = "Meldra.exe";
// 3010: the files in use are replaced at the next start of Windows; 1641: the engine started that restart.
constexpr int kRebootRequired = 3010;
constexpr int kRebootInitiated = 1641;

// msiexec.exe by its full path: found by search order, the first place looked in is the folder of the
// installer itself, which in a download folder is anybody's to write.
QString systemEngine() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length > MAX_PATH) {
        qCWarning(lcPlatform) << "The system folder could not be read, error" << GetLastError();
        return QString();
    }
    return QDir::toNativeSeparators(QString::fromWCharArray(folder, int(length)) +
                                    QStringLiteral("/msiexec.exe"));
}

}  // namespace

QString InstallEngine::defaultPackagePath() {
    const QString folder =
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QLatin1String(kPackageFolder));
    return QDir::toNativeSeparators(folder + QLatin1String(kPackageName));
}

QString InstallEngine::defaultInstallLocation() {
    return QString();
}

QVector<int> InstallEngine::defaultRestartCodes() {
    return {kRebootRequired, kRebootInitiated};
}

QString InstallEngine::executableName() {
    return QLatin1String(kExecutable);
}

InstallEngine::Command InstallEngine::platformCommand() const {
    // No user interface, and never a restart of the machine by the engine: a program still running from
    // the old version makes it ask for one, which is the user's to do (3010 counts as success).
    return Command{
        systemEngine(),
        {QStringLiteral("/i"), m_packagePath, QStringLiteral("/qn"), QStringLiteral("/norestart")}};
}

bool InstallEngine::preparePlatformInstall() const {
    return true;
}

int InstallEngine::finishPlatformInstall(int engineCode) const {
    // The package writes InstallLocation itself.
    return engineCode;
}

QString InstallEngine::recordedFolder() {
    for (const char* key : {kMachineKey, kUserKey}) {
        const QSettings record(QLatin1String(key), QSettings::NativeFormat);
        const QString folder = record.value(QLatin1String(kRecordValue)).toString();
        if (!folder.isEmpty()) {
            return folder;
        }
    }
    return QString();
}

}  // namespace Platform
