#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "onlinetest.h"
#include "signer.h"
#include "updater/serviceurl.h"

using namespace OnlineTest;
using Global::Version;
using Offers = QList<QPair<QString, QString>>;

namespace {

// Whole images for the Sorrel receiver (and headset): the downloader keeps nothing else as firmware.
const QByteArray kImage = dfuImage(QByteArray("image-1.46.0 ").repeated(1000));
const QByteArray kOldImage = dfuImage(QByteArray("image-1.45.0 ").repeated(700), 0x0a92, 0x0145);
const QByteArray kHeadsetImage = dfuImage(QByteArray("headset-1.46.0 ").repeated(1000), 0x0a93);

Version v(const char* text) {
    return Version::fromString(QString::fromLatin1(text));
}

// Runs in a child process under a file size limit (a full disk as the downloader sees it).
int fullDiskChild() {
    int argc = 1;
    char name[] = "child";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const TestSupport::FileSizeLimit full_disk(256 * 1024);
    if (!full_disk.isActive()) {
        return 3;
    }
    UpdateDownloader downloader(qEnvironmentVariable("MELDRA_TST_DIR"));
    downloader.setBaseUrl(qEnvironmentVariable("MELDRA_TST_URL"));
    downloader.setFirmwareCheck(&UIMediator::FirmwareImage::checkDownload);
    Recorder recorder(&downloader);
    const Global::Id id = downloader.checkReceiverFirmware(QStringLiteral("Sorrel"), v("1.45.0"), v("1.0.0"));
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    QObject::connect(&downloader, &UpdateDownloader::updateRecordStatusChanged, &app,
                     [&app](Global::Id, UpdateDownloader::Status status) {
                         if (status != UpdateDownloader::Status::Checking &&
                             status != UpdateDownloader::Status::Downloading) {
                             app.quit();
                         }
                     });
    app.exec();
    QTextStream(stdout) << recorder.trail(id) << '\n';
    return 0;
}

}  // namespace

