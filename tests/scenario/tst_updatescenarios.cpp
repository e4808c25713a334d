// Offers from the local update service and what the window makes of them: the notice, a firmware update
// from the welcome page to the end, its failures, a firmware file chosen by hand, and a newer program.
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/application.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "tests/scenario/scenariotest.h"
#include "mediator/uisoftwareupdatemediator.h"
#include "tests/online/signer.h"
#include "updater/updatemanager.h"

using HidSim::DeviceType;
using TestSupport::plug;
using Mediator = UIMediator::UIFirmwareUpdateMediator;

namespace {

const QString kModel = QStringLiteral("Sorrel");

struct Family {
    DeviceType type;
    QString tile;
    QString devicePage;
    QString noun;  // as the pages' texts name it
};

Family family(bool receiver) {
    return receiver ? Family{DeviceType::SorrelReceiver, QStringLiteral("receiverTile"),
                             QStringLiteral("receiverPage"), QStringLiteral("receiver")}
                    : Family{DeviceType::SorrelHeadset, QStringLiteral("headsetTile"),
                             QStringLiteral("headsetPage"), QStringLiteral("headset")};
}

}  // namespace

class TestUpdateScenarios : public ScenarioTest {
    Q_OBJECT

public:
    using ScenarioTest::ScenarioTest;

private:
    QQuickItem* notice(const QString& tile) const {
        QQuickItem* owner = m_ui.item(tile);
        return owner ? owner->findChild<QQuickItem*>(QStringLiteral("updateAvailableLabel")) : nullptr;
    }

    bool offer(const QString& receiver_version, const QString& headset_version) {
        QString error;
        const bool ok = m_service.offerFirmware(kModel, receiver_version, kReceiverImage, headset_version,
                                                kHeadsetImage, &error);
        if (!ok) {
            qWarning("%s", qPrintable(error));
        }
        return ok;
    }

    QString offeredVersion(bool receiver, const QString& format = QStringLiteral("M.m.p")) const {
        return receiver ? m_ui.updates()->getReceiverUpdateVersionString(kModel, format)
                        : m_ui.updates()->getHeadsetUpdateVersionString(kModel, format);
    }

    // What the operating system sends to the program as a whole, on macOS from the Dock's Quit.
    bool applicationAcceptsClose() {
        QCloseEvent event;
        QCoreApplication::sendEvent(&m_app, &event);
        return event.isAccepted();
    }

    // Closing asks first: a window that refuses stays on the screen.
    bool windowAcceptsClose() {
        const bool closed = m_ui.window()->close();
        QTest::qWait(20);
        return closed && !m_ui.window()->isVisible();
    }

    // What the file chooser hands over on acceptance: its URL, or that URL as fully escaped text.
    void startUpdateFromFile(int device_type, const QString& path, bool escaped_text = false) {
        QObject* internal = m_ui.object(QStringLiteral("internal"));
        QVERIFY(internal);
        const QUrl url = QUrl::fromLocalFile(path);
        const QVariant chosen = escaped_text ? QVariant(url.toString(QUrl::FullyEncoded)) : QVariant(url);
        QVERIFY(QMetaObject::invokeMethod(internal, "updateFromFile", Q_ARG(QVariant, device_type),
                                          Q_ARG(QVariant, chosen)));
    }

private slots:
    void noticeComparesMajorAndMinor_data() {
        QTest::addColumn<bool>("receiver");
        QTest::newRow("receiver") << true;
        QTest::newRow("headset") << false;
    }

