#include <QtTest>
#include <atomic>
#include <thread>

#include "sim/hidsim.h"
#include "tests/sim/simtestutil.h"

using namespace SimTest;
using HidSim::DeviceType;
using HidSim::TrafficKind;

// Faults, odd devices and the traffic log: what the program's error paths run into.
class TstHidSimFaults : public QObject {
    Q_OBJECT

private slots:
    void init() {
        HidSim::reset();
        HidSim::setTimings(fastTimings());
    }

    void faults_data() {
        QTest::addColumn<bool>("openFails");
        QTest::addColumn<bool>("writeFails");
        QTest::addColumn<bool>("readFails");
        QTest::addColumn<bool>("readTimeout");
        QTest::addColumn<int>("faultPage");  // 0: the whole device
        QTest::addColumn<int>("usedPage");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("writeResult");
        QTest::addColumn<int>("readResult");
        QTest::newRow("no fault") << false << false << false << false << 0 << 0xffa0 << true << 3 << 4;
        QTest::newRow("open refused") << true << false << false << false << 0 << 0xffa0 << false << 0 << 0;
        QTest::newRow("write fails") << false << true << false << false << 0 << 0xffa0 << true << -1 << 0;
        QTest::newRow("read fails") << false << false << true << false << 0 << 0xffa0 << true << 3 << -1;
        QTest::newRow("read times out") << false << false << false << true << 0 << 0xffa0 << true << 3 << 0;
        QTest::newRow("open refused on other interface")
            << true << false << false << false << 0xffa1 << 0xffa0 << true << 3 << 4;
        QTest::newRow("write fails on this interface")
            << false << true << false << false << 0xffa0 << 0xffa0 << true << -1 << 0;
    }
    void faults() {
        QFETCH(bool, openFails);
        QFETCH(bool, writeFails);
        QFETCH(bool, readFails);
        QFETCH(bool, readTimeout);
        QFETCH(int, faultPage);
        QFETCH(int, usedPage);
        QFETCH(bool, opens);
        QFETCH(int, writeResult);
        QFETCH(int, readResult);
        const int id = HidSim::plug(setup(DeviceType::SorrelReceiver, "R-1", "1.45.0"));
        HidSim::Faults f;
        f.openFails = openFails;
        f.writeFails = writeFails;
        f.readFails = readFails;
        f.readTimeout = readTimeout;
        QVERIFY(HidSim::setFaults(id, f, quint16(faultPage)));

        Handle handle = open("R-1", quint16(usedPage));
        QCOMPARE(bool(handle), opens);
        if (!opens) {
            QVERIFY(hid_error(nullptr) != nullptr);
            HidSim::TrafficFilter refused;
            refused.kind = int(TrafficKind::OpenRefused);
            QCOMPARE(HidSim::count(refused), 1);
            return;
        }
        write(handle.get(), bytes({2, 1, 0}));
        QCOMPARE(write(handle.get(), bytes({2, 0, 0x80})), writeResult);
        QElapsedTimer timer;
        timer.start();
        int result = 99;
        read(handle.get(), 4, 150, &result);
        QCOMPARE(result, readResult);
        if (readResult == 0)
            QVERIFY(timer.elapsed() >= 140);
        if (readResult < 0)
            QVERIFY(timer.elapsed() < 100);

        // Clearing the fault heals the device without re-plugging it.
        QVERIFY(HidSim::setFaults(id, HidSim::Faults(), quint16(faultPage)));
        write(handle.get(), bytes({2, 1, 0}));
        QCOMPARE(write(handle.get(), bytes({2, 0, 0x80})), 3);
        QCOMPARE(read(handle.get(), 4, 1000), bytes({2, 0x01, 0x45, 0}));
    }

