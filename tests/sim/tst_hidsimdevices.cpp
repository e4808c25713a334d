#include <QtTest>

#include "sim/hidsim.h"
#include "tests/sim/simtestutil.h"

using namespace SimTest;
using HidSim::DeviceType;
using HidSim::Mode;

Q_DECLARE_METATYPE(HidSim::DeviceType)

// The device models as the program sees them through hidapi: identities, report answers, mode changes.
class TstHidSimDevices : public QObject {
    Q_OBJECT

private slots:
    void init() {
        HidSim::reset();
        HidSim::setTimings(fastTimings());
    }

    void interfaces_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<bool>("update");
        QTest::addColumn<QStringList>("identities");
        QTest::newRow("sorrel headset")
            << DeviceType::SorrelHeadset << false << QStringList{"46d.a91.ffc0.1"};
        QTest::newRow("sorrel receiver")
            << DeviceType::SorrelReceiver << false << QStringList{"46d.a90.ffa0.1", "46d.a90.ffa1.1"};
        QTest::newRow("sorrelplus headset")
            << DeviceType::SorrelPlusHeadset << false << QStringList{"46d.aab.ffc0.1"};
        QTest::newRow("sorrelplus receiver")
            << DeviceType::SorrelPlusReceiver << false << QStringList{"46d.aa8.ffa0.1", "46d.aa8.ffa1.1"};
        QTest::newRow("sorrel headset update")
            << DeviceType::SorrelHeadset << true << QStringList{"46d.a93.ff00.1"};
        QTest::newRow("sorrel receiver update")
            << DeviceType::SorrelReceiver << true << QStringList{"46d.a92.ff00.1"};
        QTest::newRow("sorrelplus headset update")
            << DeviceType::SorrelPlusHeadset << true << QStringList{"46d.aac.ff00.1"};
        QTest::newRow("sorrelplus receiver update")
            << DeviceType::SorrelPlusReceiver << true << QStringList{"46d.aa9.ff00.1"};
    }
    void interfaces() {
        QFETCH(DeviceType, type);
        QFETCH(bool, update);
        QFETCH(QStringList, identities);
        HidSim::DeviceSetup s = setup(type, "S-1");
        s.mode = update ? Mode::Update : Mode::Normal;
        HidSim::plug(s);
        QStringList seen;
        QSet<QString> paths;
        for (const Found& f : enumerateAll()) {
            QCOMPARE(f.serial, QString("S-1"));
            seen << QString("%1.%2.%3.%4")
                        .arg(f.vendorId, 0, 16)
                        .arg(f.productId, 0, 16)
                        .arg(f.usagePage, 0, 16)
                        .arg(f.usage, 0, 16);
            paths.insert(f.path);
        }
        QCOMPARE(seen, identities);
        QCOMPARE(paths.size(), identities.size());
        QCOMPARE(enumerateAll(0x046d, 0).size(), identities.size());
        QCOMPARE(enumerateAll(0x1234, 0).size(), 0);
    }

    void replies_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("revision");
        QTest::addColumn<int>("usagePage");
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<int>("readLength");
        QTest::addColumn<QByteArray>("reply");

        const QList<QByteArray> receiverVersion{bytes({2, 1, 0}), bytes({2, 0, 0x80})};
        QTest::newRow("headset version 1.46")
            << DeviceType::SorrelHeadset << "1.46.0" << 0 << 0xffc0 << QList<QByteArray>{bytes({0, 1, 0})}
            << 7 << bytes({0x01, 0, 0, 0x01, 0x46, 0x00, 0});
        QTest::newRow("headset version with build")
            << DeviceType::SorrelPlusHeadset << "2.10.0-9" << 0 << 0xffc0
            << QList<QByteArray>{bytes({0, 1, 0})} << 7 << bytes({0x01, 0, 0, 0x02, 0x10, 0x09, 0});
        QTest::newRow("receiver version 46.1 build 9")
            << DeviceType::SorrelReceiver << "46.1.0-9" << 0 << 0xffa0 << receiverVersion << 4
            << bytes({0x02, 0x46, 0x01, 0x09});
        QTest::newRow("receiver version 99.99 build 99")
            << DeviceType::SorrelPlusReceiver << "99.99.0-99" << 0 << 0xffa0 << receiverVersion << 4
            << bytes({0x02, 0x99, 0x99, 0x99});
        QTest::newRow("headset revision 3") << DeviceType::SorrelHeadset << "1.44.0" << 3 << 0xffc0
                                            << QList<QByteArray>{bytes({0, 0xf1, 3, 0, 2, 0x0f})} << 13
                                            << bytes({0xf1, 3, 0, 2, 0x0f, 0, 3, 0, 0, 0, 0, 0, 0});
        QTest::newRow("headset revision 255 is not bcd")
            << DeviceType::SorrelHeadset << "1.44.0" << 255 << 0xffc0
            << QList<QByteArray>{bytes({0, 0xf1, 3, 0, 2, 0x0f})} << 13
            << bytes({0xf1, 3, 0, 2, 0x0f, 0, 0xff, 0, 0, 0, 0, 0, 0});
        QTest::newRow("short read buffer truncates")
            << DeviceType::SorrelHeadset << "1.46.0" << 0 << 0xffc0 << QList<QByteArray>{bytes({0, 1, 0})}
            << 4 << bytes({0x01, 0, 0, 0x01});
        QTest::newRow("padded report still understood")
            << DeviceType::SorrelHeadset << "1.46.0" << 0 << 0xffc0
            << QList<QByteArray>{bytes({0, 1, 0, 0, 0, 0, 0, 0})} << 7
            << bytes({0x01, 0, 0, 0x01, 0x46, 0x00, 0});
        QTest::newRow("receiver first query alone has no reply")
            << DeviceType::SorrelReceiver << "1.45.0" << 0 << 0xffa0 << QList<QByteArray>{bytes({2, 1, 0})}
            << 4 << QByteArray();
        QTest::newRow("headset query on receiver unanswered")
            << DeviceType::SorrelReceiver << "1.45.0" << 0 << 0xffa0 << QList<QByteArray>{bytes({0, 1, 0})}
            << 7 << QByteArray();
        QTest::newRow("receiver second interface does not answer versions")
            << DeviceType::SorrelReceiver << "1.45.0" << 0 << 0xffa1 << receiverVersion << 4 << QByteArray();
        QTest::newRow("unknown report unanswered")
            << DeviceType::SorrelHeadset << "1.45.0" << 0 << 0xffc0 << QList<QByteArray>{bytes({0, 0x55})}
            << 7 << QByteArray();
    }
    void replies() {
        QFETCH(DeviceType, type);
        QFETCH(QString, firmware);
        QFETCH(int, revision);
        QFETCH(int, usagePage);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(int, readLength);
        QFETCH(QByteArray, reply);
        HidSim::plug(setup(type, "D-1", firmware, revision));
        Handle handle = open("D-1", quint16(usagePage));
        QVERIFY(handle);
        for (const QByteArray& report : writes)
            QCOMPARE(write(handle.get(), report), report.size());
        int result = 0;
        const QByteArray got = read(handle.get(), readLength, reply.isEmpty() ? 50 : 1000, &result);
        QCOMPARE(got.toHex(' '), reply.toHex(' '));
        QCOMPARE(result, reply.size());
    }

    // A reply goes to the handles open when it is sent, as hidraw does; a late opener never sees it.
    void replyReachesOnlyOpenHandles() {
        HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1", "1.46.0"));
        Handle first = open("H-1", 0xffc0);
        Handle second = open("H-1", 0xffc0);
        QCOMPARE(write(first.get(), bytes({0, 1, 0})), 3);
        Handle late = open("H-1", 0xffc0);
        QCOMPARE(read(first.get(), 7, 1000).size(), 7);
        QCOMPARE(read(second.get(), 7, 1000).size(), 7);
        int result = 1;
        read(late.get(), 7, 20, &result);
        QCOMPARE(result, 0);
    }

    void repair_data() {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("pollsBefore");
        QTest::newRow("paired at once") << 0x40 << 0;
        QTest::newRow("paired after three polls") << 0x40 << 3;
        QTest::newRow("failed 08 after one poll") << 0x08 << 1;
        QTest::newRow("failed 20 after two polls") << 0x20 << 2;
        QTest::newRow("never ends") << -1 << 0;
    }
    void repair() {
        QFETCH(int, outcome);
        QFETCH(int, pollsBefore);
        HidSim::DeviceSetup s = setup(DeviceType::SorrelReceiver, "R-1");
        s.repair.outcome = outcome;
        s.repair.pollsBefore = pollsBefore;
        const int id = HidSim::plug(s);
        Handle handle = open("R-1", 0xffa0);
        QVERIFY(handle);

        QCOMPARE(write(handle.get(), bytes({2, 0x80, 0})), 3);
        QCOMPARE(read(handle.get(), 3, 1000), bytes({2, 0x80, 0x00}));  // idle before pairing starts

        QCOMPARE(write(handle.get(), bytes({2, 1, 0})), 3);
        QCOMPARE(write(handle.get(), bytes({2, 8, 0})), 3);
        QVERIFY(HidSim::device(id).pairing);
        const int polls = pollsBefore + 3;
        QList<int> statuses;
        for (int i = 0; i < polls; ++i) {
            QCOMPARE(write(handle.get(), bytes({2, 0x80, 0})), 3);
            const QByteArray reply = read(handle.get(), 3, 1000);
            QCOMPARE(reply.size(), 3);
            statuses << quint8(reply[2]);
        }
        for (int i = 0; i < polls; ++i) {
            const int expected = (outcome < 0 || i < pollsBefore) ? 0x10 : outcome;
            QCOMPARE(statuses[i], expected);
        }

        Handle second = open("R-1", 0xffa1);
        QCOMPARE(write(second.get(), bytes({3, 0xce, 2, 0x22, 0})), 5);
        const HidSim::DeviceState state = HidSim::device(id);
        QCOMPARE(state.repairStartCount, 1);
        QCOMPARE(state.repairPollCount, polls + 1);
        QCOMPARE(state.repairEndCount, 1);
        QVERIFY(!state.pairing);
    }

    // Pairing starts only when the "01" report comes right before "08", as the program sends them.
    void repairNeedsItsFirstReport() {
        const int id = HidSim::plug(setup(DeviceType::SorrelReceiver, "R-1"));
        Handle handle = open("R-1", 0xffa0);
        QCOMPARE(write(handle.get(), bytes({2, 8, 0})), 3);
        QVERIFY(!HidSim::device(id).pairing);
        QCOMPARE(write(handle.get(), bytes({2, 1, 0})), 3);
        QCOMPARE(write(handle.get(), bytes({2, 0, 0x80})), 3);
        QCOMPARE(write(handle.get(), bytes({2, 8, 0})), 3);
        QVERIFY(!HidSim::device(id).pairing);
    }

    void enterUpdate_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<int>("usagePage");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("updateProductId");
        QTest::newRow("sorrel headset")
            << DeviceType::SorrelHeadset << 0xffc0 << bytes({0, 0xce, 2, 2, 0}) << 0x0a93;
        QTest::newRow("sorrel receiver")
            << DeviceType::SorrelReceiver << 0xffa0 << bytes({2, 2, 0}) << 0x0a92;
        QTest::newRow("sorrelplus headset")
            << DeviceType::SorrelPlusHeadset << 0xffc0 << bytes({0, 0xce, 2, 2, 0}) << 0x0aac;
        QTest::newRow("sorrelplus receiver")
            << DeviceType::SorrelPlusReceiver << 0xffa0 << bytes({2, 2, 0}) << 0x0aa9;
    }
    void enterUpdate() {
        QFETCH(DeviceType, type);
        QFETCH(int, usagePage);
        QFETCH(QByteArray, command);
        QFETCH(int, updateProductId);
        HidSim::Timings t = fastTimings();
        t.reenumerateMs = 150;
        HidSim::setTimings(t);
        const int id = HidSim::plug(setup(type, "SN-42"));
        Handle handle = open("SN-42", quint16(usagePage));
        QVERIFY(handle);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(write(handle.get(), command), command.size());

        // Gone at once, and the handle the command went through is dead.
        QVERIFY(enumerateAll().isEmpty());
        int result = 0;
        read(handle.get(), 7, 100, &result);
        QCOMPARE(result, -1);
        QCOMPARE(write(handle.get(), bytes({0, 1, 0})), -1);

        QVERIFY(waitFor([] { return !enumerateAll().isEmpty(); }));
        QVERIFY2(timer.elapsed() >= 140, qPrintable(QString::number(timer.elapsed())));
        const QVector<Found> found = enumerateAll();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].serial, QString("SN-42"));
        QCOMPARE(found[0].vendorId, quint16(0x046d));
        QCOMPARE(found[0].productId, quint16(updateProductId));
        QCOMPARE(found[0].usagePage, quint16(0xff00));
        QCOMPARE(found[0].usage, quint16(1));
        QCOMPARE(HidSim::device(id).enterUpdateCount, 1);
        QCOMPARE(HidSim::device(id).mode, Mode::Update);
    }

    // With a leave delay the device is still there (and still answering) until it goes.
    void enterUpdateLeaveDelay() {
        HidSim::Timings t = fastTimings();
        t.leaveMs = 100;
        t.reenumerateMs = 100;
        HidSim::setTimings(t);
        HidSim::plug(setup(DeviceType::SorrelReceiver, "R-9"));
        Handle handle = open("R-9", 0xffa0);
        QCOMPARE(write(handle.get(), bytes({2, 2, 0})), 3);
        QCOMPARE(enumerateAll().size(), 2);
        QVERIFY(waitFor([] { return enumerateAll().isEmpty(); }, 2000));
        QVERIFY(waitFor([] { return enumerateAll().size() == 1; }, 2000));
        QCOMPARE(enumerateAll()[0].productId, quint16(0x0a92));
    }

    void postUpdate() {
        const int id = HidSim::plug(setup(DeviceType::SorrelHeadset, "H-3"));
        Handle handle = open("H-3", 0xffc0);
        QCOMPARE(write(handle.get(), bytes({0, 0xce, 2, 0x2d, 0})), 5);
        QCOMPARE(write(handle.get(), bytes({0, 0xce, 2, 0x2d, 0})), 5);
        QCOMPARE(HidSim::device(id).postUpdateCount, 2);
        QCOMPARE(HidSim::device(id).mode, Mode::Normal);
        QCOMPARE(enumerateAll().size(), 1);
    }

    void stringsAndInfo() {
        HidSim::DeviceSetup s = setup(DeviceType::SorrelPlusReceiver, "RX-7");
        s.product = "Bench Receiver";
        HidSim::plug(s);
        Handle handle = open("RX-7", 0xffa1);
        QVERIFY(handle);
        wchar_t text[64];
        QCOMPARE(hid_get_serial_number_string(handle.get(), text, 64), 0);
        QCOMPARE(QString::fromWCharArray(text), QString("RX-7"));
        QCOMPARE(hid_get_product_string(handle.get(), text, 64), 0);
        QCOMPARE(QString::fromWCharArray(text), QString("Bench Receiver"));
        QCOMPARE(hid_get_serial_number_string(handle.get(), text, 3), 0);
        QCOMPARE(QString::fromWCharArray(text), QString("RX"));  // cut to the buffer, still terminated
        QCOMPARE(hid_get_manufacturer_string(handle.get(), text, 64), 0);
        QVERIFY(wcslen(text) > 0);
        const hid_device_info* info = hid_get_device_info(handle.get());
        QVERIFY(info);
        QCOMPARE(info->usage_page, quint16(0xffa1));
        QCOMPARE(info->product_id, quint16(0x0aa8));
        QCOMPARE(hid_get_indexed_string(handle.get(), 1, text, 64), -1);
        QVERIFY(hid_error(handle.get()) != nullptr);
        QCOMPARE(hid_version()->minor, 13);
        QCOMPARE(QString(hid_version_str()), QString("0.13.1"));
    }

    void openByIds() {
        HidSim::plug(setup(DeviceType::SorrelHeadset, "A"));
        HidSim::plug(setup(DeviceType::SorrelHeadset, "B"));
        Handle any(hid_open(0x046d, 0x0a91, nullptr));
        QVERIFY(any);
        Handle second(hid_open(0x046d, 0x0a91, L"B"));
        QVERIFY(second);
        wchar_t text[8];
        QCOMPARE(hid_get_serial_number_string(second.get(), text, 8), 0);
        QCOMPARE(QString::fromWCharArray(text), QString("B"));
        Handle anyProduct(hid_open(0x046d, 0, L"B"));  // zero is a wildcard, as in hidapi
        QVERIFY(anyProduct);
        QCOMPARE(hid_get_serial_number_string(anyProduct.get(), text, 8), 0);
        QCOMPARE(QString::fromWCharArray(text), QString("B"));
        Handle none(hid_open(0x046d, 0x0a91, L"C"));
        QVERIFY(!none);
        QVERIFY(hid_error(nullptr) != nullptr);
    }
};

QTEST_GUILESS_MAIN(TstHidSimDevices)
#include "tst_hidsimdevices.moc"
