#include <QElapsedTimer>
#include <QtTest>

#include "tests/support/firmwareharness.h"

// The product's own waits, unshortened.
class TestFirmwareTimeout : public QObject {
    Q_OBJECT

private slots:
    void deviceThatNeverEntersUpdateMode();
};

void TestFirmwareTimeout::deviceThatNeverEntersUpdateMode() {
    qRegisterMetaType<Status>("Status");
    qRegisterMetaType<DeviceType>("DeviceType");
    FirmwareHarness harness;
    harness.mediator().setTimings(Mediator::Timings());
    QCOMPARE(harness.mediator().timings().deviceWaitMs, 30000);
    QCOMPARE(harness.mediator().timings().driverPauseMs, 1000);
    QCOMPARE(harness.mediator().timings().scanPollMs, 100);
    QCOMPARE(harness.mediator().timings().progressPollMs, 100);
    const int id =
        FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("T-1"));
    HidSim::Faults ignores;
    ignores.writeFails = true;
    QVERIFY(HidSim::setFaults(id, ignores));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(harness.mediator().update(DeviceType::SorrelReceiver));
    QVERIFY(harness.waitForEnd(40000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(harness.recorder().statuses(), QVector<Status>({Status::Started, Status::Timeout}));
    QVERIFY2(elapsed >= 30000 && elapsed < 33000, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(TestFirmwareTimeout)
#include "tst_firmwaretimeout.moc"
