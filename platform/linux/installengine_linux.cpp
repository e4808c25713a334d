#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QVector>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "base/logging.h"
#include "platform/installengine.h"

// Linux has neither the Windows Installer nor a registry. The package is a gzip'd tar of the installed
// tree under one top-level folder, and the engine is tar itself, run as its own process so that its exit
// code and a crash mean what they mean for msiexec. The installation is per user, like every file this
// installer may write without elevation.
//
// An update never touches the live tree: tar unpacks into "<location>.new" beside it, the new program must
// answer --version from there, and only then the two folders trade places in one rename. Whenever the
// process dies, <location> holds either the old tree or the new one, complete. What a dead run leaves
// beside it ("<location>.new", "<location>.old") is cleared by the next run.

namespace Platform {

namespace {

const char* const kPackageName = "Meldra.tar.gz";
const char* const kExecutable = "Meldra";
const char* const kUninstaller = "sonella-uninstall";
const char* const kRecordFile = "Corvin/Sonella.ini";
const char* const kRecordValue = "InstallLocation";
const char* const kAppId = "example.arca.Meldra";
// A first start of Qt on a cold disk cache, on a busy machine, is well under this.
constexpr int kCheckTimeoutMs = 60000;

QString recordPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           QLatin1String(kRecordFile);
}

QString applicationsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/applications");
}

QString stagingFolder(const QString& location) {
    return location + QStringLiteral(".new");
}

QString retiredFolder(const QString& location) {
    return location + QStringLiteral(".old");
}

QString binFolder(const QString& location) {
    return QDir::cleanPath(location + QStringLiteral("/bin")) + QLatin1Char('/');
}

bool holdsProgram(const QString& location) {
    const QFileInfo program(binFolder(location) + QLatin1String(kExecutable));
    return program.isFile() && program.isExecutable();
}

void removeTree(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink()) {
        QDir(path).removeRecursively();
    } else if (info.exists() || info.isSymLink()) {
        QFile::remove(path);
    }
}

// String values of a desktop entry escape the backslash and control characters.
QString escapeDesktopString(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
            case '\\':
                out += QLatin1String("\\\\");
                break;
            case '\n':
                out += QLatin1String("\\n");
                break;
            case '\t':
                out += QLatin1String("\\t");
                break;
            case '\r':
                out += QLatin1String("\\r");
                break;
            default:
                out += c;
        }
    }
    return out;
}

// One Exec argument: in double quotes, with " ` $ and \ escaped by a backslash inside them, and % doubled,
// which would otherwise start a field code. The string escaping applies on top of that, so a backslash in
// the path ends up as four in the file.
QString execArgument(const QString& argument) {
    QString quoted(QLatin1Char('"'));
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        } else if (c == QLatin1Char('%')) {
            quoted += QLatin1Char('%');
        }
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapeDesktopString(quoted);
}

// GLib looks for the program of an Exec line before it expands the field codes, so it does not find a
// program whose path has a "%" in it and the desktop hides the entry; env, found on PATH, runs it instead.
QString execLine(const QString& program) {
    const QString argument = execArgument(program);
    return program.contains(QLatin1Char('%')) ? QStringLiteral("env ") + argument : argument;
}

