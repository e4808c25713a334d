// Plugging, unplugging and repairing on the real window, as a person at the machine would.
#include <QElapsedTimer>
#include <QtTest>

#include "app/application.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "tests/scenario/scenariotest.h"
#include "tools/pagestage/firmwareenums.h"

using HidSim::DeviceType;
using TestSupport::plug;
using Mediator = UIMediator::UIFirmwareUpdateMediator;

namespace {

// One poll period of the window plus a frame, with room for the two shared cores of the test machine.
constexpr int kPollDeadlineMs = 500;

const char* const kNothingConnected = "Please connect a product to start.";
const char* const kChooseAProduct = "Choose a product to begin.";

}  // namespace

class TestDeviceScenarios : public ScenarioTest {
    Q_OBJECT

public:
    using ScenarioTest::ScenarioTest;

private:
    // Polls the condition every few milliseconds; the time it took, or -1 when it never held.
    template <typename Condition>
    qint64 elapsedUntil(Condition condition, int timeout_ms = 3000) {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < timeout_ms) {
            QTest::qWait(2);
        }
        return condition() ? timer.elapsed() : -1;
    }

    QQuickItem* tileLabel(const QString& tile, const QString& label) const {
        QQuickItem* owner = m_ui.item(tile);
        return owner ? owner->findChild<QQuickItem*>(label) : nullptr;
    }

    // The file names of the tile's pictures that are loaded, with the hidden ones marked: a hidden picture
    // should not have been decoded at all.
    QStringList tilePictures(const QString& tile) const {
        QStringList out;
        const auto items = m_ui.item(tile)->findChildren<QQuickItem*>();
        for (const QQuickItem* item : items) {
            const QUrl source = item->property("source").toUrl();
            if (item->inherits("QQuickImage") && !source.isEmpty()) {
                const bool ready = item->property("status").toInt() == 1;
                out << (item->isVisible() ? QString() : QStringLiteral("hidden ")) + source.fileName() +
                           (ready ? QString() : QStringLiteral(" (not loaded)"));
            }
        }
        out.sort();
        return out;
    }

