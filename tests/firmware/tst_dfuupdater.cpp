#include <QElapsedTimer>
#include <QtTest>
#include <memory>

#include "dfu/updater.h"
#include "sim/dfufaults.h"
#include "tests/support/firmwareharness.h"

namespace {

const QString kCarriedReceiver = QStringLiteral(":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu");
const Io::DeviceId kReceiverUpdateMode(0x046d, 0x0a92, 0xff00, 1);

}  // namespace

// The adapter against the engine and the simulated device, without the mediator around it.
class TestDfuUpdater : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void connectCounts_data();
    void connectCounts();
    void transfer_data();
    void transfer();
};

void TestDfuUpdater::init() {
    HidSim::reset();
    HidSim::clearDfuFaults();
    HidSim::setTimings(TestSupport::fastBusTimings());
}

void TestDfuUpdater::cleanup() {
    HidSim::clearDfuFaults();
    HidSim::reset();
}

void TestDfuUpdater::connectCounts_data() {
    QTest::addColumn<int>("devices");
    QTest::addColumn<bool>("byNumbers");
    QTest::addColumn<bool>("connected");
    QTest::newRow("none") << 0 << false << false;
    QTest::newRow("one") << 1 << false << true;
    QTest::newRow("one, by numbers") << 1 << true << true;
    QTest::newRow("two") << 2 << false << false;
    QTest::newRow("two, by numbers") << 2 << true << false;
}

void TestDfuUpdater::connectCounts() {
    QFETCH(int, devices);
    QFETCH(bool, byNumbers);
    QFETCH(bool, connected);
    for (int i = 0; i < devices; ++i)
        QVERIFY(FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Update,
                                      QStringLiteral("U-%1").arg(i)) > 0);
    std::unique_ptr<DFU::IUpdater> updater(DFU::createUpdater());
    const bool result =
        byNumbers ? updater->connect(kReceiverUpdateMode.vendorId(), kReceiverUpdateMode.productId(),
                                     kReceiverUpdateMode.usagePage(), kReceiverUpdateMode.usage())
                  : updater->connect(kReceiverUpdateMode);
    QCOMPARE(result, connected);
    // Nothing was sent on a refused connection, and nothing is left open after the adapter goes.
    updater.reset();
    QCOMPARE(TestSupport::reportsWritten(0xff00), 0);
}

void TestDfuUpdater::transfer_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("errorAtPercent");
    QTest::addColumn<bool>("upgraded");
    QTest::addColumn<bool>("completes");
    QTest::newRow("carried image") << kCarriedReceiver << -1 << true << true;
    QTest::newRow("write error half-way") << kCarriedReceiver << 50 << true << false;
    QTest::newRow("missing file") << QStringLiteral("/nonexistent/a_T1.2.3.dfu") << -1 << false << false;
    QTest::newRow("image for another device")
        << QStringLiteral(":/firmware/46d.a93.ff00.1/Sorrel_Headset_T1.46.0.dfu") << -1 << false << false;
}

void TestDfuUpdater::transfer() {
    QFETCH(QString, image);
    QFETCH(int, errorAtPercent);
    QFETCH(bool, upgraded);
    QFETCH(bool, completes);
    const int device =
        FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Update, QStringLiteral("U-1"));
    HidSim::DfuFaults faults;
    faults.errorAtPercent = errorAtPercent;
    HidSim::setDfuFaults(device, faults);

    // The engine reads the file itself; a resource must be staged as the worker does.
    QTemporaryFile staged;
    QString path = image;
    if (image.startsWith(QLatin1String(":/"))) {
        QFile source(image);
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY(staged.open());
        QVERIFY(staged.write(source.readAll()) == source.size());
        QVERIFY(staged.flush());
        path = staged.fileName();
    }

    DFU::Updater updater;
    QVERIFY(!updater.upgrade(path));  // not connected yet
    QVERIFY(updater.connect(kReceiverUpdateMode));
    QCOMPARE(updater.upgrade(path), upgraded);
    if (!upgraded) {
        QCOMPARE(TestSupport::reportsWritten(0xff00), 0);
        return;
    }
    quint8 percent = 0;
    bool ok = true;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        quint8 reading = 77;
        ok = updater.getProgress(reading);
        if (!ok) {
            QCOMPARE(reading, quint8(77));  // untouched on failure
            break;
        }
        QVERIFY(reading >= percent);
        percent = reading;
        if (percent == 100)
            break;
        QThread::msleep(5);
    }
    QCOMPARE(ok, completes);
    QCOMPARE(percent == 100, completes);
    QCOMPARE(updater.resetDevice(), completes);
    if (completes) {
        QTRY_VERIFY(HidSim::device(device).present && HidSim::device(device).mode == HidSim::Mode::Normal);
        QVERIFY(HidSim::device(device).firmware.startsWith(QLatin1String("1.46")));
    }
}

QTEST_GUILESS_MAIN(TestDfuUpdater)
#include "tst_dfuupdater.moc"