bool writeAtomically(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

// The packaged desktop entry starts "Meldra" from PATH and names its icon by theme name; neither resolves
// for a tree under the user's data directory, so the user's copy points at the files themselves.
bool installDesktopEntries(const QString& location) {
    QFile packaged(location + QStringLiteral("/share/applications/") + QLatin1String(kAppId) +
                   QStringLiteral(".desktop"));
    if (!packaged.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    const QString program = binFolder(location) + QLatin1String(kExecutable);
    const QString uninstaller = binFolder(location) + QLatin1String(kUninstaller);
    const QString icon = location + QStringLiteral("/share/icons/hicolor/256x256/apps/") +
                         QLatin1String(kAppId) + QStringLiteral(".png");
    const QString iconLine = QFileInfo::exists(icon) ? QStringLiteral("Icon=") + escapeDesktopString(icon)
                                                     : QStringLiteral("Icon=") + QLatin1String(kAppId);
    QString text;
    QTextStream out(&text);
    QTextStream in(&packaged);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1String("Exec="))) {
            out << "Exec=" << execLine(program) << '\n';
        } else if (line.startsWith(QLatin1String("TryExec="))) {
            out << "TryExec=" << escapeDesktopString(program) << '\n';
        } else if (line.startsWith(QLatin1String("Icon="))) {
            out << iconLine << '\n';
        } else {
            out << line << '\n';
        }
    }
    out.flush();

    const QString folder = applicationsFolder();
    QDir().mkpath(folder);
    bool written = writeAtomically(
        folder + QLatin1Char('/') + QLatin1String(kAppId) + QStringLiteral(".desktop"), text.toUtf8());
    if (QFileInfo(uninstaller).isExecutable()) {
        // Asks before it removes anything, so it runs in a terminal.
        const QString entry = QStringLiteral(
                                  "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Uninstall Sonella\n"
                                  "Comment=Remove Sonella, its settings and its downloads from your account\n"
                                  "Exec=%1\nTryExec=%2\n%3\nTerminal=true\nCategories=Settings;\n")
                                  .arg(execLine(uninstaller), escapeDesktopString(uninstaller), iconLine);
        written = writeAtomically(folder + QLatin1Char('/') + QLatin1String(kAppId) +
                                      QStringLiteral("-uninstall.desktop"),
                                  entry.toUtf8()) &&
                  written;
    }
    return written;
}

// The installed program must at least start and answer before it replaces a working one. No display is
// needed for that, and none may be there when a script runs the installer. Gives its answer, or nothing
// when it did not answer.
std::optional<QString> versionAnswer(const QString& program) {
    QProcess check;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    check.setProcessEnvironment(environment);
    check.setProcessChannelMode(QProcess::SeparateChannels);
    check.start(program, {QStringLiteral("--version")}, QIODevice::ReadOnly);
    if (!check.waitForFinished(kCheckTimeoutMs)) {
        check.kill();
        check.waitForFinished();
        return std::nullopt;
    }
    const QString answer = QString::fromLocal8Bit(check.readAllStandardOutput()).trimmed();
    if (check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0 || answer.isEmpty()) {
        return std::nullopt;
    }
    return answer;
}

// The program answers "Meldra 1.2.217.0", which gives {1, 2, 217, 0}; an answer that does not end in a
// version gives none. Not QVersionNumber: built by GCC 12 at -O2, one whose parts do not all fit its inline
// storage came back null here.
QVector<uint> answeredVersion(const QString& answer) {
    QVector<uint> parts;
    for (const QString& part : answer.section(QLatin1Char(' '), -1).split(QLatin1Char('.'))) {
        bool number = false;
        parts.append(part.toUInt(&number));
        if (!number) {
            return {};
        }
    }
    return parts;
}

// Going back would bring back whatever a later version fixed, so a package older than the installed
// program is refused. An installed program that does not answer (damaged) may be replaced by anything
// that does, and a package that does not say its version cannot be compared.
bool olderThanInstalled(const QString& answer, const QString& location) {
    const QVector<uint> offered = answeredVersion(answer);
    if (offered.isEmpty() || !holdsProgram(location)) {
        return false;
    }
    const QString installedAnswer =
        versionAnswer(binFolder(location) + QLatin1String(kExecutable)).value_or(QString());
    const QVector<uint> installed = answeredVersion(installedAnswer);
    if (installed.isEmpty() || !(offered < installed)) {
        return false;
    }
    qCWarning(lcInstaller) << "Refused to install" << answer << "over the newer" << installedAnswer << "in"
                           << location;
    return true;
}