private slots:
    // The page tests and the screenshots run on a stand-in for the mediator's enums.
    void pageStandInAgreesWithTheMediator_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("statuses") << QByteArray("Status");
        QTest::newRow("device types") << QByteArray("DeviceType");
    }

    void pageStandInAgreesWithTheMediator() {
        QFETCH(QByteArray, name);
        const auto keys = [&name](const QMetaObject& meta) {
            const QMetaEnum values = meta.enumerator(meta.indexOfEnumerator(name.constData()));
            QStringList out;
            for (int i = 0; i < values.keyCount(); ++i) {
                out << QStringLiteral("%1=%2").arg(QLatin1String(values.key(i))).arg(values.value(i));
            }
            return out;
        };
        const QStringList real = keys(Mediator::staticMetaObject);
        QVERIFY(!real.isEmpty());
        QCOMPARE(keys(FirmwareEnums::staticMetaObject), real);
    }

    void tileFollowsPlugging_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("tile");
        QTest::addColumn<QString>("otherTile");
        QTest::addColumn<QStringList>("missingPictures");
        QTest::addColumn<QStringList>("pictures");
        const QStringList receivers{"dongle.png", "dongle_su.png"};
        const QStringList headset{"headset.png"};
        QTest::newRow("receiver") << int(DeviceType::SorrelReceiver) << "receiverTile"
                                  << "headsetTile" << receivers << QStringList{"dongle.png"};
        QTest::newRow("receiver with pairing") << int(DeviceType::SorrelPlusReceiver) << "receiverTile"
                                               << "headsetTile" << receivers << QStringList{"dongle_su.png"};
        QTest::newRow("headset") << int(DeviceType::SorrelHeadset) << "headsetTile"
                                 << "receiverTile" << headset << headset;
        QTest::newRow("plus headset") << int(DeviceType::SorrelPlusHeadset) << "headsetTile"
                                      << "receiverTile" << headset << headset;
    }

    void tileFollowsPlugging() {
        QFETCH(int, type);
        QFETCH(QString, tile);
        QFETCH(QString, otherTile);
        QFETCH(QStringList, missingPictures);
        QFETCH(QStringList, pictures);
        QVERIFY(loadWindow());
        QVERIFY(m_ui.item(tile) && m_ui.item(otherTile));
        QVERIFY(!m_ui.item(tile)->isEnabled());
        QVERIFY(!m_ui.item(otherTile)->isEnabled());
        QCOMPARE(tilePictures(tile), missingPictures);
        QVERIFY(!m_ui.click(tile));
        QVERIFY(m_ui.text(QStringLiteral("bodyLabel")).startsWith(QLatin1String(kNothingConnected)));
        QVERIFY(tileLabel(tile, QStringLiteral("missingLabel"))->isVisible());
        // Somewhere inside a poll period, as a person plugs whenever they like.
        QTest::qWait(130);

        const int id = plug(DeviceType(type), QStringLiteral("D-1"), QStringLiteral("1.45.0"));
        const qint64 enabled = elapsedUntil([&] { return m_ui.item(tile)->isEnabled(); });
        qInfo("%s enabled %lld ms after plugging", qPrintable(tile), enabled);
        QVERIFY2(enabled >= 0 && enabled <= kPollDeadlineMs, qPrintable(QString::number(enabled)));
        QVERIFY(!tileLabel(tile, QStringLiteral("missingLabel"))->isVisible());
        QCOMPARE(tilePictures(tile), pictures);
        QVERIFY(m_ui.text(QStringLiteral("bodyLabel")).startsWith(QLatin1String(kChooseAProduct)));
        QVERIFY(!m_ui.item(otherTile)->isEnabled());
        // No offer from the service: no notice.
        QVERIFY(!tileLabel(tile, QStringLiteral("updateAvailableLabel"))->isVisible());

        // Right after the tick that saw the device: the worst case, a whole poll period until the next one.
        QVERIFY(HidSim::unplug(id));
        const qint64 disabled = elapsedUntil([&] { return !m_ui.item(tile)->isEnabled(); });
        qInfo("%s disabled %lld ms after unplugging", qPrintable(tile), disabled);
        QVERIFY2(disabled >= 0 && disabled <= kPollDeadlineMs, qPrintable(QString::number(disabled)));
        QVERIFY(m_ui.text(QStringLiteral("bodyLabel")).startsWith(QLatin1String(kNothingConnected)));
        QCOMPARE(tilePictures(tile), missingPictures);

        plug(DeviceType(type), QStringLiteral("D-1"), QStringLiteral("1.45.0"));
        const qint64 again = elapsedUntil([&] { return m_ui.item(tile)->isEnabled(); });
        qInfo("%s enabled %lld ms after plugging right after a poll", qPrintable(tile), again);
        QVERIFY2(again >= 0 && again <= kPollDeadlineMs, qPrintable(QString::number(again)));
    }

    void unpluggingOnADevicePage_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("tile");
        QTest::addColumn<QString>("devicePage");
        QTest::newRow("receiver") << int(DeviceType::SorrelReceiver) << "receiverTile"
                                  << "receiverPage";
        QTest::newRow("receiver with pairing") << int(DeviceType::SorrelPlusReceiver) << "receiverTile"
                                               << "receiverPairwellPage";
        QTest::newRow("headset") << int(DeviceType::SorrelHeadset) << "headsetTile"
                                 << "headsetPage";
    }

    void unpluggingOnADevicePage() {
        QFETCH(int, type);
        QFETCH(QString, tile);
        QFETCH(QString, devicePage);
        const int id = plug(DeviceType(type), QStringLiteral("D-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QVERIFY(m_ui.openFromWelcome(tile, devicePage));
        QCOMPARE(m_ui.page()->property("deviceType").toInt(), type);
        QCOMPARE(m_ui.text(QStringLiteral("versionLabel")), QStringLiteral("Firmware Version: 1.45"));
        // Past the page's first frames, which delay its timer, and inside a poll period.
        QTest::qWait(400);

        QVERIFY(HidSim::unplug(id));
        const qint64 back = elapsedUntil([&] { return m_ui.pageName() == QLatin1String("welcomePage"); });
        qInfo("welcome page %lld ms after unplugging", back);
        QVERIFY2(back >= 0 && back <= kPollDeadlineMs, qPrintable(m_ui.pageName()));
        QVERIFY(!m_ui.item(tile)->isEnabled());
    }

    void severalDevicesOfAFamily_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<bool>("unplugFirst");
        QTest::addColumn<QString>("tile");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("devicePage");
        QTest::addColumn<int>("remaining");
        const int receiver = int(DeviceType::SorrelReceiver);
        const int plusReceiver = int(DeviceType::SorrelPlusReceiver);
        const int headset = int(DeviceType::SorrelHeadset);
        const int plusHeadset = int(DeviceType::SorrelPlusHeadset);
        QTest::newRow("two receivers") << receiver << receiver << false << "receiverTile"
                                       << "receiver"
                                       << "receiverPage" << receiver;
        QTest::newRow("two receivers, the first goes") << receiver << receiver << true << "receiverTile"
                                                       << "receiver"
                                                       << "receiverPage" << receiver;
        QTest::newRow("both receiver types, the plain one stays")
            << receiver << plusReceiver << false << "receiverTile"
            << "receiver"
            << "receiverPage" << receiver;
        QTest::newRow("both receiver types, the pairing one stays")
            << receiver << plusReceiver << true << "receiverTile"
            << "receiver"
            << "receiverPairwellPage" << plusReceiver;
        QTest::newRow("two headsets") << headset << headset << true << "headsetTile"
                                      << "headset"
                                      << "headsetPage" << headset;
        QTest::newRow("both headset types, the plus one stays")
            << headset << plusHeadset << true << "headsetTile"
            << "headset"
            << "headsetPage" << plusHeadset;
    }

    // The two devices run different firmware, so the page that follows shows which one it took.
    void severalDevicesOfAFamily() {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(bool, unplugFirst);
        QFETCH(QString, tile);
        QFETCH(QString, family);
        QFETCH(QString, devicePage);
        QFETCH(int, remaining);
        const int a = plug(DeviceType(first), QStringLiteral("A-1"), QStringLiteral("1.45.0"));
        const int b = plug(DeviceType(second), QStringLiteral("B-2"), QStringLiteral("1.44.0"));
        QVERIFY(loadWindow());
        QVERIFY(m_ui.openFromWelcome(tile, QStringLiteral("multiDevicePage")));
        QVERIFY2(m_ui.text(QStringLiteral("titleLabel")).contains(family),
                 qPrintable(m_ui.text("titleLabel")));

        // Both still there: the page stays.
        QVERIFY(m_ui.click(QStringLiteral("tryAgainButton")));
        QTest::qWait(300);
        QCOMPARE(m_ui.pageName(), QStringLiteral("multiDevicePage"));

        QVERIFY(HidSim::unplug(unplugFirst ? a : b));
        QVERIFY(m_ui.click(QStringLiteral("tryAgainButton")));
        QVERIFY2(m_ui.waitForPage(devicePage), qPrintable(m_ui.pageName()));
        QCOMPARE(m_ui.page()->property("deviceType").toInt(), remaining);
        QCOMPARE(m_ui.text(QStringLiteral("versionLabel")), unplugFirst
                                                                ? QStringLiteral("Firmware Version: 1.44")
                                                                : QStringLiteral("Firmware Version: 1.45"));
        // The page keeps polling a single device, so it stays.
        QTest::qWait(600);
        QCOMPARE(m_ui.pageName(), devicePage);

        // A second device coming back sends the device page to the multi-device page on its own.
        plug(DeviceType(unplugFirst ? first : second), QStringLiteral("C-3"), QStringLiteral("1.43.0"));
        QVERIFY(m_ui.waitForPage(QStringLiteral("multiDevicePage"), 2000));
        QVERIFY(m_ui.click(QStringLiteral("backButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));
    }

    void repair_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("devicePage");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("retry");  // how the person tries again after a failed pairing
        QTest::newRow("paired") << int(DeviceType::SorrelReceiver) << "receiverPage" << 0x40 << "";
        QTest::newRow("receiver with pairing, paired")
            << int(DeviceType::SorrelPlusReceiver) << "receiverPairwellPage" << 0x40 << "";
        QTest::newRow("failed, back to the steps")
            << int(DeviceType::SorrelReceiver) << "receiverPage" << 0x08 << "backButton";
        QTest::newRow("failed, try again at once")
            << int(DeviceType::SorrelReceiver) << "receiverPage" << 0x20 << "tryAgainButton";
        QTest::newRow("receiver with pairing, failed, back to the steps")
            << int(DeviceType::SorrelPlusReceiver) << "receiverPairwellPage" << 0x08 << "backButton";
    }

    void repair() {
        QFETCH(int, type);
        QFETCH(QString, devicePage);
        QFETCH(int, outcome);
        QFETCH(QString, retry);
        HidSim::RepairScript script;
        script.outcome = outcome;
        script.pollsBefore = 30;
        const int id = plug(DeviceType(type), QStringLiteral("R-1"), QStringLiteral("1.45.0"),
                            HidSim::Mode::Normal, script);
        QVERIFY(loadWindow());
        QVERIFY(m_ui.openFromWelcome(QStringLiteral("receiverTile"), devicePage));
        QVERIFY(m_ui.click(QStringLiteral("repairButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("repairPage")));
        QCOMPARE(m_ui.page()->property("deviceType").toInt(), type);
        QVERIFY(m_ui.click(QStringLiteral("nextButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("progressPage")));
        QTRY_COMPARE(m_ui.text(QStringLiteral("titleLabel")),
                     QStringLiteral("Reconnecting your receiver..."));
        QCOMPARE(m_ui.text(QStringLiteral("bodyLabel")),
                 QStringLiteral("Please keep your receiver plugged in during the\nentire process."));

        if (retry.isEmpty()) {
            QVERIFY(m_ui.waitForPage(QStringLiteral("finalPage"), 10000));
        } else {
            QVERIFY2(m_ui.waitForPage(QStringLiteral("noDeviceRepairPage"), 10000),
                     qPrintable(m_ui.pageName()));
            QCOMPARE(m_ui.page()->property("deviceType").toInt(), type);
            // The headset is in pairing mode this time.
            QVERIFY(HidSim::setRepair(id, HidSim::RepairScript{0x40, 2}));
            if (retry == QLatin1String("backButton")) {
                QVERIFY(m_ui.click(retry));
                QVERIFY(m_ui.waitForPage(QStringLiteral("repairPage")));
                QCOMPARE(m_ui.page()->property("deviceType").toInt(), type);
                QVERIFY(m_ui.click(QStringLiteral("nextButton")));
            } else {
                QVERIFY(m_ui.click(retry));
            }
            QVERIFY2(m_ui.waitForPage(QStringLiteral("finalPage"), 10000), qPrintable(m_ui.pageName()));
        }
        QCOMPARE(m_ui.firmware()->getLastStatus(), Mediator::Status::Finished);
        QCOMPARE(m_ui.text(QStringLiteral("titleLabel")), QStringLiteral("You're all set!"));
        const HidSim::DeviceState device = HidSim::device(id);
        QCOMPARE(device.repairStartCount, retry.isEmpty() ? 1 : 2);
        // Only the failed round takes the receiver out of pairing mode; a paired one has left it already.
        QCOMPARE(device.repairEndCount, retry.isEmpty() ? 0 : 1);
        QVERIFY(m_ui.click(QStringLiteral("doneButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));
    }

    void devicePagesShowTheDeviceAndGoBack_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("tile");
        QTest::addColumn<QString>("devicePage");
        QTest::addColumn<QString>("leave");
        QTest::newRow("receiver") << int(DeviceType::SorrelReceiver) << "receiverTile"
                                  << "receiverPage"
                                  << "doneButton";
        QTest::newRow("receiver with pairing") << int(DeviceType::SorrelPlusReceiver) << "receiverTile"
                                               << "receiverPairwellPage"
                                               << "backButton";
        QTest::newRow("headset") << int(DeviceType::SorrelHeadset) << "headsetTile"
                                 << "headsetPage"
                                 << "doneButton";
        QTest::newRow("plus headset") << int(DeviceType::SorrelPlusHeadset) << "headsetTile"
                                      << "headsetPage"
                                      << "backButton";
    }

    void devicePagesShowTheDeviceAndGoBack() {
        QFETCH(int, type);
        QFETCH(QString, tile);
        QFETCH(QString, devicePage);
        QFETCH(QString, leave);
        plug(DeviceType(type), QStringLiteral("D-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QTRY_VERIFY_WITH_TIMEOUT(m_ui.item(tile)->isEnabled(), 2000);
        const QString pictures = tilePictures(tile).join(QLatin1String(", "));
        QVERIFY2(!pictures.contains(QLatin1String("hidden")), qPrintable(pictures));
        QVERIFY(m_ui.click(tile));
        QVERIFY(m_ui.waitForPage(devicePage));
        QCOMPARE(m_ui.text(QStringLiteral("versionLabel")), QStringLiteral("Firmware Version: 1.45"));
        QCOMPARE(m_ui.page()->property("deviceType").toInt(), type);
        QVERIFY(m_ui.click(leave));
        QVERIFY(m_ui.waitForPage(QStringLiteral("welcomePage")));
    }

    void repairStepsBackToTheDevicePage_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("devicePage");
        QTest::newRow("receiver") << int(DeviceType::SorrelReceiver) << "receiverPage";
        QTest::newRow("receiver with pairing")
            << int(DeviceType::SorrelPlusReceiver) << "receiverPairwellPage";
    }

    void repairStepsBackToTheDevicePage() {
        QFETCH(int, type);
        QFETCH(QString, devicePage);
        const int id = plug(DeviceType(type), QStringLiteral("R-1"), QStringLiteral("1.45.0"));
        QVERIFY(loadWindow());
        QVERIFY(m_ui.openFromWelcome(QStringLiteral("receiverTile"), devicePage));
        QVERIFY(m_ui.click(QStringLiteral("repairButton")));
        QVERIFY(m_ui.waitForPage(QStringLiteral("repairPage")));
        QVERIFY(m_ui.click(QStringLiteral("backButton")));
        QVERIFY(m_ui.waitForPage(devicePage));
        QCOMPARE(m_ui.page()->property("deviceType").toInt(), type);
        QCOMPARE(HidSim::device(id).repairStartCount, 0);
    }
};

int main(int argc, char** argv) {
    return runScenarios(argc, argv, [](Application& app, quint16 port) -> QObject* {
        return new TestDeviceScenarios(app, port);
    });
}

#include "tst_devicescenarios.moc"
