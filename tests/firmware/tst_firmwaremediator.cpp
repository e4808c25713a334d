#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QQmlEngine>
#include <QtTest>

#include "tests/support/firmwareharness.h"

namespace {

struct SimDevice {
    DeviceType type;
    HidSim::Mode mode;
    QString serial;
    QString firmware;
};

// "<type>:<mode>:<serial>:<firmware>", mode n or u.
SimDevice parse(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    return {static_cast<DeviceType>(parts.at(0).toInt()),
            parts.at(1) == QLatin1String("u") ? HidSim::Mode::Update : HidSim::Mode::Normal, parts.at(2),
            parts.value(3, QStringLiteral("1.40.0"))};
}

void plugAll(const QStringList& devices) {
    for (const QString& text : devices) {
        const SimDevice device = parse(text);
        QVERIFY(FirmwareHarness::plug(device.type, device.mode, device.serial, device.firmware) > 0);
    }
}

}  // namespace

class TestFirmwareMediator : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void metaObject();

    void queries_data();
    void queries();
    void fromCacheAnswersTheLastScan();
    void idleBusIsNotEnumerated_data();
    void idleBusIsNotEnumerated();
    void readOncePerAppearance_data();
    void readOncePerAppearance();
    void silentDeviceAskedAgainAfterThePause();
    void imageBesideTheExecutable();
    void cancelWithoutWorker();
};

void TestFirmwareMediator::initTestCase() {
    qRegisterMetaType<Status>("Status");
    qRegisterMetaType<DeviceType>("DeviceType");
}

void TestFirmwareMediator::metaObject() {
    FirmwareHarness harness;
    const QMetaObject* meta = harness.mediator().metaObject();
    QCOMPARE(meta->className(), "UIMediator::UIFirmwareUpdateMediator");
    QStringList methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        methods << QString::fromLatin1(meta->method(i).methodSignature());
    // Signals first, then the invokables; a default argument adds a shorter overload after its method.
    const QStringList expected = {
        "updateProgressChanged(int,DeviceType)",
        "updateStatusChanged(Status,DeviceType)",
        "repairStatusChanged(Status,DeviceType)",
        "count(DeviceType,bool)",
        "count(DeviceType)",
        "update(DeviceType,QString)",
        "update(DeviceType)",
        "repair(DeviceType)",
        "cancel()",
        "canUpdate(DeviceType,bool)",
        "canUpdate(DeviceType)",
        "isDFU(DeviceType,bool)",
        "isDFU(DeviceType)",
        "isRunning()",
        "getRevisionString(DeviceType,QString,bool)",
        "getRevisionString(DeviceType,QString)",
        "getRevisionString(DeviceType)",
        "getVersionString(DeviceType,QString,bool)",
        "getVersionString(DeviceType,QString)",
        "getVersionString(DeviceType)",
        "getAvailableVersionString(DeviceType,QString)",
        "getAvailableVersionString(DeviceType)",
        "getModelName(DeviceType)",
        "getLastStatus()",
    };
    QCOMPARE(methods, expected);
    const QMetaEnum status = meta->enumerator(meta->indexOfEnumerator("Status"));
    QCOMPARE(status.keyCount(), 11);
    QCOMPARE(status.keyToValue("FileError"), 10);
    QVERIFY(status.isScoped());
    const QMetaEnum type = meta->enumerator(meta->indexOfEnumerator("DeviceType"));
    QCOMPARE(type.keyToValue("SorrelPlusReceiver"), 4);
    QCOMPARE(QQmlEngine::objectOwnership(&harness.mediator()), QQmlEngine::CppOwnership);
}

