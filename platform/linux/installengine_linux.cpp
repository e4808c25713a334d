#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

#include "platform/installengine.h"

// Linux has neither the Windows Installer nor a registry. The package is a gzip'd tar of the installed
// tree (bin/, lib/, share/) and the engine is tar itself, run as its own process so that its exit code
// and a crash mean what they mean for msiexec. The installation is per user, like every file this
// installer may write without elevation.

namespace Platform {

namespace {

const char* const kPackageName = "Meldra.tar.gz";
const char* const kExecutable = "Meldra";
const char* const kRecordFile = "Corvin/Sonella.ini";
const char* const kRecordValue = "InstallLocation";
const char* const kDesktopEntry = "example.arca.Meldra.desktop";

QString recordPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           QLatin1String(kRecordFile);
}

QString binFolder(const QString& location) {
    return QDir::cleanPath(location + QStringLiteral("/bin")) + QLatin1Char('/');
}

// The packaged desktop entry starts "Meldra" from PATH and names its icon by theme name; neither resolves
// for a tree under the user's data directory, so the user's copy points at the files themselves.
void installDesktopEntry(const QString& location) {
    QFile packaged(location + QStringLiteral("/share/applications/") + QLatin1String(kDesktopEntry));
    if (!packaged.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return;
    }
    const QString icon =
        location + QStringLiteral("/share/icons/hicolor/256x256/apps/example.arca.Meldra.png");
    QString text;
    QTextStream out(&text);
    QTextStream in(&packaged);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1String("Exec="))) {
            out << "Exec=\"" << binFolder(location) << kExecutable << "\"\n";
        } else if (line.startsWith(QLatin1String("TryExec="))) {
            out << "TryExec=" << binFolder(location) << kExecutable << '\n';
        } else if (line.startsWith(QLatin1String("Icon=")) && QFileInfo::exists(icon)) {
            out << "Icon=" << icon << '\n';
        } else {
            out << line << '\n';
        }
    }
    out.flush();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/applications");
    QDir().mkpath(folder);
    QSaveFile entry(folder + QLatin1Char('/') + QLatin1String(kDesktopEntry));
    if (entry.open(QIODevice::WriteOnly | QIODevice::Text)) {
        entry.write(text.toUtf8());
        entry.commit();
    }
}

}  // namespace

QString InstallEngine::defaultPackagePath() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/data")) +
           QLatin1Char('/') + QLatin1String(kPackageName);
}

QString InstallEngine::defaultInstallLocation() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/meldra");
}

QString InstallEngine::executableName() {
    return QLatin1String(kExecutable);
}

InstallEngine::Command InstallEngine::platformCommand() const {
    // tar refuses members with ".." and strips leading slashes, so the archive cannot write outside the
    // location. Existing files are replaced by unlinking, which also works while the old program runs.
    return Command{QStringLiteral("tar"),
                   {QStringLiteral("-x"), QStringLiteral("-z"), QStringLiteral("--no-same-owner"),
                    QStringLiteral("-f"), m_packagePath, QStringLiteral("-C"), m_installLocation}};
}

bool InstallEngine::preparePlatformInstall() const {
    return QDir().mkpath(m_installLocation);
}

int InstallEngine::finishPlatformInstall() const {
    // An archive that unpacked cleanly but holds no program must not count as an installation.
    const QFileInfo program(binFolder(m_installLocation) + QLatin1String(kExecutable));
    if (!program.isFile() || !program.isExecutable()) {
        return kIncompletePackage;
    }
    QSettings record(recordPath(), QSettings::IniFormat);
    record.setValue(QLatin1String(kRecordValue), binFolder(QFileInfo(m_installLocation).absoluteFilePath()));
    record.sync();
    if (record.status() != QSettings::NoError) {
        return kRecordFailed;
    }
    installDesktopEntry(m_installLocation);
    return 0;
}

QString InstallEngine::recordedFolder() {
    const QSettings record(recordPath(), QSettings::IniFormat);
    return record.value(QLatin1String(kRecordValue)).toString();
}

}  // namespace Platform
