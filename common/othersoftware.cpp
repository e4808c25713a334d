#include "common/othersoftware.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "base/logging.h"
#include "platform/systemsettings.h"

namespace Common {

namespace {

const char* const kRegistryKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvin\\Pairwell";
const char* const kNameValue = "ExecutableName";
const char* const kPathValue = "ExecutablePath";
#ifdef Q_OS_WIN
const char* const kFallbackPath = "C:/ProgramData/ArcaShrd/ArcaOptions/Pairwell/PairHost.exe";
#else
const char* const kFallbackPath = "/opt/ArcaShrd/ArcaOptions/Pairwell/PairHost";
#endif
const char* const kSupportLink = "https://support.arca.example/hc/en-us/articles/360025297913";

// A relative path would be resolved against whatever directory the program was started from, and a
// file planted there would be run.
bool isProgramFile(const QString& path) {
    const QFileInfo info(path);
    return info.isAbsolute() && info.isFile();
}

}  // namespace

OtherSoftware::OtherSoftware() : IOtherSoftware(nullptr) {}

OtherSoftware::~OtherSoftware() = default;

QUrl OtherSoftware::getPairwellSoftwareLink() {
    return QUrl(QString::fromLatin1(kSupportLink), QUrl::TolerantMode);
}

bool OtherSoftware::runPairwellSoftware() {
    const Platform::SystemSettings settings(QString::fromLatin1(kRegistryKey));
    // The folder value is expected to end in a separator; none is added.
    QString path = QDir::toNativeSeparators(settings.value(QString::fromLatin1(kPathValue)) +
                                            settings.value(QString::fromLatin1(kNameValue)));
    if (!isProgramFile(path)) {
        path = QDir::toNativeSeparators(
            Platform::SystemSettings::machinePath(QString::fromLatin1(kFallbackPath)));
        if (!isProgramFile(path)) {
            qCInfo(lcShell).noquote() << "the pairing software is not installed (nor at" << path << ")";
            return false;
        }
    }
    // The whole path is the program, as a quoted command line would make it; passing it on its own also
    // keeps a quote inside a Unix file name from splitting it.
    QProcess process;
    process.setProgram(path);
    if (!process.startDetached()) {
        qCWarning(lcShell).noquote() << "starting the pairing software" << path
                                     << "failed:" << process.errorString();
        return false;
    }
    return true;
}

}  // namespace Common