// The rename below must not publish files whose data is still only in the page cache.
void flushFileSystem(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

bool renamePath(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Puts the complete tree in fresh at location. Afterwards fresh holds the old tree, if there was one.
bool switchTo(const QString& fresh, const QString& location) {
    const QByteArray from = QFile::encodeName(fresh);
    const QByteArray to = QFile::encodeName(location);
    if (!QFileInfo::exists(location)) {
        return renamePath(fresh, location);
    }
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
    // File systems without an atomic exchange (NFS, CIFS): two renames. A run that dies between them
    // leaves the old tree at ".old" and no location, which the next run puts back first.
    const QString retired = retiredFolder(location);
    if (!renamePath(location, retired)) {
        return false;
    }
    if (!renamePath(fresh, location)) {
        renamePath(retired, location);
        return false;
    }
    return renamePath(retired, fresh);
}

}  // namespace

QString InstallEngine::defaultPackagePath() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/data")) +
           QLatin1Char('/') + QLatin1String(kPackageName);
}

QString InstallEngine::defaultInstallLocation() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/meldra");
}

QVector<int> InstallEngine::defaultRestartCodes() {
    return {};
}

QString InstallEngine::executableName() {
    return QLatin1String(kExecutable);
}

InstallEngine::Command InstallEngine::platformCommand() const {
    // tar refuses members with ".." and strips leading slashes, so the archive cannot write outside the
    // staging folder. The package's one top-level folder is dropped: the staging folder takes its place.
    return Command{QStringLiteral("tar"),
                   {QStringLiteral("-x"), QStringLiteral("-z"), QStringLiteral("--no-same-owner"),
                    QStringLiteral("--strip-components=1"), QStringLiteral("-f"), m_packagePath,
                    QStringLiteral("-C"), stagingFolder(m_installLocation)}};
}

bool InstallEngine::preparePlatformInstall() const {
    const QString location = QDir::cleanPath(m_installLocation);
    if (!QDir().mkpath(QFileInfo(location).absolutePath())) {
        return false;
    }
    const QString retired = retiredFolder(location);
    if (!QFileInfo::exists(location) && holdsProgram(retired) && !renamePath(retired, location)) {
        return false;
    }
    removeTree(stagingFolder(location));
    removeTree(retired);
    return QDir().mkdir(stagingFolder(location));
}

int InstallEngine::finishPlatformInstall(int engineCode) const {
    const QString location = QDir::cleanPath(m_installLocation);
    const QString fresh = stagingFolder(location);
    int code = engineCode;
    if (code == 0 && !holdsProgram(fresh)) {
        // An archive that unpacked cleanly but holds no program must not count as an installation.
        code = kIncompletePackage;
    } else if (code == 0) {
        const auto answer = versionAnswer(binFolder(fresh) + QLatin1String(kExecutable));
        if (!answer) {
            code = kCheckFailed;
        } else if (olderThanInstalled(*answer, location)) {
            code = kOlderPackage;
        }
    }
    if (code == 0) {
        flushFileSystem(fresh);
        if (!switchTo(fresh, location)) {
            code = kSwitchFailed;
        }
    }
    removeTree(fresh);
    if (code != 0) {
        return code;
    }

    // The record names the folder that the running program will report as its own, symbolic links
    // resolved, which is the same folder before and after every update.
    const QString installed = QFileInfo(location).canonicalFilePath();
    QSettings record(recordPath(), QSettings::IniFormat);
    // Qt 5 writes Latin-1 with escapes by default; people and scripts read this file as UTF-8 text.
    record.setIniCodec("UTF-8");
    record.setValue(QLatin1String(kRecordValue), binFolder(installed));
    record.sync();
    if (record.status() != QSettings::NoError) {
        return kRecordFailed;
    }
    installDesktopEntries(installed);
    return 0;
}

QString InstallEngine::recordedFolder() {
    QSettings record(recordPath(), QSettings::IniFormat);
    record.setIniCodec("UTF-8");
    return record.value(QLatin1String(kRecordValue)).toString();
}

}  // namespace Platform
