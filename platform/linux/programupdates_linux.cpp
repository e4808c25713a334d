#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "platform/installengine.h"
#include "platform/programupdates.h"

namespace Platform {

bool ProgramUpdates::selfUpdating() {
    const QString recorded = InstallEngine::recordedFolder();
    if (recorded.isEmpty()) {
        return false;
    }
    const QString here = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
    return !here.isEmpty() && QFileInfo(recorded).canonicalFilePath() == here;
}

bool ProgramUpdates::platformSignatures() {
    return false;
}

}  // namespace Platform
