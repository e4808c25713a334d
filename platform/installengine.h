#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace Platform {

// The operating system's installer engine: one run installs the package that lies beside the installer,
// as a separate process, and yields that process's exit code. On Windows this is the Windows Installer
// and the installed program's folder is in the registry; on Linux the package is an archive of the
// installed tree, unpacked into the user's install location, which is then recorded in the same kind of
// settings store. A value type, so that a running job owns its own copy.
class InstallEngine {
public:
    // The process that does the work. Arguments are passed as they are, without a shell.
    struct Command {
        QString program;
        QStringList arguments;
    };

    // Codes of our own for a run that the engine itself reported as successful. They stay clear of
    // tar's 1 and 2 and of QProcess's negative codes.
    static constexpr int kPrepareFailed = 69;      // the install location could not be created
    static constexpr int kRecordFailed = 70;       // the install location could not be recorded
    static constexpr int kIncompletePackage = 71;  // the package held no program
    static constexpr int kCheckFailed = 72;        // the unpacked program did not answer --version
    static constexpr int kSwitchFailed = 73;       // the new installation could not take the old one's place
    static constexpr int kOlderPackage = 74;       // the package is older than the installed program

    InstallEngine();

    // Beside the installer: <application dir>/data/ plus the platform's package name.
    [[nodiscard]] QString packagePath() const { return m_packagePath; }
    void setPackagePath(const QString& path) { m_packagePath = path; }

    // Where the Linux engine unpacks the tree; unused on Windows, where the package decides.
    [[nodiscard]] QString installLocation() const { return m_installLocation; }
    void setInstallLocation(const QString& path) { m_installLocation = path; }

    // Replaces the platform's engine with another program. Such a stand-in only runs: nothing is
    // recorded afterwards, whatever it returns.
    void setCommand(const Command& command);
    [[nodiscard]] bool hasCustomCommand() const { return m_custom; }

    // The engine run for the current settings.
    [[nodiscard]] Command command() const;

    // Exit codes of the engine that mean success with a restart still to come (Windows: 3010, 1641). They
    // count as success; the restart is left to the user.
    [[nodiscard]] QVector<int> restartCodes() const { return m_restartCodes; }
    void setRestartCodes(const QVector<int>& codes) { m_restartCodes = codes; }

    // Runs the engine and waits for it. 0 is success, also for a restart code; a crash or a program that
    // could not be started gives QProcess::execute's negative codes. Blocking: call it off the GUI thread.
    [[nodiscard]] int install() const;

    // The folder of the installed main program as recorded by the last installation, ending in a
    // separator, or an empty string when nothing is recorded.
    [[nodiscard]] static QString recordedFolder();
    // The main program's file name inside that folder.
    [[nodiscard]] static QString executableName();

    [[nodiscard]] static QString defaultPackagePath();
    [[nodiscard]] static QString defaultInstallLocation();
    [[nodiscard]] static QVector<int> defaultRestartCodes();

private:
    [[nodiscard]] Command platformCommand() const;
    [[nodiscard]] bool preparePlatformInstall() const;
    // Given the engine process's exit code; whatever the engine left behind is the platform's to keep or
    // discard.
    [[nodiscard]] int finishPlatformInstall(int engineCode) const;

    QString m_packagePath;
    QString m_installLocation;
    QVector<int> m_restartCodes;
    Command m_command;
    bool m_custom = false;
};

}  // namespace Platform
