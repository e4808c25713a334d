#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include "platform/installengine.h"

// The per-user installation that the installer's INSTALL button runs, without its window: for scripts,
// soak runs and tests. The exit code is the engine's.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("peruserinstall"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Installs Sonella for this user from a package."));
    parser.addHelpOption();
    const QCommandLineOption package(QStringLiteral("package"), QStringLiteral("The archive to install."),
                                     QStringLiteral("file"), Platform::InstallEngine::defaultPackagePath());
    const QCommandLineOption location(QStringLiteral("location"), QStringLiteral("Where to install it."),
                                      QStringLiteral("folder"),
                                      Platform::InstallEngine::defaultInstallLocation());
    parser.addOption(package);
    parser.addOption(location);
    parser.process(app);

    Platform::InstallEngine engine;
    engine.setPackagePath(parser.value(package));
    engine.setInstallLocation(parser.value(location));
    const int code = engine.install();
    if (code == 0) {
        QTextStream(stdout) << "installed in " << Platform::InstallEngine::recordedFolder() << '\n';
    }
    return code;
}
