#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "onlinetest.h"
#include "signer.h"
#include "updater/updatemanager.h"

using namespace OnlineTest;
using Updater::UpdateManager;

class TstUpdateManager : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<UpdateManager> m_manager;
    Signer m_signer;
    // What each served file holds, by name.
    QHash<QString, QByteArray> m_contents;

    // Firmware is a whole image for the model's update-mode identity and the offered version, as the
    // downloader insists.
    static QByteArray contentOf(const QString& kind, const QString& model, const QString& name,
                                const QString& version) {
        const QByteArray text = name.toUtf8() + " contents";
        if (kind == QLatin1String("software")) {
            return text;
        }
        const Global::Version parsed = Global::Version::fromString(version, 10);
        const auto bcd = quint16((parsed.major() / 10) << 12 | (parsed.major() % 10) << 8 |
                                 (parsed.minor() / 10) << 4 | parsed.minor() % 10);
        const auto id = UIMediator::KnownDeviceTable::updateModeIdOf(model, kind == QLatin1String("dongle"));
        return dfuImage(text, id.productId(), bcd);
    }

    QString folder() const { return m_root->filePath(QStringLiteral("update")); }
    QString stored(const QString& name) const { return QDir(folder()).absoluteFilePath(name); }

    // Serves name with the given content and offers it as version to every revision of model.
    void offer(const QString& kind, const QString& model, const QString& revision, const QString& version,
               const QString& name) {
        const QString url = m_server->baseUrl() + QStringLiteral("/files/") + name;
        const QByteArray content = contentOf(kind, model, name, version);
        m_contents.insert(name, content);
        m_server->setRoute("/files/" + name.toUtf8(), body(content));
        const QString comment = kind == QLatin1String("software")
                                    ? QStringLiteral("kind:program version:") + version
                                    : QStringLiteral("kind:firmware model:%1 version:%2").arg(model, version);
        m_server->setRoute("/files/" + name.toUtf8() + ".minisig", body(m_signer.sign(content, comment)));
        if (kind == QLatin1String("software")) {
            m_server->setRoute(softwareTarget(model), body(softwareOffers({{version, url}})));
        } else {
            m_server->setRoute(firmwareTarget(model, revision), body(firmwareOffers(kind, {{version, url}})));
        }
    }

    int fileRequests() const {
        int count = 0;
        for (const QByteArray& target : m_server->requests()) {
            count += target.startsWith("/files/") && !target.endsWith(".minisig") ? 1 : 0;
        }
        return count;
    }

    int metadataRequests() const {
        int count = 0;
        for (const QByteArray& target : m_server->requests()) {
            count += target.startsWith("/files/") ? 0 : 1;
        }
        return count;
    }

    // Every exchange a check starts ends within this; the server is on loopback.
    void waitForExchanges(int metadata) {
        QTRY_COMPARE(metadataRequests(), metadata);
        QTest::qWait(150);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_server = std::make_unique<HttpServer>();
        QVERIFY(m_server->listen());
        m_manager = std::make_unique<UpdateManager>(folder(), m_server->baseUrl());
        m_manager->setFirmwareCheck(&UIMediator::FirmwareImage::checkDownload);
        QVERIFY(m_signer.isValid());
        m_manager->setPublicKey(m_signer.publicKey());
    }

    void cleanup() {
        m_manager.reset();
        m_server.reset();
        m_root.reset();
    }

    void gettersBeforeAnyCheck() {
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")), QString());
        QCOMPARE(m_manager->getReceiverUpdateVersionString(QStringLiteral("Sorrel")), QString());
        QCOMPARE(m_manager->getHeadsetUpdatePath(QStringLiteral("Sorrel")), QString());
        QCOMPARE(
            m_manager->getSoftwareUpdateVersionString(QStringLiteral("windows"), QStringLiteral("M.m.p")),
            QString());
        QVERIFY(!QFile::exists(folder()));
    }

    void eachKindReportsItsOwnChange_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("receiver") << "dongle";
        QTest::newRow("headset") << "headset";
        QTest::newRow("software") << "software";
    }
    void eachKindReportsItsOwnChange() {
        QFETCH(QString, kind);
        QSignalSpy receiver(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        QSignalSpy headset(m_manager.get(), &UpdateManager::headsetUpdateChanged);
        QSignalSpy software(m_manager.get(), &UpdateManager::softwareUpdateChanged);
        const QString key =
            kind == QLatin1String("software") ? QStringLiteral("windows") : QStringLiteral("Sorrel");
        offer(kind, key, QStringLiteral("1.0.0"), QStringLiteral("1.46.0-12"), QStringLiteral("new.bin"));
        if (kind == QLatin1String("dongle")) {
            m_manager->checkReceiverUpdate(key, QStringLiteral("1.45.0.0"), QStringLiteral("1.0.0.0"));
        } else if (kind == QLatin1String("headset")) {
            m_manager->checkHeadsetUpdate(key, QStringLiteral("1.45.0.0"), QStringLiteral("1.0.0.0"));
        } else {
            m_manager->checkSoftwareUpdate(key, QStringLiteral("1.2.217"));
        }
        QSignalSpy& own = kind == QLatin1String("dongle")    ? receiver
                          : kind == QLatin1String("headset") ? headset
                                                             : software;
        QTRY_COMPARE(own.count(), 1);
        QCOMPARE(receiver.count() + headset.count() + software.count(), 1);

        using Getter = QString (UpdateManager::*)(const QString&) const;
        using VersionGetter = QString (UpdateManager::*)(const QString&, const QString&) const;
        const QList<Getter> paths = {&UpdateManager::getReceiverUpdatePath,
                                     &UpdateManager::getHeadsetUpdatePath,
                                     &UpdateManager::getSoftwareUpdatePath};
        const QList<VersionGetter> versions = {&UpdateManager::getReceiverUpdateVersionString,
                                               &UpdateManager::getHeadsetUpdateVersionString,
                                               &UpdateManager::getSoftwareUpdateVersionString};
        const int own_index = kind == QLatin1String("dongle") ? 0 : kind == QLatin1String("headset") ? 1 : 2;
        for (int i = 0; i < 3; ++i) {
            const QString path = (m_manager.get()->*paths.at(i))(key);
            QCOMPARE(path, i == own_index ? stored(QStringLiteral("new.bin")) : QString());
        }
        const VersionGetter version = versions.at(own_index);
        QCOMPARE((m_manager.get()->*version)(key, QStringLiteral("M.m")), QStringLiteral("1.46"));
        QCOMPARE((m_manager.get()->*version)(key, QStringLiteral("M.m.p.b")), QStringLiteral("1.46.0.12"));
        QCOMPARE((m_manager.get()->*version)(key, QStringLiteral("b-M")), QStringLiteral("12-1"));
        // Keys are case-sensitive.
        QCOMPARE((m_manager.get()->*paths.at(own_index))(key.toUpper()), QString());
    }

    void defaultFormatIsMajorMinor() {
        offer(QStringLiteral("headset"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.46.0"), QStringLiteral("h.dfu"));
        QSignalSpy changed(m_manager.get(), &UpdateManager::headsetUpdateChanged);
        m_manager->checkHeadsetUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.45.0.0"),
                                      QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(m_manager->getHeadsetUpdateVersionString(QStringLiteral("Sorrel")), QStringLiteral("1.46"));
        // The same default through the meta-object, as QML calls it.
        QString text;
        QVERIFY(QMetaObject::invokeMethod(m_manager.get(), "getHeadsetUpdateVersionString",
                                          Q_RETURN_ARG(QString, text),
                                          Q_ARG(QString, QStringLiteral("Sorrel"))));
        QCOMPARE(text, QStringLiteral("1.46"));
    }

    void versionTextOfTheDevice_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("fetched");
        // The device reports "M.m.p.b"; the fourth number is not a build number to the parser.
        QTest::newRow("four numbers lose the fourth") << "1.46.0.12"
                                                      << "1.46.0-1" << true;
        QTest::newRow("equal is not fetched") << "1.46.0.12"
                                              << "1.46.0" << false;
        QTest::newRow("empty version fetches anything") << ""
                                                        << "0.1.0" << true;
        QTest::newRow("garbage fetches anything") << "x.y"
                                                  << "0.1.0" << true;
    }
    void versionTextOfTheDevice() {
        QFETCH(QString, device);
        QFETCH(QString, offered);
        QFETCH(bool, fetched);
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"), offered,
              QStringLiteral("r.dfu"));
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), device, QStringLiteral("1.0.0.0"));
        waitForExchanges(1);
        QCOMPARE(fileRequests(), fetched ? 1 : 0);
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")).isEmpty(), !fetched);
    }

    void storedFileRaisesTheBar_data() {
        QTest::addColumn<QString>("revision");
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("inFlight");  // the second check comes before the first one's file
        QTest::newRow("same revision: already have 1.47.0") << "1.0.0.0" << 1 << false;
        QTest::newRow("other revision: the file does not fit") << "2.0.0.0" << 2 << false;
        QTest::newRow("same revision, other build") << "1.0.0-3" << 2 << false;
        QTest::newRow("identical check in flight shares it") << "1.0.0.0" << 1 << true;
        QTest::newRow("other check in flight asks anew") << "2.0.0.0" << 2 << true;
    }
    void storedFileRaisesTheBar() {
        QFETCH(QString, revision);
        QFETCH(int, files);
        QFETCH(bool, inFlight);
        for (const char* rev : {"1.0.0", "2.0.0"}) {
            offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QString::fromLatin1(rev),
                  QStringLiteral("1.47.0"), QStringLiteral("r147.dfu"));
        }
        QSignalSpy changed(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        if (!inFlight) {
            QTRY_COMPARE(changed.count(), 1);
        }
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"), revision);
        waitForExchanges(inFlight ? files : 2);
        QCOMPARE(fileRequests(), files);
        QCOMPARE(changed.count(), inFlight ? 1 : files);
    }

    void deletedFileNoLongerCounts() {
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.47.0"), QStringLiteral("r.dfu"));
        QSignalSpy changed(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 1);
        QVERIFY(QFile::remove(stored(QStringLiteral("r.dfu"))));
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")), QString());
        QCOMPARE(m_manager->getReceiverUpdateVersionString(QStringLiteral("Sorrel")), QString());
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 2);
        QCOMPARE(fileRequests(), 2);
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")), stored(QStringLiteral("r.dfu")));
    }

    void newerFileReplacesAndDeletesTheOld_data() {
        QTest::addColumn<QString>("secondName");
        QTest::addColumn<bool>("firstKept");
        QTest::newRow("other name deletes the old file") << "r148.dfu" << false;
        QTest::newRow("same name keeps the file") << "r147.dfu" << true;
    }
    void newerFileReplacesAndDeletesTheOld() {
        QFETCH(QString, secondName);
        QFETCH(bool, firstKept);
        QSignalSpy changed(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.47.0"), QStringLiteral("r147.dfu"));
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 1);
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.48.0"), secondName);
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 2);
        QCOMPARE(m_manager->getReceiverUpdateVersionString(QStringLiteral("Sorrel")), QStringLiteral("1.48"));
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")), stored(secondName));
        QCOMPARE(QFile::exists(stored(QStringLiteral("r147.dfu"))), firstKept);
        QCOMPARE(readAll(stored(secondName)), m_contents.value(secondName));
    }

    void fileOfAnOlderRequestIsIgnored() {
        QSignalSpy changed(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        // The first request's file is held back until the second request has been made.
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.47.0"), QStringLiteral("first.dfu"));
        HttpServer::Response held = body(m_contents.value(QStringLiteral("first.dfu")));
        held.fault = HttpServer::Fault::StallMidBody;
        held.faultAfter = 0;
        m_server->setRoute("/files/first.dfu", held);
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(fileRequests(), 1);
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.48.0"), QStringLiteral("second.dfu"));
        // Not the same question (an identical one would share the first request).
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.1.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")),
                 stored(QStringLiteral("second.dfu")));

        // Now let the first one finish: its file stays on disk, the record and the signal count do not move.
        m_server->resumeStalled();
        QTRY_VERIFY(QFile::exists(stored(QStringLiteral("first.dfu"))));
        QTest::qWait(100);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")),
                 stored(QStringLiteral("second.dfu")));
        QCOMPARE(m_manager->getReceiverUpdateVersionString(QStringLiteral("Sorrel")), QStringLiteral("1.48"));
    }

    void lateFileOfAReplacedRequest() {
        // Both requests run to the end; whichever file arrives for the first id is dropped.
        QSignalSpy changed(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.47.0"), QStringLiteral("a.dfu"));
        HttpServer::Response slow = body(dfuImage(QByteArray(256 * 1024, 'a')));
        slow.fault = HttpServer::Fault::StallMidBody;
        slow.faultAfter = 1024;
        m_server->setRoute("/files/a.dfu", slow);
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(fileRequests(), 1);
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.48.0"), QStringLiteral("b.dfu"));
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.1.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(m_manager->getReceiverUpdateVersionString(QStringLiteral("Sorrel")), QStringLiteral("1.48"));
        // The stalled transfer never finishes; destroying the manager cuts it off without a record.
        m_manager.reset();
        QVERIFY(QFile::exists(stored(QStringLiteral("b.dfu"))));
        QVERIFY(!QFile::exists(stored(QStringLiteral("a.dfu"))));
    }

    void failuresKeepThePreviousRecord_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("service error") << 500 << QByteArray("{}");
        QTest::newRow("up to date") << 200 << QByteArray();
        QTest::newRow("nothing usable") << 200 << QByteArray("not json");
    }
    void failuresKeepThePreviousRecord() {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QSignalSpy changed(m_manager.get(), &UpdateManager::softwareUpdateChanged);
        offer(QStringLiteral("software"), QStringLiteral("windows"), QString(), QStringLiteral("1.3.0"),
              QStringLiteral("setup.exe"));
        m_manager->checkSoftwareUpdate(QStringLiteral("windows"), QStringLiteral("1.2.217"));
        QTRY_COMPARE(changed.count(), 1);
        if (reply.isEmpty()) {
            reply = softwareOffers({{"1.3.0", m_server->baseUrl() + "/files/other.exe"}});
        }
        m_server->setRoute(softwareTarget(QStringLiteral("windows")), body(reply, status));
        m_manager->checkSoftwareUpdate(QStringLiteral("windows"), QStringLiteral("1.2.217"));
        waitForExchanges(2);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(fileRequests(), 1);
        QCOMPARE(m_manager->getSoftwareUpdatePath(QStringLiteral("windows")),
                 stored(QStringLiteral("setup.exe")));
        QCOMPARE(m_manager->getSoftwareUpdatePath(QStringLiteral("mac")), QString());
        QCOMPARE(
            m_manager->getSoftwareUpdateVersionString(QStringLiteral("windows"), QStringLiteral("M.m.p")),
            QStringLiteral("1.3.0"));
    }

    void fileSharedByTwoModelsStays() {
        QSignalSpy changed(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        // One after the other: an image names one model, so the service serves each its own under one name.
        int expected = 0;
        for (const char* model : {"Sorrel", "SorrelPlus"}) {
            offer(QStringLiteral("dongle"), QString::fromLatin1(model), QStringLiteral("1.0.0"),
                  QStringLiteral("1.47.0"), QStringLiteral("shared.dfu"));
            m_manager->checkReceiverUpdate(QString::fromLatin1(model), QStringLiteral("1.46.0.0"),
                                           QStringLiteral("1.0.0.0"));
            ++expected;
            QTRY_COMPARE(changed.count(), expected);
        }
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.48.0"), QStringLiteral("sorrel148.dfu"));
        m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.46.0.0"),
                                       QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 3);
        // SorrelPlus's current record still names shared.dfu: replacing Sorrel's must not take it away.
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("SorrelPlus")),
                 stored(QStringLiteral("shared.dfu")));
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")),
                 stored(QStringLiteral("sorrel148.dfu")));
    }

    // The engine refused the downloaded image as damaged: it goes with its record, a file the user picked
    // stays, and the next check fetches the image again.
    void damagedDownloadIsDroppedAndFetchedAgain() {
        const QString name = QStringLiteral("Sorrel_Dongle_T1.46.0.dfu");
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.46.0"), name);
        QSignalSpy changed(m_manager.get(), &UpdateManager::receiverUpdateChanged);
        const auto check = [this] {
            m_manager->checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.45.0.0"),
                                           QStringLiteral("1.0.0.0"));
        };
        check();
        QTRY_COMPARE(changed.count(), 1);
        const QString picked = m_root->filePath(QStringLiteral("picked.dfu"));
        QVERIFY(TestSupport::writeFile(picked, m_contents.value(name)));
        QVERIFY(!m_manager->discardDownload(picked));
        QVERIFY(QFile::exists(picked));
        QVERIFY(m_manager->discardDownload(stored(name)));
        QVERIFY(!QFile::exists(stored(name)) && !QFile::exists(stored(name) + QStringLiteral(".minisig")));
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")), QString());
        check();
        QTRY_COMPARE(changed.count(), 2);
        QCOMPARE(m_manager->getReceiverUpdatePath(QStringLiteral("Sorrel")), stored(name));
    }

    void defaultDirectoryAndServiceFromTheEnvironment() {
        const QString expected =
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/update");
        QCOMPARE(UpdateManager::defaultDirectory(), expected);
        QVERIFY(expected.contains(QLatin1String(".qttest")));
        QDir(expected).removeRecursively();
        qputenv("MELDRA_UPDATE_URL", m_server->baseUrl().toUtf8());
        UpdateManager manager;
        manager.setFirmwareCheck(&UIMediator::FirmwareImage::checkDownload);
        qunsetenv("MELDRA_UPDATE_URL");
        offer(QStringLiteral("dongle"), QStringLiteral("Sorrel"), QStringLiteral("1.0.0"),
              QStringLiteral("1.46.0"), QStringLiteral("Sorrel_Dongle_T1.46.0.dfu"));
        QSignalSpy changed(&manager, &UpdateManager::receiverUpdateChanged);
        manager.checkReceiverUpdate(QStringLiteral("Sorrel"), QStringLiteral("1.45.0.0"),
                                    QStringLiteral("1.0.0.0"));
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(manager.getReceiverUpdatePath(QStringLiteral("Sorrel")),
                 expected + QStringLiteral("/Sorrel_Dongle_T1.46.0.dfu"));
        QDir(expected).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TstUpdateManager)
#include "tst_updatemanager.moc"