    // Writes longer than the interface's report are refused, as by a device; shorter ones go through.
    void reportSizes_data() {
        QTest::addColumn<int>("type");  // DeviceType, 0 for a foreign device with a 10-byte output report
        QTest::addColumn<int>("mode");  // HidSim::Mode
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("feature");
        QTest::addColumn<bool>("strict");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("result");
        const int headset = int(DeviceType::SorrelHeadset);
        const int receiver = int(DeviceType::SorrelReceiver);
        const int normal = int(HidSim::Mode::Normal);
        const int update = int(HidSim::Mode::Update);
        QTest::newRow("headset, full report") << headset << normal << 0xffc0 << false << true << 32 << 32;
        QTest::newRow("headset, one byte too many")
            << headset << normal << 0xffc0 << false << true << 33 << -1;
        QTest::newRow("receiver, longest") << receiver << normal << 0xffa0 << false << true << 8 << 8;
        QTest::newRow("receiver, too long") << receiver << normal << 0xffa0 << false << true << 9 << -1;
        QTest::newRow("receiver, second interface")
            << receiver << normal << 0xffa1 << false << true << 17 << -1;
        QTest::newRow("update mode, the engine's report")
            << receiver << update << 0xff00 << false << true << 65 << 65;
        QTest::newRow("update mode, too long") << receiver << update << 0xff00 << false << true << 66 << -1;
        QTest::newRow("update mode, feature too long")
            << headset << update << 0xff00 << true << true << 66 << -1;
        QTest::newRow("short reports go through") << headset << update << 0xff00 << false << true << 3 << 3;
        QTest::newRow("sizes not enforced") << headset << normal << 0xffc0 << false << false << 200 << 200;
        QTest::newRow("foreign, its own size") << 0 << normal << 0x1 << false << true << 11 << -1;
        QTest::newRow("foreign, feature of any size") << 0 << normal << 0x1 << true << true << 300 << 300;
    }
    void reportSizes() {
        QFETCH(int, type);
        QFETCH(int, mode);
        QFETCH(int, page);
        QFETCH(bool, feature);
        QFETCH(bool, strict);
        QFETCH(int, length);
        QFETCH(int, result);
        HidSim::DeviceSetup s = setup(DeviceType(type), "S-1");
        s.mode = HidSim::Mode(mode);
        if (type == 0) {
            s.vendorId = 0x1234;
            s.productId = 0x5678;
            s.usagePage = 0x1;
            s.usage = 0x6;
            s.outputReportSize = 10;
        }
        s.link.strictSizes = strict;
        HidSim::plug(s);
        Handle handle = open("S-1", quint16(page));
        QVERIFY(handle);
        const QByteArray report(length, '\0');
        const auto* data = reinterpret_cast<const unsigned char*>(report.constData());
        QCOMPARE(feature ? hid_send_feature_report(handle.get(), data, size_t(length))
                         : write(handle.get(), report),
                 result);
        HidSim::TrafficFilter refused;
        refused.kind = int(feature ? TrafficKind::SendFeature : TrafficKind::Write);
        QCOMPARE(HidSim::traffic(refused).value(0).result, result);
    }

    // Answers come after the link's latency, and status reports arrive unasked at their rate until the
    // rate is changed.
    void linkTimings() {
        const int id = HidSim::plug(setup(DeviceType::SorrelReceiver, "R-1", "1.45.0"));
        HidSim::Link link;
        link.ackLatencyMs = 150;
        QVERIFY(HidSim::setLink(id, link));
        Handle handle = open("R-1", 0xffa0);
        QCOMPARE(write(handle.get(), bytes({2, 0, 0x80})), 3);
        int result = 1;
        read(handle.get(), 4, 50, &result);
        QCOMPARE(result, 0);
        QCOMPARE(read(handle.get(), 4, 1000), bytes({2, 1, 0x45, 0}));

        link = HidSim::Link();
        link.unsolicitedEveryMs = 20;
        link.unsolicitedReport = bytes({0x07, 0xaa});
        QVERIFY(HidSim::setLink(id, link));
        QCOMPARE(HidSim::device(id).link.unsolicitedEveryMs, 20);
        QCOMPARE(read(handle.get(), 8, 1000), bytes({0x07, 0xaa}));
        QCOMPARE(read(handle.get(), 8, 1000), bytes({0x07, 0xaa}));
        link.unsolicitedEveryMs = 0;
        QVERIFY(HidSim::setLink(id, link));
        QTest::qWait(50);
        while (hid_read_timeout(handle.get(), reinterpret_cast<unsigned char*>(QByteArray(8, 0).data()), 8,
                                0) > 0) {
        }
        read(handle.get(), 8, 100, &result);
        QCOMPARE(result, 0);
        QVERIFY(!HidSim::setLink(id, HidSim::Link{-1, 0, 0, {}, true}));
    }

