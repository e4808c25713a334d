#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>

#include "tools/updateservice/catalog.h"
#include "tools/updateservice/httpserver.h"
#include "updater/releasecomment.h"

namespace {

using Updater::ReleaseComment;

// Records what the catalog offers a file as; false when another offer already says something else.
bool note(QHash<QString, QByteArray>* comments, const QString& url, const ReleaseComment& comment,
          QString* error) {
    const QString name = QUrl(url).fileName();
    if (name.isEmpty() || !comment.version().isValid()) {
        return true;
    }
    const QByteArray text = comment.toText();
    const auto known = comments->constFind(name);
    if (known != comments->cend() && *known != text) {
        *error = QStringLiteral("files/%1 is offered as \"%2\" and as \"%3\"")
                     .arg(name, QString::fromUtf8(*known), QString::fromUtf8(text));
        return false;
    }
    comments->insert(name, text);
    return true;
}

QJsonArray offersIn(const QString& path, const QString& array_key) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QJsonDocument::fromJson(file.readAll()).object().value(array_key).toArray()
               : QJsonArray();
}

// The trusted comment of every file the catalog offers, by file name, read from the offers themselves so
// that a signature says what the file was offered as (docs/update-service.md, "How to sign a release").
bool releaseComments(const QString& folder, QHash<QString, QByteArray>* comments, QString* error) {
    const QDir root(folder);
    QDirIterator firmware(root.filePath(QStringLiteral("firmware")), {QStringLiteral("*.json")}, QDir::Files,
                          QDirIterator::Subdirectories);
    while (firmware.hasNext()) {
        const QFileInfo info(firmware.next());
        // firmware/<model>.json, or firmware/<model>/<revision>.json
        const bool per_revision =
            info.dir().absolutePath() != QDir(root.filePath(QStringLiteral("firmware"))).absolutePath();
        const QString model = per_revision ? info.dir().dirName() : info.completeBaseName();
        for (const QJsonValue& element : offersIn(info.filePath(), QStringLiteral("firmwares"))) {
            const QJsonObject fields = element.toObject();
            for (auto it = fields.begin(); it != fields.end(); ++it) {
                if (!it.key().startsWith(QLatin1String("fw_version_"))) {
                    continue;
                }
                const QString kind = it.key().mid(int(qstrlen("fw_version_")));
                const ReleaseComment comment(ReleaseComment::Kind::Firmware, model,
                                             Global::Version::fromString(it.value().toString(), 10));
                if (!note(comments, fields.value(QStringLiteral("fw_download_url_") + kind).toString(),
                          comment, error)) {
                    return false;
                }
            }
        }
    }
    QDirIterator apps(root.filePath(QStringLiteral("apps")), {QStringLiteral("*.json")}, QDir::Files);
    while (apps.hasNext()) {
        for (const QJsonValue& element : offersIn(apps.next(), QStringLiteral("apps"))) {
            const QJsonObject fields = element.toObject();
            const ReleaseComment comment(
                ReleaseComment::Kind::Program, {},
                Global::Version::fromString(fields.value(QStringLiteral("latest_app_version")).toString(),
                                            10));
            if (!note(comments, fields.value(QStringLiteral("app_update_url")).toString(), comment, error)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

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
        QStringLiteral(
            "minisign secret key (unencrypted): every file under files/ is signed with it at start "
            "and served with its .minisig beside it; the trusted comment says what the catalog "
            "offers the file as."),
        QStringLiteral("path"));
    const QCommandLineOption rate_option(QStringLiteral("rate"),
                                         QStringLiteral("Pace every body to this many MB/s, as a real link "
                                                        "would (0: as fast as loopback takes it)."),
                                         QStringLiteral("MB/s"), QStringLiteral("0"));
    parser.addOptions({port_option, folder_option, demo_option, model_option, version_option, image_option,
                       sign_option, rate_option});
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
        QHash<QString, QByteArray> comments;
        QString error;
        if (!releaseComments(folder, &comments, &error)) {
            err << error << '\n';
            return 1;
        }
        // Signed by Debian's minisign, the tool a release is signed with, so the demo shows the real chain.
        QDirIterator files(QDir(folder).filePath(QStringLiteral("files")), QDir::Files);
        while (files.hasNext()) {
            const QString file = files.next();
            if (file.endsWith(QLatin1String(".minisig"))) {
                continue;
            }
            // A file no offer names gets a comment that no download accepts.
            const QString name = QFileInfo(file).fileName();
            const QString comment = comments.contains(name) ? QString::fromUtf8(comments.value(name))
                                                            : QStringLiteral("file:") + name;
            QProcess minisign;
            minisign.start(QStringLiteral("minisign"),
                           {QStringLiteral("-S"), QStringLiteral("-s"), parser.value(sign_option),
                            QStringLiteral("-m"), file, QStringLiteral("-t"), comment});
            minisign.closeWriteChannel();
            if (!minisign.waitForFinished(60000) || minisign.exitStatus() != QProcess::NormalExit ||
                minisign.exitCode() != 0) {
                err << "cannot sign " << file << " with minisign: " << minisign.readAllStandardError()
                    << '\n';
                return 1;
            }
        }
    }

    HttpServer server;
    server.setRate(qint64(parser.value(rate_option).toDouble() * 1e6));
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