    // First the service offers a version newer in its third part only, then a newer minor version. The
    // manager keeps its files for the whole run, so this comes before any other offer of the model.
    void noticeComparesMajorAndMinor() {
        QFETCH(bool, receiver);
        const Family f = family(receiver);
        QVERIFY(receiver ? offer(QStringLiteral("1.45.7"), QString())
                         : offer(QString(), QStringLiteral("1.45.7")));
        const int id = plug(f.type, QStringLiteral("N-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QTRY_VERIFY_WITH_TIMEOUT(m_ui.isShownAndEnabled(f.tile), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(offeredVersion(receiver), QStringLiteral("1.45.7"), 10000);
        QTest::qWait(300);
        QVERIFY(!notice(f.tile)->isVisible());
        // A build or a package manager's copy asks for firmware but leaves program updates to whoever
        // installed it: only a recorded per-user installation asks for a newer program.
        QCOMPARE(m_service.countRequests("/app_info/"), 0);
        QVERIFY(m_ui.openFromWelcome(f.tile, f.devicePage));
        QVERIFY(!m_ui.isShown(QStringLiteral("updateButton")));
        QVERIFY(!m_ui.isShown(QStringLiteral("availableLabel")));
        QVERIFY(m_ui.isShownAndEnabled(QStringLiteral("doneButton")));
        QVERIFY(m_ui.isShown(QStringLiteral("doneCheck")));
        QVERIFY(m_ui.click(QStringLiteral("doneButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));

        // A newer minor version appears; the person plugs the device in again.
        QVERIFY(receiver ? offer(QStringLiteral("1.46.0"), QString())
                         : offer(QString(), QStringLiteral("1.46.0")));
        QVERIFY(HidSim::unplug(id));
        QTRY_VERIFY_WITH_TIMEOUT(!m_ui.item(f.tile)->isEnabled(), 2000);
        plug(f.type, QStringLiteral("N-1"), QStringLiteral("1.45.0"));
        QTRY_COMPARE_WITH_TIMEOUT(offeredVersion(receiver), QStringLiteral("1.46.0"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(notice(f.tile)->isVisible(), 2000);
        QCOMPARE(notice(f.tile)->property("text").toString(), QStringLiteral("Update available"));
        QVERIFY(m_ui.openFromWelcome(f.tile, f.devicePage));
        QCOMPARE(m_ui.text(QStringLiteral("availableLabel")), QStringLiteral("1.46 available"));
        QVERIFY(m_ui.isShownAndEnabled(QStringLiteral("updateButton")));
        QVERIFY(!m_ui.isShown(QStringLiteral("doneButton")));
        QVERIFY(!m_ui.isShown(QStringLiteral("doneCheck")));
    }

    void updateFromWelcomeToTheEnd_data() {
        QTest::addColumn<bool>("receiver");
        QTest::newRow("receiver") << true;
        QTest::newRow("headset") << false;
    }

    void updateFromWelcomeToTheEnd() {
        QFETCH(bool, receiver);
        const Family f = family(receiver);
        QVERIFY(offer(QStringLiteral("1.46.0"), QStringLiteral("1.46.0")));
        // Long enough away in update mode to try closing meanwhile. Flashing crawls until the window has
        // been seen mid-way, however slow the machine (a loaded sanitizer build missed it), then runs.
        setReenumerateMs(400);
        HidSim::Timings bus = HidSim::timings();
        bus.updateReportIntervalUs = 5000;
        HidSim::setTimings(bus);
        const int id = plug(f.type, QStringLiteral("U-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QTRY_VERIFY_WITH_TIMEOUT(m_ui.isShownAndEnabled(f.tile) && notice(f.tile)->isVisible(), 10000);
        QVERIFY(m_ui.openFromWelcome(f.tile, f.devicePage));
        QTRY_COMPARE(m_ui.text(QStringLiteral("availableLabel")), QStringLiteral("1.46 available"));

        QVERIFY(m_ui.click(QStringLiteral("updateButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("progressPage"), 15000));
        QCOMPARE(m_ui.page()->property("deviceType").toInt(), int(f.type));
        QVERIFY(m_ui.firmware()->isRunning());
        QVERIFY(!windowAcceptsClose());
        QVERIFY(!applicationAcceptsClose());
        QVERIFY(m_ui.window()->isVisible());

        QTRY_COMPARE_WITH_TIMEOUT(m_ui.text(QStringLiteral("titleLabel")),
                                  QStringLiteral("Updating your %1...").arg(f.noun), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_ui.isShown(QStringLiteral("progressBar")), 10000);
        QVERIFY(!m_ui.isShown(QStringLiteral("busyIndicator")));
        QVERIFY(!windowAcceptsClose());
        bus.updateReportIntervalUs = 100;
        HidSim::setTimings(bus);
        QVERIFY2(m_ui.waitForPage(QStringLiteral("finalPage"), 60000),
                 qPrintable(m_ui.pageName() + QLatin1Char(' ') +
                            QString::number(int(m_ui.firmware()->getLastStatus()))));
        QCOMPARE(m_ui.text(QStringLiteral("titleLabel")), QStringLiteral("You're all set!"));
        QCOMPARE(HidSim::device(id).firmware, QStringLiteral("1.46.0"));
        QCOMPARE(HidSim::device(id).mode, HidSim::Mode::Normal);
        QTRY_VERIFY_WITH_TIMEOUT(!m_ui.firmware()->isRunning(), 5000);
        QVERIFY(applicationAcceptsClose());

        // Back on the welcome page the device is up to date: no notice.
        QVERIFY(m_ui.click(QStringLiteral("doneButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));
        QTRY_VERIFY_WITH_TIMEOUT(m_ui.isShownAndEnabled(f.tile), 2000);
        QTest::qWait(300);
        QVERIFY(!notice(f.tile)->isVisible());

        QVERIFY(windowAcceptsClose());
    }

    void updateFails_data() {
        QTest::addColumn<bool>("receiver");
        QTest::addColumn<bool>("pulledOut");  // else it never comes back from update mode in time
        QTest::addColumn<QString>("errorPage");
        QTest::newRow("receiver times out") << true << false << "errorReceiverUpdatePage";
        QTest::newRow("headset times out") << false << false << "errorPage";
        QTest::newRow("receiver pulled out while flashing") << true << true << "errorReceiverUpdatePage";
        QTest::newRow("headset pulled out while flashing") << false << true << "errorPage";
    }

    void updateFails() {
        QFETCH(bool, receiver);
        QFETCH(bool, pulledOut);
        QFETCH(QString, errorPage);
        const Family f = family(receiver);
        QVERIFY(offer(QStringLiteral("1.46.0"), QStringLiteral("1.46.0")));
        if (pulledOut) {
            // Slow enough flashing to pull the plug in the middle of it.
            HidSim::Timings bus = HidSim::timings();
            bus.updateReportIntervalUs = 300;
            HidSim::setTimings(bus);
        } else {
            setReenumerateMs(60000);
            setDeviceWaitMs(400);
        }
        const int id = plug(f.type, QStringLiteral("T-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QTRY_VERIFY_WITH_TIMEOUT(m_ui.isShownAndEnabled(f.tile) && notice(f.tile)->isVisible(), 10000);
        QVERIFY(m_ui.openFromWelcome(f.tile, f.devicePage));
        QVERIFY(m_ui.click(QStringLiteral("updateButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("progressPage")));
        if (pulledOut) {
            QTRY_VERIFY_WITH_TIMEOUT(m_ui.page()->property("percents").toInt() > 0, 10000);
            QVERIFY(HidSim::unplug(id));
        }
        QVERIFY2(m_ui.waitForPage(errorPage, 10000), qPrintable(m_ui.pageName()));
        const Mediator::Status status = m_ui.firmware()->getLastStatus();
        if (pulledOut) {
            QVERIFY2(status == Mediator::Status::Failed || status == Mediator::Status::DeviceError,
                     qPrintable(QString::number(int(status))));
        } else {
            QCOMPARE(status, Mediator::Status::Timeout);
            QCOMPARE(HidSim::device(id).firmware, QStringLiteral("1.45.0"));
        }
        QCOMPARE(m_ui.page()->property("deviceType").toInt(), int(f.type));
        if (receiver) {
            QVERIFY(m_ui.isShown(QStringLiteral("receiverPicture")));
        } else {
            QCOMPARE(m_ui.text(QStringLiteral("bodyLabel")),
                     QStringLiteral("Please keep your headset plugged in during the\nentire process."));
        }
        QTRY_VERIFY(!m_ui.firmware()->isRunning());
        QVERIFY(applicationAcceptsClose());

        if (!receiver) {
            QVERIFY(m_ui.click(QStringLiteral("doneButton")));
            QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));
        } else if (pulledOut) {
            // As the page asks: plug the receiver back in and try again.
            plug(f.type, QStringLiteral("T-1"), QStringLiteral("1.45.0"));
            QVERIFY(m_ui.click(QStringLiteral("tryAgainButton")));
            QVERIFY2(m_ui.waitForPage(f.devicePage), qPrintable(m_ui.pageName()));
            QCOMPARE(m_ui.page()->property("deviceType").toInt(), int(f.type));
        } else {
            // Still away in update mode: there is nothing to go back to.
            QVERIFY(m_ui.click(QStringLiteral("tryAgainButton")));
            QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));
        }
        QVERIFY(windowAcceptsClose());
    }

    void altClickOpensTheFileChooser() {
        plug(DeviceType::SorrelReceiver, QStringLiteral("R-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QVERIFY(m_ui.openFromWelcome(QStringLiteral("receiverTile"), QStringLiteral("receiverPage")));
        const auto chooser = [this] { return m_ui.object(QStringLiteral("fileDialog")); };
        QVERIFY(m_ui.click(QStringLiteral("versionLabel")));
        QTest::qWait(50);
        // The window makes its chooser on first use: a plain click leaves none, or none shown.
        QVERIFY(!chooser() || !chooser()->property("visible").toBool());
        QVERIFY(m_ui.click(QStringLiteral("versionLabel"), Qt::AltModifier));
        QObject* dialog = nullptr;
        QTRY_VERIFY((dialog = chooser()) && dialog->property("visible").toBool());
        QCOMPARE(dialog->property("deviceType").toInt(), int(DeviceType::SorrelReceiver));
        QCOMPARE(dialog->property("folder").toUrl(), QUrl::fromLocalFile(QDir::homePath()));
        QVERIFY(QMetaObject::invokeMethod(dialog, "reject"));
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QCOMPARE(m_ui.pageName(), QStringLiteral("receiverPage"));
    }

    void updateFromAChosenFileToTheEnd_data() {
        QTest::addColumn<bool>("escapedText");
        QTest::newRow("url") << false;
        QTest::newRow("escaped text") << true;
    }

    // The chosen file's path has a blank, a non-ASCII letter, '%' and '#', which a URL carries escaped.
    void updateFromAChosenFileToTheEnd() {
        QFETCH(bool, escapedText);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.filePath(QStringLiteral("my firmware Ä 100% #2"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/receiver 1.46.dfu");
        QVERIFY(QFile::copy(kReceiverImage, path));

        // Long enough in update mode to try closing the window meanwhile.
        setReenumerateMs(600);
        const int id = plug(DeviceType::SorrelReceiver, QStringLiteral("R-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QVERIFY(m_ui.openFromWelcome(QStringLiteral("receiverTile"), QStringLiteral("receiverPage")));
        m_ui.forgetPages();
        startUpdateFromFile(int(DeviceType::SorrelReceiver), path, escapedText);
        QVERIFY(m_ui.waitForPageShown(QStringLiteral("progressPage")));

        // While the update runs the window refuses to close.
        QVERIFY(m_ui.firmware()->isRunning());
        m_ui.window()->close();
        QTest::qWait(20);
        QVERIFY(m_ui.window()->isVisible());

        QVERIFY(m_ui.waitForPage(QStringLiteral("finalPage"), 30000));
        QCOMPARE(HidSim::device(id).firmware, QStringLiteral("1.46.0"));
        QVERIFY(m_ui.click(QStringLiteral("doneButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));
        m_ui.window()->close();
        QTRY_VERIFY(!m_ui.window()->isVisible());
    }

    void chosenFile_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("blank in the folder") << "new firmware"
                                             << "receiver.dfu";
        QTest::newRow("blanks in both") << "my files/new firmware"
                                        << "receiver 1.46.dfu";
        QTest::newRow("blank, umlaut, percent and hash") << "Firmware für 100% #2"
                                                         << "receiver 1.46.dfu";
    }

    // Alt-click on the version, then the path typed into the file chooser and accepted with Enter, which
    // the chooser turns into a URL as below.
    void chosenFile() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(QDir().mkpath(root.filePath(folder)));
        const QString path = root.filePath(folder + QLatin1Char('/') + name);
        QVERIFY(QFile::copy(kReceiverImage, path));

        const int id = plug(DeviceType::SorrelReceiver, QStringLiteral("F-1"), QStringLiteral("1.44.0"));
        QVERIFY(loadWindow());
        QVERIFY(m_ui.openFromWelcome(QStringLiteral("receiverTile"), QStringLiteral("receiverPage")));
        QVERIFY(m_ui.click(QStringLiteral("versionLabel"), Qt::AltModifier));
        // Looked up after the click: the window may well make its chooser only when first asked for it.
        QObject* dialog = nullptr;
        QTRY_VERIFY((dialog = m_ui.object(QStringLiteral("fileDialog"))) &&
                    dialog->property("visible").toBool());

        QUrl url;
        QVERIFY(
            QMetaObject::invokeMethod(dialog, "pathToUrl", Q_RETURN_ARG(QUrl, url), Q_ARG(QString, path)));
        QCOMPARE(url.toLocalFile(), path);
        QVERIFY(QMetaObject::invokeMethod(dialog, "clearSelection"));
        bool added = false;
        QVERIFY(
            QMetaObject::invokeMethod(dialog, "addSelection", Q_RETURN_ARG(bool, added), Q_ARG(QUrl, url)));
        QVERIFY(added);
        m_ui.forgetPages();
        QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
        QTRY_VERIFY(!dialog->property("visible").toBool());

        QVERIFY2(m_ui.waitForPageShown(QStringLiteral("progressPage")),
                 qPrintable(m_ui.pageName() + QLatin1Char(' ') +
                            QString::number(int(m_ui.firmware()->getLastStatus()))));
        QVERIFY2(m_ui.waitForPage(QStringLiteral("finalPage"), 60000), qPrintable(m_ui.pageName()));
        QCOMPARE(HidSim::device(id).firmware, QStringLiteral("1.46.0"));
    }

    void programOffer_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("handedOver");
        QTest::addColumn<QString>("signature");  // "good", "none" or "other" (of other bytes)
        // In this order: the manager keeps a downloaded program for the rest of the run.
        QTest::newRow("older") << "1.1.0" << false << "good";
        QTest::newRow("the same") << "1.2.217" << false << "good";
        QTest::newRow("newer, unsigned") << "9.0.0" << false << "none";
        QTest::newRow("newer, signature of other bytes") << "9.0.0" << false << "other";
        QTest::newRow("newer") << "9.0.0" << true << "good";
    }

    // The window asks for a newer program when it opens and hands a downloaded one to the installer in
    // its update mode without asking; the program keeps running.
    void programOffer() {
        QFETCH(QString, version);
        QFETCH(bool, handedOver);
        QFETCH(QString, signature);
        // This build has no key and its binary is no recorded installation: trust a test key and ask
        // anyway, then give both back so later scenarios see the program as shipped.
        OnlineTest::Signer signer;
        QVERIFY(signer.isValid());
        struct Trust {
            ScenarioWindow& ui;
            ~Trust() {
                ui.updates()->setPublicKey(Updater::Minisign::compiledKey());
                ui.updates()->setChecksProgram(false);
                ui.software()->setPublicKey(Updater::Minisign::compiledKey());
            }
        } trust{m_ui};
        m_ui.updates()->setPublicKey(signer.publicKey());
        m_ui.updates()->setChecksProgram(true);
        m_ui.software()->setPublicKey(signer.publicKey());
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString log = work.filePath(QStringLiteral("arguments.log"));
        const QString script = work.filePath(QStringLiteral("setup.sh"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray text = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + log.toUtf8() + "'\n";
        file.write(text);
        file.close();
        const QByteArray signature_text = signature == QLatin1String("good")    ? signer.sign(text, "kind:program version:" + version)
                                          : signature == QLatin1String("other") ? signer.sign(text + "\n", "kind:program version:" + version)
                                                                                : QByteArray();
        QString error;
        QVERIFY2(m_service.offerProgram(QStringLiteral("linux"), version, script, &error, signature_text),
                 qPrintable(error));
        const auto arguments = [&log] {
            QFile written(log);
            return written.open(QIODevice::ReadOnly) ? QString::fromUtf8(written.readAll()) : QString();
        };

        QSignalSpy offered(m_ui.updates(), &Updater::UpdateManager::softwareUpdateChanged);
        QVERIFY(loadWindow());
        QTRY_COMPARE_WITH_TIMEOUT(m_service.countRequests("/app_info/linux/"), 1, 5000);
        if (!handedOver) {
            QTest::qWait(1500);
            QCOMPARE(offered.count(), 0);
            // A newer program is fetched with its signature, and refused without a good one.
            QCOMPARE(m_service.countRequests("/files/"), version == QLatin1String("9.0.0") ? 2 : 0);
            QVERIFY(!QFile::exists(log));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(offered.count() > 0, 10000);
        const QString downloaded = m_ui.updates()->getSoftwareUpdatePath(QStringLiteral("linux"));
        QVERIFY(QFileInfo(downloaded).isFile());
        QCOMPARE(
            m_ui.updates()->getSoftwareUpdateVersionString(QStringLiteral("linux"), QStringLiteral("M.m.p")),
            version);
        QTRY_COMPARE_WITH_TIMEOUT(arguments(), QStringLiteral("-update\n"), 5000);
        QVERIFY(m_ui.window()->isVisible());
    }
};

int main(int argc, char** argv) {
    return runScenarios(argc, argv, [](Application& app, quint16 port) -> QObject* {
        return new TestUpdateScenarios(app, port);
    });
}

#include "tst_updatescenarios.moc"