void TestFirmwareMediator::queries_data() {
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("isDFU");
    QTest::addColumn<QString>("version");   // "M.m.p.b"
    QTest::addColumn<QString>("revision");  // "M.m.p.b"
    QTest::addColumn<bool>("canUpdate");
    QTest::addColumn<QString>("available");  // "M.m"

    // clang-format off
    QTest::newRow("receiver normal") << QStringList{"2:n:R1:1.45.0-9"} << DeviceType::SorrelReceiver
        << 1 << false << "1.45.0.9" << "2.0.0.0" << true << "1.46";
    QTest::newRow("receiver update mode") << QStringList{"2:u:R1"} << DeviceType::SorrelReceiver
        << 1 << true << "" << "2.0.0.0" << true << "1.46";
    QTest::newRow("receiver up to date") << QStringList{"2:n:R1:1.46.0"} << DeviceType::SorrelReceiver
        << 1 << false << "1.46.0.0" << "2.0.0.0" << false << "1.46";
    QTest::newRow("receiver newer") << QStringList{"2:n:R1:1.47.0"} << DeviceType::SorrelReceiver
        << 1 << false << "1.47.0.0" << "2.0.0.0" << false << "1.46";
    QTest::newRow("two receivers") << QStringList{"2:n:R1", "2:n:R2"} << DeviceType::SorrelReceiver
        << 2 << false << "" << "" << false << "1.46";
    // One device waits in update mode, so the available image counts as newer; update refuses the pair.
    QTest::newRow("receiver in both modes") << QStringList{"2:n:R1", "2:u:R2"} << DeviceType::SorrelReceiver
        << 2 << true << "" << "" << true << "1.46";
    QTest::newRow("headset normal") << QStringList{"1:n:H1:1.44.0"} << DeviceType::SorrelHeadset
        << 1 << false << "1.44.0.0" << "3.0.0.0" << true << "1.46";
    QTest::newRow("headset update mode") << QStringList{"1:u:H1"} << DeviceType::SorrelHeadset
        << 1 << true << "" << "2.0.0.0" << true << "1.46";
    QTest::newRow("headset asked, receiver there") << QStringList{"2:n:R1"} << DeviceType::SorrelHeadset
        << 0 << false << "" << "" << false << "1.46";
    QTest::newRow("plus headset, no image") << QStringList{"3:n:P1"} << DeviceType::SorrelPlusHeadset
        << 1 << false << "1.40.0.0" << "3.0.0.0" << false << "";
    QTest::newRow("plus receiver") << QStringList{"4:n:P1:2.1.0-3"} << DeviceType::SorrelPlusReceiver
        << 1 << false << "2.1.0.3" << "2.0.0.0" << false << "";
    QTest::newRow("nothing") << QStringList{} << DeviceType::SorrelReceiver
        << 0 << false << "" << "" << false << "1.46";
    QTest::newRow("unknown type") << QStringList{"2:n:R1"} << DeviceType::Unknown
        << 0 << false << "" << "" << false << "";
    // clang-format on
}

void TestFirmwareMediator::queries() {
    QFETCH(QStringList, devices);
    QFETCH(DeviceType, type);
    QFETCH(int, count);
    QFETCH(bool, isDFU);
    QFETCH(QString, version);
    QFETCH(QString, revision);
    QFETCH(bool, canUpdate);
    QFETCH(QString, available);

    FirmwareHarness harness;
    plugAll(devices);
    Mediator& mediator = harness.mediator();
    const QString full = QStringLiteral("M.m.p.b");
    QCOMPARE(mediator.count(type), count);
    QCOMPARE(mediator.isDFU(type), isDFU);
    QCOMPARE(mediator.getVersionString(type, full), version);
    QCOMPARE(mediator.getRevisionString(type, full), revision);
    QCOMPARE(mediator.canUpdate(type), canUpdate);
    QCOMPARE(mediator.getAvailableVersionString(type), available);
    // The same answers from the cache of the last scan.
    QCOMPARE(mediator.count(type, true), count);
    QCOMPARE(mediator.isDFU(type, true), isDFU);
    QCOMPARE(mediator.getVersionString(type, full, true), version);
    QCOMPARE(mediator.canUpdate(type, true), canUpdate);
    QCOMPARE(mediator.getModelName(type).isEmpty(), type == DeviceType::Unknown);
    // Queries start nothing.
    QVERIFY(!mediator.isRunning());
    QCOMPARE(mediator.getLastStatus(), Status::None);
    QCOMPARE(TestSupport::reportsWritten(0xff00), 0);
}

