#include "platform/installengine.h"

#include <QProcess>

#include "base/logging.h"

namespace Platform {

InstallEngine::InstallEngine()
    : m_packagePath(defaultPackagePath()),
      m_installLocation(defaultInstallLocation()),
      m_restartCodes(defaultRestartCodes()) {}

void InstallEngine::setCommand(const Command& command) {
    m_command = command;
    m_custom = true;
}

InstallEngine::Command InstallEngine::command() const {
    return m_custom ? m_command : platformCommand();
}

int InstallEngine::install() const {
    if (!m_custom && !preparePlatformInstall()) {
        return kPrepareFailed;
    }
    const Command run = command();
    int code = QProcess::execute(run.program, run.arguments);
    const bool restart = code != 0 && m_restartCodes.contains(code);
    if (restart) {
        qCInfo(lcInstaller) << "Installed" << m_packagePath << "with" << run.program
                            << "- restart required, exit code" << code;
        code = 0;
    }
    if (!m_custom) {
        code = finishPlatformInstall(code);
    }
    if (code != 0) {
        // QProcess reports -2 for a program that could not start and -1 for a crash.
        qCWarning(lcInstaller) << "Installing" << m_packagePath << "with" << run.program
                               << "failed, exit code" << code;
    }
    return code;
}

}  // namespace Platform
