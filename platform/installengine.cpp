#include "platform/installengine.h"

#include <QProcess>

namespace Platform {

InstallEngine::InstallEngine()
    : m_packagePath(defaultPackagePath()), m_installLocation(defaultInstallLocation()) {}

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
    const int code = QProcess::execute(run.program, run.arguments);
    if (m_custom) {
        return code;
    }
    return finishPlatformInstall(code);
}

}  // namespace Platform
