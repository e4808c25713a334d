#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>

#include "tools/updateservice/catalog.h"
#include "tools/updateservice/httpserver.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("updateservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local update service: serves firmware and program offers "
                       "and their files from a folder (see docs/update-service.md)."));
    parser.addHelpOption();
    const QCommandLineOption port_option({QStringLiteral("p"), QStringLiteral("port")},
                                         QStringLiteral("TCP port on 127.0.0.1; 0 picks a free one."),
                                         QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption folder_option({QStringLiteral("f"), QStringLiteral("folder")},
                                           QStringLiteral("Catalog folder to serve."),
                                           QStringLiteral("folder"));
    const QCommandLineOption demo_option(
        QStringLiteral("demo"),
        QStringLiteral("Write a catalog offering receiver firmware to the model first "
                       "(into --folder, or a temporary folder) and serve it."));
    const QCommandLineOption model_option(QStringLiteral("model"), QStringLiteral("Model of the demo offer."),
                                          QStringLiteral("model"), QStringLiteral("Sorrel"));
    const QCommandLineOption version_option(QStringLiteral("version"),
                                            QStringLiteral("Receiver firmware version of the demo offer."),
                                            QStringLiteral("version"), QStringLiteral("1.46.0"));
    const QCommandLineOption image_option(
        QStringLiteral("image"),
        QStringLiteral("Firmware image (.dfu) offered by the demo; a stand-in otherwise."),
        QStringLiteral("path"));
    const QCommandLineOption sign_option(
        QStringLiteral("sign-key"),
        QStringLiteral("minisign secret key (unencrypted): every file under files/ is signed with it at start "
                       "and served with its .minisig beside it."),
        QStringLiteral("path"));
    parser.addOptions(
        {port_option, folder_option, demo_option, model_option, version_option, image_option, sign_option});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    bool port_ok = false;
    const uint port = parser.value(port_option).toUInt(&port_ok);
    if (!port_ok || port > 65535) {
        err << "invalid port: " << parser.value(port_option) << '\n';
        return 2;
    }

    QString folder = parser.value(folder_option);
    std::unique_ptr<QTemporaryDir> scratch;
    if (parser.isSet(demo_option)) {
        if (folder.isEmpty()) {
            scratch = std::make_unique<QTemporaryDir>();
            if (!scratch->isValid()) {
                err << "cannot create a temporary folder\n";
                return 1;
            }
            folder = scratch->path();
        }
        QString error;
        if (!Catalog::writeDemo(folder, parser.value(model_option), parser.value(version_option),
                                parser.value(image_option), &error)) {
            err << error << '\n';
            return 1;
        }
    }
    if (folder.isEmpty()) {
        err << "give --folder or --demo\n";
        parser.showHelp(2);
    }
    if (!QDir(folder).exists()) {
        err << "no such folder: " << folder << '\n';
        return 1;
    }

    if (parser.isSet(sign_option)) {
        // Signed by Debian's minisign, the tool a release is signed with, so the demo shows the real chain.
        QDirIterator files(QDir(folder).filePath(QStringLiteral("files")), QDir::Files);
        while (files.hasNext()) {
            const QString file = files.next();
            if (file.endsWith(QLatin1String(".minisig"))) {
                continue;
            }
            QProcess minisign;
            minisign.start(QStringLiteral("minisign"),
                           {QStringLiteral("-S"), QStringLiteral("-s"), parser.value(sign_option),
                            QStringLiteral("-m"), file, QStringLiteral("-t"),
                            QStringLiteral("file:") + QFileInfo(file).fileName()});
            minisign.closeWriteChannel();
            if (!minisign.waitForFinished(60000) || minisign.exitStatus() != QProcess::NormalExit ||
                minisign.exitCode() != 0) {
                err << "cannot sign " << file << " with minisign: " << minisign.readAllStandardError() << '\n';
                return 1;
            }
        }
    }

    HttpServer server;
    const Catalog catalog(QDir(folder).absolutePath());
    // One line per request, so a demo shows what the program asked for and what it got.
    server.setHandler([&catalog, &server, &out](const QByteArray& target) {
        const HttpServer::Response response = catalog.answer(target, server.baseUrl());
        out << "GET " << target << " -> " << response.status << '\n';
        out.flush();
        return response;
    });
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        err << "cannot listen on port " << port << '\n';
        return 1;
    }
    out << "Update service at " << server.baseUrl() << " serving " << QDir(folder).absolutePath() << '\n';
    out << "MELDRA_UPDATE_URL=" << server.baseUrl() << '\n';
    out.flush();
    return app.exec();
}