class TstUpdateDownloader : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<UpdateDownloader> m_downloader;
    std::unique_ptr<Recorder> m_recorder;
    Signer m_signer;

    QString folder() const { return m_root->filePath(QStringLiteral("update")); }
    QString stored(const QString& name) const { return QDir(folder()).absoluteFilePath(name); }
    QByteArray fileUrl(const QByteArray& name) const {
        return m_server->baseUrl().toUtf8() + "/files/" + name;
    }

    void offerReceiverFile(const QByteArray& file_url, const char* version = "1.46.0") {
        m_server->setRoute(firmwareTarget(QStringLiteral("Sorrel"), QStringLiteral("1.0.0")),
                           body(firmwareOffers(QStringLiteral("dongle"), {{QString::fromLatin1(version),
                                                                           QString::fromUtf8(file_url)}})));
    }

    Global::Id checkReceiver(const char* current = "1.45.0") {
        return m_downloader->checkReceiverFirmware(QStringLiteral("Sorrel"), v(current), v("1.0.0"));
    }

    // Waits until no exchange is left, which also covers the ends that report nothing.
    bool settle(int timeout_ms = 15000) {
        QElapsedTimer clock;
        clock.start();
        while (m_downloader->pendingCount() > 0 && clock.elapsed() < timeout_ms) {
            QTest::qWait(5);
        }
        return m_downloader->pendingCount() == 0;
    }

    // An earlier valid download of fw.dfu, whose record and file later faults must leave alone.
    UpdateRecord::Shared downloadOldImage() {
        m_server->setRoute("/files/fw.dfu", body(kOldImage));
        offerReceiverFile(fileUrl("fw.dfu"), "1.45.5");
        const Global::Id id = checkReceiver();
        if (!settle()) {
            return {};
        }
        m_server->removeRoute("/files/fw.dfu");
        return m_recorder->record(id);
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_signer.isValid());
    }

    void init() {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_server = std::make_unique<HttpServer>();
        QVERIFY(m_server->listen());
        m_downloader = std::make_unique<UpdateDownloader>(folder());
        m_downloader->setBaseUrl(m_server->baseUrl());
        m_downloader->setFirmwareCheck(&UIMediator::FirmwareImage::checkDownload);
        m_recorder = std::make_unique<Recorder>(m_downloader.get());
    }

    void cleanup() {
        m_recorder.reset();
        m_downloader.reset();
        m_server.reset();
        // Nothing may ever land beside the download folder.
        for (const QString& entry : tree(m_root->path())) {
            QVERIFY2(entry == QLatin1String("update") || entry.startsWith(QLatin1String("update/")) ||
                         entry.startsWith(QLatin1String("keep")),
                     qPrintable(entry));
        }
        m_root.reset();
    }

    void requestTargets_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("name");  // model or platform
        QTest::addColumn<QString>("revision");
        QTest::addColumn<QByteArray>("target");
        const QByteArray tail = "/1.0.13/1.0.13/dfu_firmware/meldra/1.0.24/ios/11.4/en";
        QTest::newRow("receiver") << "receiver"
                                  << "Sorrel"
                                  << "1.0.0" << QByteArray("/api/pc_headsets/Sorrel/1.0.0") + tail;
        QTest::newRow("headset shares the url")
            << "headset"
            << "SorrelPlus"
            << "3.1.4" << QByteArray("/api/pc_headsets/SorrelPlus/3.1.4") + tail;
        QTest::newRow("four numbers lose the fourth")
            << "receiver"
            << "Sorrel"
            << "1.2.3.4" << QByteArray("/api/pc_headsets/Sorrel/1.2.3") + tail;
        QTest::newRow("build number never sent")
            << "headset"
            << "Sorrel"
            << "1.2.3-7" << QByteArray("/api/pc_headsets/Sorrel/1.2.3") + tail;
        QTest::newRow("empty revision leaves an empty segment")
            << "receiver"
            << "Sorrel"
            << "" << QByteArray("/api/pc_headsets/Sorrel/") + tail;
        QTest::newRow("unparsable revision too") << "receiver"
                                                 << "Sorrel"
                                                 << "abc" << QByteArray("/api/pc_headsets/Sorrel/") + tail;
        QTest::newRow("large numbers in decimal")
            << "receiver"
            << "Sorrel"
            << "10.200.255" << QByteArray("/api/pc_headsets/Sorrel/10.200.255") + tail;
        QTest::newRow("software windows")
            << "software"
            << "windows"
            << "" << QByteArray("/api/pc_headsets/SorrelPlus/SonellaDesktop/1.38.0/app_info/windows/11.4/en");
        QTest::newRow("software mac") << "software"
                                      << "mac"
                                      << ""
                                      << QByteArray(
                                             "/api/pc_headsets/SorrelPlus/SonellaDesktop/1.38.0/app_info/"
                                             "mac/11.4/en");
    }
    void requestTargets() {
        QFETCH(QString, request);
        QFETCH(QString, name);
        QFETCH(QString, revision);
        QFETCH(QByteArray, target);
        Global::Id id;
        if (request == QLatin1String("receiver")) {
            id = m_downloader->checkReceiverFirmware(name, v("1.0.0"), Version::fromString(revision));
        } else if (request == QLatin1String("headset")) {
            id = m_downloader->checkHeadsetFirmware(name, v("1.0.0"), Version::fromString(revision));
        } else {
            id = m_downloader->checkSoftware(name, v("1.0.0"));
        }
        QVERIFY(settle());
        QCOMPARE(m_server->requests(), QList<QByteArray>{target});
        // Unknown to the server: a 404, which is a failure and not a silent end.
        QCOMPARE(m_recorder->trail(id), QStringLiteral("Checking,Failed"));
    }

    void compiledBaseUrlAndOverride() {
        const QByteArray saved = qgetenv("MELDRA_UPDATE_URL");
        qunsetenv("MELDRA_UPDATE_URL");
        QCOMPARE(Updater::ServiceUrl::defaultBase(), QStringLiteral(MELDRA_UPDATE_BASE_URL));
        QVERIFY(Updater::ServiceUrl::defaultBase().startsWith(QLatin1String("http://")));
        qputenv("MELDRA_UPDATE_URL", "http://127.0.0.1:1234/");
        QCOMPARE(Updater::ServiceUrl::defaultBase(), QStringLiteral("http://127.0.0.1:1234"));
        QCOMPARE(UpdateDownloader(folder()).baseUrl(), QStringLiteral("http://127.0.0.1:1234"));
        if (saved.isNull()) {
            qunsetenv("MELDRA_UPDATE_URL");
        } else {
            qputenv("MELDRA_UPDATE_URL", saved);
        }
    }

    void offerReading_data() {
        QTest::addColumn<QString>("request");  // receiver, headset or software
        QTest::addColumn<QString>("current");
        QTest::addColumn<QByteArray>("reply");  // "{file}" stands for the served file's URL
        QTest::addColumn<QString>("trail");
        QTest::addColumn<QString>("version");  // of the record, if any

        const QString file = QStringLiteral("{file}");
        const QString downloaded = QStringLiteral("Checking,Downloading,record,Downloaded");
        const QByteArray mixed =
            QJsonDocument(QJsonObject{{QStringLiteral("firmwares"),
                                       QJsonArray{QJsonObject{{QStringLiteral("other"), 1}},
                                                  QJsonObject{{"fw_version_dongle", "1.46.0"},
                                                              {"fw_download_url_dongle", file}}}}})
                .toJson();
        QTest::newRow("second element offers to the receiver") << "receiver"
                                                               << "1.45.0" << mixed << downloaded << "1.46.0";
        QTest::newRow("same reply offers nothing to the headset") << "headset"
                                                                  << "1.45.0" << mixed << "Checking"
                                                                  << "";
        QTest::newRow("equal version is up to date")
            << "receiver"
            << "1.46.0" << firmwareOffers("dongle", {{"1.46.0", file}}) << "Checking,UpToDate"
            << "";
        QTest::newRow("older offer is up to date")
            << "headset"
            << "1.47.0" << firmwareOffers("headset", {{"1.46.0", file}}) << "Checking,UpToDate"
            << "";
        QTest::newRow("build zero is below build three")
            << "receiver"
            << "1.46.0-3" << firmwareOffers("dongle", {{"1.46.0", file}}) << "Checking,UpToDate"
            << "";
        QTest::newRow("higher build is newer")
            << "receiver"
            << "1.46.0-3" << firmwareOffers("dongle", {{"1.46.0-4", file}}) << downloaded << "1.46.0.4";
        QTest::newRow("invalid current version takes any offer")
            << "headset"
            << "" << firmwareOffers("headset", {{"0.0.1", file}}) << downloaded << "0.0.1.0";
        QTest::newRow("first valid element decides, even if older")
            << "receiver"
            << "1.45.0"
            << firmwareOffers("dongle", {{"", file}, {"garbage", file}, {"1.44.0", file}, {"9.0.0", file}})
            << "Checking,UpToDate"
            << "";
        QTest::newRow("software: first element only")
            << "software"
            << "2.0.0" << softwareOffers({{"2.0.0", file}, {"3.0.0", file}}) << "Checking,UpToDate"
            << "";
        QTest::newRow("software offer accepted")
            << "software"
            << "1.2.217" << softwareOffers({{"2.0.0", file}}) << downloaded << "2.0.0.0";
        QTest::newRow("version as a number is no version")
            << "receiver"
            << "1.45.0"
            << QByteArray(
                   "{\"firmwares\":[{\"fw_version_dongle\":1.46,\"fw_download_url_dongle\":\"{file}\"}]}")
            << "Checking"
            << "";
        QTest::newRow("top level array") << "receiver"
                                         << "1.45.0" << QByteArray("[]") << "Checking"
                                         << "";
        QTest::newRow("empty object") << "receiver"
                                      << "1.45.0" << QByteArray("{}") << "Checking"
                                      << "";
        QTest::newRow("not json") << "software"
                                  << "1.0.0" << QByteArray("<html>oops</html>") << "Checking"
                                  << "";
        QTest::newRow("empty body") << "receiver"
                                    << "1.45.0" << QByteArray() << "Checking"
                                    << "";
        QTest::newRow("array is an object")
            << "receiver"
            << "1.45.0" << QByteArray("{\"firmwares\":{\"fw_version_dongle\":\"2.0.0\"}}") << "Checking"
            << "";
        QTest::newRow("firmware keys do not count for software")
            << "software"
            << "1.0.0" << firmwareOffers("dongle", {{"2.0.0", file}}) << "Checking"
            << "";
        QTest::newRow("missing url still requests, and fails")
            << "receiver"
            << "1.45.0" << QByteArray("{\"firmwares\":[{\"fw_version_dongle\":\"1.46.0\"}]}")
            << "Checking,Downloading,Failed"
            << "";
    }
    void offerReading() {
        QFETCH(QString, request);
        QFETCH(QString, current);
        QFETCH(QByteArray, reply);
        QFETCH(QString, trail);
        QFETCH(QString, version);
        // Images that leave their version open, so that only the offer decides here.
        const QByteArray served =
            dfuImage("any version", request == QLatin1String("headset") ? 0x0a93 : 0x0a92, 0xffff);
        m_server->setRoute("/files/fw.dfu", body(served));
        reply.replace("{file}", fileUrl("fw.dfu"));
        const Version current_version = Version::fromString(current);
        const Version revision = v("1.0.0");
        Global::Id id;
        if (request == QLatin1String("software")) {
            // This system takes no program without our signature.
            m_downloader->setPublicKey(m_signer.publicKey());
            m_server->setRoute("/files/fw.dfu.minisig",
                               body(m_signer.sign(served, "kind:program version:2.0.0")));
            m_server->setRoute(softwareTarget(QStringLiteral("windows")), body(reply));
            id = m_downloader->checkSoftware(QStringLiteral("windows"), current_version);
        } else {
            m_server->setRoute(firmwareTarget(QStringLiteral("Sorrel"), QStringLiteral("1.0.0")),
                               body(reply));
            id =
                request == QLatin1String("receiver")
                    ? m_downloader->checkReceiverFirmware(QStringLiteral("Sorrel"), current_version, revision)
                    : m_downloader->checkHeadsetFirmware(QStringLiteral("Sorrel"), current_version, revision);
        }
        QVERIFY(settle());
        QCOMPARE(m_recorder->trail(id), trail);
        const UpdateRecord::Shared record = m_recorder->record(id);
        QCOMPARE(record ? record->version().toString(QStringLiteral("M.m.p.b")) : QString(),
                 version.isEmpty() || version.count(QLatin1Char('.')) == 3 ? version : version + ".0");
        if (record) {
            QCOMPARE(readAll(record->path()), served);
            QCOMPARE(record->path(), stored(QStringLiteral("fw.dfu")));
            QVERIFY(record->isValid());
            QCOMPARE(record->revision(), v("1.0.0"));
        } else {
            QVERIFY(!QFile::exists(stored(QStringLiteral("fw.dfu"))));
        }
    }

    void idsAreConsecutiveAcrossDownloaders() {
        UpdateDownloader other(folder());
        other.setBaseUrl(m_server->baseUrl());
        const Global::Id a = checkReceiver();
        const Global::Id b = other.checkSoftware(QStringLiteral("mac"), v("1.0.0"));
        const Global::Id c =
            m_downloader->checkHeadsetFirmware(QStringLiteral("Sorrel"), v("1.0.0"), v("1.0.0"));
        QVERIFY(a.isValid());
        QCOMPARE(b.value(), a.value() + 1);
        QCOMPARE(c.value(), a.value() + 2);
        QCOMPARE(Global::Id().value(), -1);
        QVERIFY(!Global::Id().isValid());
        QVERIFY(settle());
        QTRY_COMPARE(other.pendingCount(), 0);
    }

    void recordOfADownload() {
        m_server->setRoute("/files/Sorrel_Dongle_T1.46.0.dfu", body(kImage));
        offerReceiverFile(fileUrl("Sorrel_Dongle_T1.46.0.dfu"), "1.46.0-2");
        const Global::Id id =
            m_downloader->checkReceiverFirmware(QStringLiteral("Sorrel"), v("1.45.0"), v("1.0.0-9"));
        // Reported before the request operation returned.
        QCOMPARE(m_recorder->trail(id), QStringLiteral("Checking"));
        QVERIFY(settle());
        QCOMPARE(m_recorder->trail(id), QStringLiteral("Checking,Downloading,record,Downloaded"));
        const UpdateRecord::Shared record = m_recorder->record(id);
        QVERIFY(record);
        QCOMPARE(record->path(), stored(QStringLiteral("Sorrel_Dongle_T1.46.0.dfu")));
        QVERIFY(QFileInfo(record->path()).isAbsolute());
        QCOMPARE(record->version(), v("1.46.0-2"));
        // The revision travels as asked, build number included, although the URL drops it.
        QCOMPARE(record->revision(), v("1.0.0-9"));
        QCOMPARE(readAll(record->path()), kImage);
        QVERIFY(record->isValid());
        QVERIFY(QFile::remove(record->path()));
        QVERIFY(!record->isValid());
        QCOMPARE(tree(folder()), QStringList());
    }

    void programRecordHasFixedRevision() {
        m_downloader->setPublicKey(m_signer.publicKey());
        m_server->setRoute("/files/setup.exe", body("MZ installer"));
        m_server->setRoute("/files/setup.exe.minisig",
                           body(m_signer.sign("MZ installer", "kind:program version:1.3.0")));
        m_server->setRoute(softwareTarget(QStringLiteral("windows")),
                           body(softwareOffers({{"1.3.0", QString::fromUtf8(fileUrl("setup.exe"))}})));
        const Global::Id id = m_downloader->checkSoftware(QStringLiteral("windows"), v("1.2.217"));
        QVERIFY(settle());
        const UpdateRecord::Shared record = m_recorder->record(id);
        QVERIFY(record);
        QCOMPARE(record->revision(), Version(Version::compose(1, 0, 0), 0));
        QCOMPARE(record->version(), v("1.3.0"));
        QVERIFY(record->isValid());
        QCOMPARE(readAll(record->path()), QByteArray("MZ installer"));
    }

    void recordValidity_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("revision");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<bool>("valid");
        QTest::newRow("all there") << "1.46.0"
                                   << "1.0.0" << true << true;
        QTest::newRow("no file") << "1.46.0"
                                 << "1.0.0" << false << false;
        QTest::newRow("invalid version") << ""
                                         << "1.0.0" << true << false;
        QTest::newRow("invalid revision") << "1.46.0"
                                          << "0.0.0-4" << true << false;
    }
    void recordValidity() {
        QFETCH(QString, version);
        QFETCH(QString, revision);
        QFETCH(bool, fileExists);
        QFETCH(bool, valid);
        QVERIFY(QDir().mkpath(folder()));
        const QString path = stored(QStringLiteral("x.dfu"));
        if (fileExists) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const UpdateRecord record(path, Version::fromString(version), Version::fromString(revision));
        QCOMPARE(record.isValid(), valid);
        QCOMPARE(record.path(), path);
    }

    void downloadUrls_data() {
        QTest::addColumn<QByteArray>("url");  // "{base}" stands for the server
        QTest::addColumn<QString>("trail");
        QTest::addColumn<QStringList>("files");
        const QString downloaded = QStringLiteral("Checking,Downloading,record,Downloaded");
        QTest::newRow("plain") << QByteArray("{base}/files/fw.dfu") << downloaded << QStringList{"fw.dfu"};
        QTest::newRow("path ends in a slash")
            << QByteArray("{base}/files/") << "Checking,Downloading,Failed" << QStringList();
        QTest::newRow("redirect to another name")
            << QByteArray("{base}/old/name.dfu") << downloaded << QStringList{"final.dfu"};
        QTest::newRow("encoded name decoded")
            << QByteArray("{base}/files/my%20fw.dfu") << downloaded << QStringList{"my fw.dfu"};
        QTest::newRow("encoded parent segments")
            << QByteArray("{base}/files/..%2F..%2Fx") << "Checking,Downloading,Failed" << QStringList();
        QTest::newRow("encoded backslashes")
            << QByteArray("{base}/files/..%5C..%5Cx") << "Checking,Downloading,Failed" << QStringList();
        // The network layer resolves this one itself and asks for "/", which the service does not know.
        QTest::newRow("encoded dot dot")
            << QByteArray("{base}/files/%2E%2E") << "Checking,Downloading,Failed" << QStringList();
        QTest::newRow("query does not name the file")
            << QByteArray("{base}/files/?name=fw.dfu") << "Checking,Downloading,Failed" << QStringList();
        QTest::newRow("empty url") << QByteArray() << "Checking,Downloading,Failed" << QStringList();
        QTest::newRow("no scheme") << QByteArray("files/fw.dfu") << "Checking,Downloading,Failed"
                                   << QStringList();
        QTest::newRow("local file") << QByteArray("file:///etc/hostname") << "Checking,Downloading,Failed"
                                    << QStringList();
        QTest::newRow("data url") << QByteArray("data:application/octet-stream;base64,QUJD")
                                  << "Checking,Downloading,Failed" << QStringList();
        QTest::newRow("unknown scheme")
            << QByteArray("ftpx://example/fw.dfu") << "Checking,Downloading,Failed" << QStringList();
        QTest::newRow("nothing listens") << QByteArray("http://127.0.0.1:{closed}/fw.dfu")
                                         << "Checking,Downloading,Failed" << QStringList();
    }
    void downloadUrls() {
        QFETCH(QByteArray, url);
        QFETCH(QString, trail);
        QFETCH(QStringList, files);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QByteArray closed_port = QByteArray::number(closed.serverPort());
        closed.close();
        url.replace("{base}", m_server->baseUrl().toUtf8()).replace("{closed}", closed_port);
        HttpServer::Response file = body(kImage);
        for (const QByteArray& target :
             {QByteArray("/files/fw.dfu"), QByteArray("/final.dfu"), QByteArray("/files/my%20fw.dfu"),
              QByteArray("/files/"), QByteArray("/files/..%2F..%2Fx"), QByteArray("/files/..%5C..%5Cx"),
              QByteArray("/files/%2E%2E"), QByteArray("/files/?name=fw.dfu")}) {
            m_server->setRoute(target, file);
        }
        m_server->setRoute("/old/name.dfu", redirect(fileUrl("../final.dfu")));
        offerReceiverFile(url);
        const Global::Id id = checkReceiver();
        QVERIFY(settle());
        QCOMPARE(m_recorder->trail(id), trail);
        QStringList entries = tree(folder());
        QCOMPARE(entries, files);
        if (!files.isEmpty()) {
            QCOMPARE(m_recorder->record(id)->path(), stored(files.first()));
            QCOMPARE(readAll(stored(files.first())), kImage);
        }
    }

    void networkFaults_data() {
        QTest::addColumn<QString>("stage");  // metadata or file
        QTest::addColumn<QString>("fault");
        for (const char* stage : {"metadata", "file"}) {
            for (const char* fault : {"404", "500", "refused", "reset mid-body", "closed before the end",
                                      "redirect loop", "redirect to nowhere"}) {
                QTest::addRow("%s: %s", stage, fault) << stage << fault;
            }
        }
        QTest::newRow("file: another model's image") << "file"
                                                     << "another model's image";
    }
    void networkFaults() {
        QFETCH(QString, stage);
        QFETCH(QString, fault);
        const UpdateRecord::Shared earlier = downloadOldImage();
        QVERIFY(earlier && earlier->isValid());

        const QByteArray metadata_target = firmwareTarget(QStringLiteral("Sorrel"), QStringLiteral("1.0.0"));
        const QByteArray target =
            stage == QLatin1String("metadata") ? metadata_target : QByteArray("/files/fw.dfu");
        offerReceiverFile(fileUrl("fw.dfu"), "1.46.0");
        HttpServer::Response response = body(
            stage == QLatin1String("metadata")
                ? firmwareOffers(QStringLiteral("dongle"), {{"1.46.0", QString::fromUtf8(fileUrl("fw.dfu"))}})
                : kImage);
        if (fault == QLatin1String("404")) {
            response.status = 404;
        } else if (fault == QLatin1String("500")) {
            response.status = 500;
        } else if (fault == QLatin1String("reset mid-body")) {
            response.fault = HttpServer::Fault::ResetMidBody;
            response.faultAfter = response.body.size() / 2;
        } else if (fault == QLatin1String("closed before the end")) {
            response.fault = HttpServer::Fault::CloseEarly;
            response.faultAfter = response.body.size() / 2;
        } else if (fault == QLatin1String("redirect loop")) {
            response = redirect(target);
        } else if (fault == QLatin1String("redirect to nowhere")) {
            response = redirect("http://127.0.0.1:1/fw.dfu");
        } else if (fault == QLatin1String("another model's image")) {
            response = body(kHeadsetImage);
        }
        if (fault == QLatin1String("refused")) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const QString url = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
            closed.close();
            if (stage == QLatin1String("metadata")) {
                m_downloader->setBaseUrl(url);
            } else {
                offerReceiverFile(url.toUtf8() + "/files/fw.dfu");
            }
        } else {
            m_server->setRoute(target, response);
        }

        const Global::Id id = checkReceiver();
        QVERIFY(settle());
        QCOMPARE(m_recorder->trail(id), stage == QLatin1String("metadata")
                                            ? QStringLiteral("Checking,Failed")
                                            : QStringLiteral("Checking,Downloading,Failed"));
        QVERIFY(!m_recorder->record(id));
        QVERIFY(earlier->isValid());
        QCOMPARE(readAll(earlier->path()), kOldImage);
        QCOMPARE(tree(folder()), QStringList{QStringLiteral("fw.dfu")});
    }

    void stalledServerIsCutOffByTheDownloader_data() {
        QTest::addColumn<bool>("metadata");
        QTest::newRow("metadata stalls") << true;
        QTest::newRow("file stalls") << false;
    }
    void stalledServerIsCutOffByTheDownloader() {
        QFETCH(bool, metadata);
        const UpdateRecord::Shared earlier = downloadOldImage();
        QVERIFY(earlier);
        HttpServer::Response stall = body(metadata ? QByteArray(4096, ' ') : kImage);
        stall.fault = HttpServer::Fault::StallMidBody;
        stall.faultAfter = stall.body.size() / 2;
        offerReceiverFile(fileUrl("fw.dfu"));
        m_server->setRoute(metadata ? firmwareTarget(QStringLiteral("Sorrel"), QStringLiteral("1.0.0"))
                                    : QByteArray("/files/fw.dfu"),
                           stall);
        const Global::Id id = checkReceiver();
        const QString expected =
            metadata ? QStringLiteral("Checking") : QStringLiteral("Checking,Downloading");
        QTRY_COMPARE(m_recorder->trail(id), expected);
        QTRY_COMPARE(m_server->openConnections(), 1);
        // No time-out of its own: the request would wait forever, so the test ends it.
        QTest::qWait(300);
        QCOMPARE(m_recorder->trail(id), expected);
        QCOMPARE(m_downloader->pendingCount(), 1);
        const int events = m_recorder->events.size();
        m_recorder.reset();
        m_downloader.reset();
        QTRY_COMPARE(m_server->openConnections(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Q_UNUSED(events);
        QVERIFY(earlier->isValid());
        QCOMPARE(readAll(earlier->path()), kOldImage);
        QCOMPARE(tree(folder()), QStringList{QStringLiteral("fw.dfu")});
    }

    void largeMetadataBodies_data() {
        QTest::addColumn<bool>("json");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("endless");
        QTest::addColumn<QString>("trail");
        const QString downloaded = QStringLiteral("Checking,Downloading,record,Downloaded");
        QTest::newRow("just under 1 MiB of offers, the last one valid")
            << true << 1024 * 1024 - 300 << false << downloaded;
        QTest::newRow("50 MB of offers, the last one valid")
            << true << 50 * 1024 * 1024 << false << QStringLiteral("Checking,Failed");
        QTest::newRow("50 MB that is not JSON")
            << false << 50 * 1024 * 1024 << false << QStringLiteral("Checking,Failed");
        // Announces 10 GB and stops sending after 4 MiB: only the bound can end it.
        QTest::newRow("endless body") << true << 4 * 1024 * 1024 << true << QStringLiteral("Checking,Failed");
    }
    void largeMetadataBodies() {
        QFETCH(bool, json);
        QFETCH(int, size);
        QFETCH(bool, endless);
        QFETCH(QString, trail);
        QByteArray reply;
        const QByteArray filler =
            "{\"fw_version_dongle\":\"not a version\",\"padding\":\"" + QByteArray(200, 'x') + "\"},";
        const QByteArray last =
            "{\"fw_version_dongle\":\"1.46.0\",\"fw_download_url_dongle\":\"" + fileUrl("fw.dfu") + "\"}]}";
        reply.reserve(size + 1024);
        reply += json ? "{\"firmwares\":[" : "<<<";
        while (reply.size() + filler.size() + last.size() < size) {
            reply += filler;
        }
        reply += last;
        m_server->setRoute("/files/fw.dfu", body(kImage));
        HttpServer::Response response = body(reply);
        if (endless) {
            response.lengthOverride = 10LL * 1024 * 1024 * 1024;
            response.fault = HttpServer::Fault::StallMidBody;
            response.faultAfter = reply.size();
            // One byte held back: the server stalls with the connection open instead of ending the body.
            response.body += ' ';
        }
        m_server->setRoute(firmwareTarget(QStringLiteral("Sorrel"), QStringLiteral("1.0.0")), response);
        reply.clear();
        const Global::Id id = checkReceiver();
        QVERIFY(settle(60000));
        QCOMPARE(m_recorder->trail(id), trail);
    }

    void twoDownloadsOfOneName_data() {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("one after the other") << false;
        QTest::newRow("at the same time") << true;
    }
    void twoDownloadsOfOneName() {
        QFETCH(bool, atOnce);
        // Different content under one name, large enough for the two bodies to interleave.
        const QByteArray first = dfuImage(QByteArray("first ").repeated(2 * 1024 * 1024));
        const QByteArray second = dfuImage(QByteArray("SECOND").repeated(2 * 1024 * 1024), 0x0aa9, 0x0147);
        m_server->setRoute("/a/fw.dfu", body(first));
        m_server->setRoute("/b/fw.dfu", body(second));
        const QString base = m_server->baseUrl();
        m_server->setRoute(firmwareTarget(QStringLiteral("Sorrel"), QStringLiteral("1.0.0")),
                           body(firmwareOffers(QStringLiteral("dongle"), {{"1.46.0", base + "/a/fw.dfu"}})));
        m_server->setRoute(firmwareTarget(QStringLiteral("SorrelPlus"), QStringLiteral("1.0.0")),
                           body(firmwareOffers(QStringLiteral("dongle"), {{"1.47.0", base + "/b/fw.dfu"}})));
        const Global::Id a = checkReceiver();
        if (!atOnce) {
            QVERIFY(settle());
        }
        const Global::Id b =
            m_downloader->checkReceiverFirmware(QStringLiteral("SorrelPlus"), v("1.0.0"), v("1.0.0"));
        QVERIFY(settle(30000));
        QCOMPARE(m_recorder->trail(a), QStringLiteral("Checking,Downloading,record,Downloaded"));
        QCOMPARE(m_recorder->trail(b), QStringLiteral("Checking,Downloading,record,Downloaded"));
        QCOMPARE(m_recorder->record(a)->path(), m_recorder->record(b)->path());
        // Whole bodies only: the file holds the body of whichever finished last, never a mix of both.
        Global::Id last;
        for (const Recorder::Event& event : qAsConst(m_recorder->events)) {
            if (event.what == QLatin1String("Downloaded")) {
                last = event.id;
            }
        }
        QCOMPARE(readAll(stored(QStringLiteral("fw.dfu"))), last == a ? first : second);
        if (atOnce) {
            // Both transfers were under way before either ended, or this row proves nothing.
            QStringList order;
            for (const Recorder::Event& event : qAsConst(m_recorder->events)) {
                if (event.what == QLatin1String("Downloading") || event.what == QLatin1String("Downloaded")) {
                    order << event.what;
                }
            }
            QCOMPARE(order.mid(0, 2),
                     (QStringList{QStringLiteral("Downloading"), QStringLiteral("Downloading")}));
        } else {
            QCOMPARE(last, b);
        }
        QCOMPARE(tree(folder()), QStringList{QStringLiteral("fw.dfu")});
    }

    void unusableFolder_data() {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("folder path is a file") << "file";
        QTest::newRow("target name is a folder") << "folder";
    }
    void unusableFolder() {
        QFETCH(QString, obstacle);
        // Larger than the reply's read buffer and never finished: only giving up at once ends it.
        HttpServer::Response endless = body(QByteArray(4 * 1024 * 1024, 'x'));
        endless.fault = HttpServer::Fault::StallMidBody;
        endless.faultAfter = 3 * 1024 * 1024;
        m_server->setRoute("/files/fw.dfu", endless);
        offerReceiverFile(fileUrl("fw.dfu"));
        if (obstacle == QLatin1String("file")) {
            QFile blocker(m_root->filePath(QStringLiteral("keep")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            m_downloader =
                std::make_unique<UpdateDownloader>(m_root->filePath(QStringLiteral("keep/update")));
            m_downloader->setBaseUrl(m_server->baseUrl());
            m_recorder = std::make_unique<Recorder>(m_downloader.get());
        } else {
            QVERIFY(QDir().mkpath(stored(QStringLiteral("fw.dfu"))));
        }
        const Global::Id id = checkReceiver();
        QVERIFY(settle());
        QCOMPARE(m_recorder->trail(id), QStringLiteral("Checking,Downloading,Failed"));
        QTRY_COMPARE(m_server->openConnections(), 0);
        if (obstacle == QLatin1String("file")) {
            QCOMPARE(tree(m_root->path()), QStringList{QStringLiteral("keep")});
        } else {
            QCOMPARE(tree(folder()), QStringList{QStringLiteral("fw.dfu")});
            QVERIFY(QFileInfo(stored(QStringLiteral("fw.dfu"))).isDir());
        }
    }

    void fullDiskFailsAndKeepsTheEarlierFile() {
        const UpdateRecord::Shared earlier = downloadOldImage();
        QVERIFY(earlier);
        // Well above the child's 256 KiB file size limit.
        m_server->setRoute("/files/fw.dfu", body(dfuImage(QByteArray(1024 * 1024, 'n'))));
        offerReceiverFile(fileUrl("fw.dfu"));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MELDRA_TST_FULLDISK_CHILD"), QStringLiteral("1"));
        environment.insert(QStringLiteral("MELDRA_TST_DIR"), folder());
        environment.insert(QStringLiteral("MELDRA_TST_URL"), m_server->baseUrl());
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(child.state(), QProcess::NotRunning, 30000);
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("Checking,Downloading,Failed"));
        QVERIFY(earlier->isValid());
        QCOMPARE(readAll(earlier->path()), kOldImage);
        QCOMPARE(tree(folder()), QStringList{QStringLiteral("fw.dfu")});
    }

    void destroyingTheDownloaderSilencesIt() {
        HttpServer::Response slow = body(kImage);
        slow.fault = HttpServer::Fault::StallMidBody;
        slow.faultAfter = 10;
        m_server->setRoute(firmwareTarget(QStringLiteral("Sorrel"), QStringLiteral("1.0.0")), slow);
        const Global::Id id = checkReceiver();
        QTRY_COMPARE(m_server->openConnections(), 1);
        int after = 0;
        connect(m_downloader.get(), &UpdateDownloader::updateRecordStatusChanged, this,
                [&after]() { ++after; });
        m_downloader.reset();
        QTest::qWait(100);
        QCOMPARE(after, 0);
        QCOMPARE(m_recorder ? 1 : 0, 1);
        Q_UNUSED(id);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("MELDRA_TST_FULLDISK_CHILD")) {
        return fullDiskChild();
    }
    QCoreApplication app(argc, argv);
    TstUpdateDownloader test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updatedownloader.moc"