    void unplugWakesBlockedRead_data() {
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("waiting without limit") << -1;
        QTest::newRow("waiting with a long time-out") << 10000;
    }
    void unplugWakesBlockedRead() {
        QFETCH(int, timeoutMs);
        const int id = HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1"));
        Handle handle = open("H-1", 0xffc0);
        std::atomic<int> result{99};
        QElapsedTimer timer;
        timer.start();
        std::thread reader([&] {
            unsigned char buffer[7];
            result = hid_read_timeout(handle.get(), buffer, sizeof(buffer), timeoutMs);
        });
        QThread::msleep(100);
        QCOMPARE(result.load(), 99);
        QVERIFY(HidSim::unplug(id));
        reader.join();
        QCOMPARE(result.load(), -1);
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(hid_error(handle.get()) != nullptr);
        QCOMPARE(write(handle.get(), bytes({0, 1, 0})), -1);
        QVERIFY(enumerateAll().isEmpty());
    }

    // The plug pulled between the receiver's two version queries: the second is accepted, its reply never
    // comes, and the device is gone.
    void unplugInTheMiddleOfAnExchange() {
        HidSim::DeviceSetup s = setup(DeviceType::SorrelReceiver, "R-1");
        s.faults.unplugAfterWrites = 2;
        HidSim::plug(s);
        Handle handle = open("R-1", 0xffa0);
        QCOMPARE(write(handle.get(), bytes({2, 1, 0})), 3);
        QCOMPARE(enumerateAll().size(), 2);
        QCOMPARE(write(handle.get(), bytes({2, 0, 0x80})), 3);
        int result = 0;
        read(handle.get(), 4, 1000, &result);
        QCOMPARE(result, -1);
        QVERIFY(enumerateAll().isEmpty());
        QVERIFY(HidSim::devices().isEmpty());
    }

    void replugKillsOldHandles() {
        const int id = HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1"));
        const QString oldPath = pathOf("H-1", 0xffc0);
        Handle old = open("H-1", 0xffc0);
        QVERIFY(HidSim::replug(id, 0));
        const QString newPath = pathOf("H-1", 0xffc0);
        QVERIFY(!newPath.isEmpty());
        QVERIFY(newPath != oldPath);
        QCOMPARE(write(old.get(), bytes({0, 1, 0})), -1);
        QVERIFY(!hid_open_path(oldPath.toUtf8().constData()));
        Handle fresh = open("H-1", 0xffc0);
        QCOMPARE(write(fresh.get(), bytes({0, 1, 0})), 3);
        QCOMPARE(read(fresh.get(), 7, 1000).size(), 7);
    }

    void replugAfterDelay() {
        const int id = HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1"));
        QVERIFY(HidSim::replug(id, 100));
        QVERIFY(enumerateAll().isEmpty());
        QVERIFY(!HidSim::device(id).present);
        QVERIFY(waitFor([] { return enumerateAll().size() == 1; }, 2000));
    }