void TestFirmwareMediator::fromCacheAnswersTheLastScan() {
    FirmwareHarness harness;
    Mediator& mediator = harness.mediator();
    QCOMPARE(mediator.count(DeviceType::SorrelReceiver, true), 0);  // starts empty
    const int id =
        FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("R1"));
    QCOMPARE(mediator.count(DeviceType::SorrelReceiver, true), 0);
    QCOMPARE(mediator.count(DeviceType::SorrelReceiver), 1);
    QVERIFY(HidSim::unplug(id));
    QCOMPARE(mediator.count(DeviceType::SorrelReceiver, true), 1);
    // The cached path is gone: the read fails quietly.
    QCOMPARE(mediator.getVersionString(DeviceType::SorrelReceiver, QStringLiteral("M.m"), true), QString());
    QCOMPARE(mediator.count(DeviceType::SorrelReceiver), 0);
}

void TestFirmwareMediator::idleBusIsNotEnumerated_data() {
    QTest::addColumn<bool>("announced");
    QTest::newRow("arrivals announced: the bus only after one") << true;
    QTest::newRow("nothing announced: the bus every tick") << false;
}

void TestFirmwareMediator::idleBusIsNotEnumerated() {
    QFETCH(bool, announced);
    FirmwareHarness harness;
    HidSim::setAnnouncing(announced);
    Mediator& mediator = harness.mediator();
    const int id =
        FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("R1"));
    for (int tick = 0; tick < 8; ++tick)
        QCOMPARE(mediator.count(DeviceType::SorrelReceiver), 1);
    QCOMPARE(HidSim::enumerations(), announced ? 1 : 8);
    // Whichever way, the first tick after a change sees it.
    QVERIFY(HidSim::unplug(id));
    QCOMPARE(mediator.count(DeviceType::SorrelReceiver), 0);
    FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("R2"));
    QCOMPARE(mediator.count(DeviceType::SorrelReceiver), 1);
    QCOMPARE(HidSim::enumerations(), announced ? 3 : 10);
}

void TestFirmwareMediator::readOncePerAppearance_data() {
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<bool>("revision");
    QTest::addColumn<int>("usagePage");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("answer");
    QTest::newRow("receiver version") << DeviceType::SorrelReceiver << false << 0xffa0
                                      << QByteArray::fromHex("020080") << QStringLiteral("1.40");
    QTest::newRow("headset version") << DeviceType::SorrelHeadset << false << 0xffc0
                                     << QByteArray::fromHex("000100") << QStringLiteral("1.40");
    QTest::newRow("headset revision") << DeviceType::SorrelHeadset << true << 0xffc0
                                      << QByteArray::fromHex("00f103") << QStringLiteral("3.0");
}

void TestFirmwareMediator::readOncePerAppearance() {
    QFETCH(DeviceType, type);
    QFETCH(bool, revision);
    QFETCH(int, usagePage);
    QFETCH(QByteArray, query);
    QFETCH(QString, answer);
    FirmwareHarness harness;
    Mediator& mediator = harness.mediator();
    const int id = FirmwareHarness::plug(type, HidSim::Mode::Normal, QStringLiteral("D1"));
    const auto asked = [&] {
        return TestSupport::reportsWritten(quint16(usagePage), QStringLiteral("D1"), query);
    };
    // The ticks of a device page: a scan, then the version from the cached list.
    const auto ticks = [&] {
        for (int tick = 0; tick < 4; ++tick) {
            QCOMPARE(mediator.count(type), 1);
            QCOMPARE(revision ? mediator.getRevisionString(type, QStringLiteral("M.m"), true)
                              : mediator.getVersionString(type, QStringLiteral("M.m"), true),
                     answer);
        }
    };
    ticks();
    QCOMPARE(asked(), 1);
    // Back under new paths, as after an update: a new appearance, read once more.
    QVERIFY(HidSim::replug(id, 0));
    QTRY_COMPARE(mediator.count(type), 1);
    ticks();
    QCOMPARE(asked(), 2);
}