    void twoIdenticalDevices() {
        HidSim::plug(setup(DeviceType::SorrelReceiver, "SAME", "1.45.0"));
        HidSim::plug(setup(DeviceType::SorrelReceiver, "SAME", "1.46.0"));
        const QVector<Found> found = enumerateAll();
        QCOMPARE(found.size(), 4);
        QSet<QString> paths;
        QStringList versions;
        for (const Found& f : found) {
            QCOMPARE(f.serial, QString("SAME"));
            paths.insert(f.path);
            if (f.usagePage != 0xffa0)
                continue;
            Handle handle(hid_open_path(f.path.toUtf8().constData()));
            write(handle.get(), bytes({2, 1, 0}));
            write(handle.get(), bytes({2, 0, 0x80}));
            versions << read(handle.get(), 4, 1000).toHex();
        }
        QCOMPARE(paths.size(), 4);
        QCOMPARE(versions, (QStringList{"02014500", "02014600"}));
        QCOMPARE(HidSim::unplugSerial("SAME"), 2);
        QVERIFY(enumerateAll().isEmpty());
    }

    void serialNumbers_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<bool>("hasSerial");
        QTest::newRow("no serial number") << QString() << false;
        QTest::newRow("empty serial number") << QString("") << true;
        QTest::newRow("unicode serial number") << QString::fromUtf8("Ser-\xc3\xa9") << true;
    }
    void serialNumbers() {
        QFETCH(QString, serial);
        QFETCH(bool, hasSerial);
        HidSim::plug(setup(DeviceType::SorrelHeadset, serial));
        const QVector<Found> found = enumerateAll();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].hasSerial, hasSerial);
        QCOMPARE(found[0].serial, hasSerial ? serial : QString());
        Handle handle(hid_open_path(found[0].path.toUtf8().constData()));
        wchar_t text[16] = L"x";
        QCOMPARE(hid_get_serial_number_string(handle.get(), text, 16), 0);
        QCOMPARE(QString::fromWCharArray(text), hasSerial ? serial : QString());
        Handle bySerial(hid_open(0x046d, 0x0a91, L""));
        QCOMPARE(bool(bySerial), hasSerial && serial.isEmpty());
    }

    void foreignDevices_data() {
        QTest::addColumn<int>("vendorId");
        QTest::addColumn<int>("productId");
        QTest::addColumn<int>("usagePage");
        QTest::addColumn<int>("usage");
        QTest::newRow("keyboard") << 0x1234 << 0x5678 << 0x1 << 0x6;
        QTest::newRow("mouse") << 0x1234 << 0x5679 << 0x1 << 0x2;
        QTest::newRow("vendor id 0 with a receiver's product id") << 0 << 0x0a90 << 0xffa0 << 1;
        QTest::newRow("known vendor, unknown product") << 0x046d << 0xc077 << 0x1 << 0x2;
    }
    void foreignDevices() {
        QFETCH(int, vendorId);
        QFETCH(int, productId);
        QFETCH(int, usagePage);
        QFETCH(int, usage);
        HidSim::DeviceSetup s;
        s.vendorId = quint16(vendorId);
        s.productId = quint16(productId);
        s.usagePage = quint16(usagePage);
        s.usage = quint16(usage);
        s.serial = "F1";
        HidSim::plug(s);
        HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1"));
        const QVector<Found> found = enumerateAll();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].vendorId, quint16(vendorId));
        QCOMPARE(found[0].productId, quint16(productId));
        QCOMPARE(found[0].usagePage, quint16(usagePage));
        QCOMPARE(found[0].usage, quint16(usage));
        // Looks like a receiver, is not one: takes the report and stays silent.
        Handle handle(hid_open_path(found[0].path.toUtf8().constData()));
        QVERIFY(handle);
        QCOMPARE(write(handle.get(), bytes({2, 0, 0x80})), 3);
        int result = 1;
        read(handle.get(), 4, 30, &result);
        QCOMPARE(result, 0);
        QCOMPARE(enumerateAll(quint16(vendorId), quint16(productId)).size(), 1);
    }

    void trafficPerInterface() {
        HidSim::plug(setup(DeviceType::SorrelReceiver, "R-1"));
        HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1"));
        {
            Handle receiver = open("R-1", 0xffa0);
            Handle second = open("R-1", 0xffa1);
            Handle headset = open("H-1", 0xffc0);
            for (int i = 0; i < 3; ++i) {
                write(receiver.get(), bytes({2, 1, 0}));
                write(receiver.get(), bytes({2, 0, 0x80}));
                read(receiver.get(), 4, 1000);
            }
            write(second.get(), bytes({3, 0xce, 2, 0x22, 0}));
            write(headset.get(), bytes({0, 1, 0}));
            read(headset.get(), 7, 1000);
        }
        HidSim::TrafficFilter f;
        f.kind = int(TrafficKind::Write);
        f.serial = "R-1";
        f.usagePage = 0xffa0;
        QCOMPARE(HidSim::count(f), 6);
        f.prefix = bytes({2, 0, 0x80});
        QCOMPARE(HidSim::count(f), 3);
        f.usagePage = 0xffa1;
        f.prefix = bytes({3, 0xce});
        QCOMPARE(HidSim::count(f), 1);
        f = HidSim::TrafficFilter();
        f.kind = int(TrafficKind::Read);
        f.serial = "H-1";
        const QVector<HidSim::TrafficEntry> reads = HidSim::traffic(f);
        QCOMPARE(reads.size(), 1);
        QCOMPARE(reads[0].bytes.size(), 7);
        QCOMPARE(reads[0].result, 7);
        QCOMPARE(reads[0].usagePage, quint16(0xffc0));
        f.kind = int(TrafficKind::Close);
        f.serial.clear();
        QCOMPARE(HidSim::count(f), 3);

        // In order, and bounded.
        const QVector<HidSim::TrafficEntry> all = HidSim::traffic();
        for (int i = 1; i < all.size(); ++i)
            QVERIFY(all[i].sequence > all[i - 1].sequence);
        HidSim::setTrafficLimit(4);
        QCOMPARE(HidSim::traffic().size(), 4);
        QCOMPARE(HidSim::traffic().last().sequence, all.last().sequence);
        HidSim::clearTraffic();
        QVERIFY(HidSim::traffic().isEmpty());
        HidSim::setTrafficLimit(10000);
    }

    void nonBlockingAndReplyDelay() {
        HidSim::Timings t = fastTimings();
        t.replyDelayMs = 100;
        HidSim::setTimings(t);
        HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1"));
        Handle handle = open("H-1", 0xffc0);
        QCOMPARE(hid_set_nonblocking(handle.get(), 1), 0);
        unsigned char buffer[7];
        QCOMPARE(hid_read(handle.get(), buffer, 7), 0);
        write(handle.get(), bytes({0, 1, 0}));
        QCOMPARE(hid_read(handle.get(), buffer, 7), 0);  // not there yet
        QCOMPARE(hid_set_nonblocking(handle.get(), 0), 0);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(hid_read(handle.get(), buffer, 7), 7);
        QVERIFY(timer.elapsed() >= 80);
    }

    void badArguments() {
        HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1"));
        Handle handle = open("H-1", 0xffc0);
        QCOMPARE(hid_write(handle.get(), nullptr, 3), -1);
        const unsigned char one = 0;
        QCOMPARE(hid_write(handle.get(), &one, 0), -1);
        QCOMPARE(hid_read_timeout(handle.get(), nullptr, 7, 0), -1);
        QCOMPARE(hid_write(nullptr, &one, 1), -1);
        QCOMPARE(hid_read(nullptr, nullptr, 0), -1);
        QVERIFY(!hid_open_path(nullptr));
        QVERIFY(!hid_open_path("sim:999:0"));
        hid_close(nullptr);
        unsigned char feature[8] = {0};
        QCOMPARE(hid_get_feature_report(handle.get(), feature, sizeof(feature)), -1);  // normal mode has none
    }
};

QTEST_GUILESS_MAIN(TstHidSimFaults)
#include "tst_hidsimfaults.moc"