void TestFirmwareMediator::silentDeviceAskedAgainAfterThePause() {
    FirmwareHarness harness;
    const int id =
        FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("R1"));
    HidSim::Faults silent;
    silent.readTimeout = true;
    QVERIFY(HidSim::setFaults(id, silent));
    const auto version = [&] {
        return harness.mediator().getVersionString(DeviceType::SorrelReceiver, QStringLiteral("M.m"), true);
    };
    const auto asked = [] {
        return TestSupport::reportsWritten(0xffa0, QStringLiteral("R1"), QByteArray::fromHex("020080"));
    };
    const auto setRetryMs = [&](int ms) {
        Mediator::Timings timings = harness.mediator().timings();
        timings.readRetryMs = ms;
        harness.mediator().setTimings(timings);
    };

    setRetryMs(3600 * 1000);
    for (int tick = 0; tick < 4; ++tick) {
        QCOMPARE(harness.mediator().count(DeviceType::SorrelReceiver), 1);
        QCOMPARE(version(), QString());
    }
    // Joins any read still going on in the background, so that every query has reached the device.
    harness.destroyMediator();
    QCOMPARE(asked(), 1);

    // Once the pause is over, the asking answers what is known and the device is asked again meanwhile.
    harness.recreate();
    QCOMPARE(harness.mediator().count(DeviceType::SorrelReceiver), 1);
    QCOMPARE(version(), QString());
    QVERIFY(HidSim::setFaults(id, HidSim::Faults()));
    setRetryMs(0);
    QCOMPARE(version(), QString());
    QTRY_COMPARE(version(), QStringLiteral("1.40"));
    QCOMPARE(harness.mediator().count(DeviceType::SorrelReceiver), 1);
    QCOMPARE(version(), QStringLiteral("1.40"));
    harness.destroyMediator();
    QCOMPARE(asked(), 3);
}

void TestFirmwareMediator::imageBesideTheExecutable() {
    const QString folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/firmware/46d.a93.ff00.1");
    const QString plus_folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/firmware/46d.aac.ff00.1");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QDir().mkpath(plus_folder));
    {
        QFile image(folder + QStringLiteral("/Local_T1.20.5.dfu"));
        QVERIFY(image.open(QIODevice::WriteOnly));
        QFile plus_image(plus_folder + QStringLiteral("/Plus_T2.3.0.dfu"));
        QVERIFY(plus_image.open(QIODevice::WriteOnly));
    }
    FirmwareHarness harness;
    Mediator& mediator = harness.mediator();
    const QString headset =
        mediator.getAvailableVersionString(DeviceType::SorrelHeadset, QStringLiteral("M.m.p.b"));
    const QString receiver = mediator.getAvailableVersionString(DeviceType::SorrelReceiver);
    const QString plus = mediator.getAvailableVersionString(DeviceType::SorrelPlusHeadset);
    QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/firmware")).removeRecursively();
    // Beside the executable wins, even when older than the carried image.
    QCOMPARE(headset, QStringLiteral("1.20.0.5"));
    QCOMPARE(receiver, QStringLiteral("1.46"));
    QCOMPARE(plus, QStringLiteral("2.3"));
    QCOMPARE(mediator.getAvailableVersionString(DeviceType::SorrelHeadset), QStringLiteral("1.46"));
}

void TestFirmwareMediator::cancelWithoutWorker() {
    FirmwareHarness harness;
    QVERIFY(!harness.mediator().cancel());
    QCOMPARE(harness.mediator().getLastStatus(), Status::None);
    QVERIFY(!harness.mediator().isRunning());
}

QTEST_GUILESS_MAIN(TestFirmwareMediator)
#include "tst_firmwaremediator.moc"
