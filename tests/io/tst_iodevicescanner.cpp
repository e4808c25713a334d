#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <thread>

#include "io/iocontext.h"
#include "io/iodevicescanner.h"
#include "tests/support/simbus.h"

using HidSim::DeviceType;
using HidSim::Mode;
using Io::DeviceId;
using Io::IoDeviceInfo;
using Io::IoDeviceInfoList;
using Io::IoDeviceScanner;
using Setups = QVector<HidSim::DeviceSetup>;

namespace {

const DeviceId kReceiverA0(0x46d, 0xa90, 0xffa0, 1);
const DeviceId kReceiverA1(0x46d, 0xa90, 0xffa1, 1);
const DeviceId kPlusReceiverA0(0x46d, 0xaa8, 0xffa0, 1);
const DeviceId kHeadset(0x46d, 0xa91, 0xffc0, 1);
const DeviceId kHeadsetUpdate(0x46d, 0xa93, 0xff00, 1);
const DeviceId kKeyboard(0x1234, 0x5678, 0x1, 0x6);
const DeviceId kMouse(0x1234, 0x9abc, 0x1, 0x2);

// "vendor.product:serial:id,id" with the ids sorted, so that a record reads the same whatever the hash order.
QString describe(const IoDeviceInfo& info) {
    QStringList ids;
    for (auto it = info.paths().cbegin(); it != info.paths().cend(); ++it) {
        ids << it.key().toString();
    }
    ids.sort();
    return QStringLiteral("%1.%2:%3:%4")
        .arg(info.vendorId(), 0, 16)
        .arg(info.productId(), 0, 16)
        .arg(info.serialNumber(), ids.join(QLatin1Char(',')));
}

QStringList describe(const IoDeviceInfoList& list) {
    QStringList out;
    for (const IoDeviceInfo& info : list) {
        out << describe(info);
    }
    return out;
}

// The record as describe() gives it, followed by the path of each interface: two scans that agree on this
// handed out the same devices with the same interfaces.
QStringList describeWithPaths(const IoDeviceInfoList& list) {
    QStringList out;
    for (const IoDeviceInfo& info : list) {
        QStringList paths;
        for (auto it = info.paths().cbegin(); it != info.paths().cend(); ++it) {
            paths << it.key().toString() + QLatin1Char('=') + QString::fromUtf8(it.value());
        }
        paths.sort();
        out << describe(info) + QLatin1Char(' ') + paths.join(QLatin1Char(' '));
    }
    return out;
}

IoDeviceInfo record(quint16 vendor_id, quint16 product_id, const QString& serial,
                    const QVector<DeviceId>& ids) {
    IoDeviceInfo info(vendor_id, product_id, serial);
    for (const DeviceId& id : ids) {
        info.addPath(id, id.toString().toUtf8());
    }
    return info;
}

// A list as a scan of a receiver, a headset, a keyboard and two devices without serial number gives it.
IoDeviceInfoList sampleList() {
    return {record(0x46d, 0xa90, QStringLiteral("R-1"), {kReceiverA0, kReceiverA1}),
            record(0x46d, 0xa91, QStringLiteral("H-1"), {kHeadset}),
            record(0x1234, 0x5678, QStringLiteral("KB1"), {kKeyboard}),
            record(0x46d, 0xaa8, QString(), {kPlusReceiverA0}),
            record(0x1234, 0x9abc, QStringLiteral(""), {kMouse}),
            record(0x46d, 0xa90, QStringLiteral("r-1"), {kReceiverA0})};
}

}  // namespace

class TstIoDeviceScanner : public QObject {
    Q_OBJECT

    Io::IIoContext::Shared m_context;

private slots:
    void initTestCase() { m_context = std::make_shared<Io::IoContext>(); }
    void init() { HidSim::reset(); }

    void grouping_data() {
        QTest::addColumn<Setups>("setups");
        QTest::addColumn<QStringList>("records");
        const auto dev = [](DeviceType type, const QString& serial, Mode mode) {
            return TestSupport::device(type, serial, mode);
        };
        const auto foreign = TestSupport::foreign;
        const QString r1 = QStringLiteral("R-1");

        QTest::newRow("empty bus") << Setups{} << QStringList{};
        QTest::newRow("receiver's two interfaces in one record")
            << Setups{dev(DeviceType::SorrelReceiver, r1, Mode::Normal)}
            << QStringList{"46d.a90:R-1:46d.a90.ffa0.1,46d.a90.ffa1.1"};
        QTest::newRow("same serial under two product ids")
            << Setups{dev(DeviceType::SorrelHeadset, "S-1", Mode::Update),
                      dev(DeviceType::SorrelHeadset, "S-1", Mode::Normal)}
            << QStringList{"46d.a93:S-1:46d.a93.ff00.1", "46d.a91:S-1:46d.a91.ffc0.1"};
        QTest::newRow("one interface missing")
            << Setups{foreign(0x46d, 0xa90, 0xffa1, 1, r1)} << QStringList{"46d.a90:R-1:46d.a90.ffa1.1"};
        QTest::newRow("two identical receivers") << Setups{dev(DeviceType::SorrelReceiver, r1, Mode::Normal),
                                                           dev(DeviceType::SorrelReceiver, r1, Mode::Normal)}
                                                 << QStringList{"46d.a90:R-1:46d.a90.ffa0.1,46d.a90.ffa1.1",
                                                                "46d.a90:R-1:46d.a90.ffa0.1,46d.a90.ffa1.1"};
        QTest::newRow("same serial in two families")
            << Setups{dev(DeviceType::SorrelReceiver, r1, Mode::Normal),
                      dev(DeviceType::SorrelPlusReceiver, r1, Mode::Normal)}
            << QStringList{"46d.a90:R-1:46d.a90.ffa0.1,46d.a90.ffa1.1",
                           "46d.aa8:R-1:46d.aa8.ffa0.1,46d.aa8.ffa1.1"};
        QTest::newRow("receiver without serial number")
            << Setups{dev(DeviceType::SorrelReceiver, QString(), Mode::Normal)}
            << QStringList{"46d.a90::46d.a90.ffa0.1,46d.a90.ffa1.1"};
        QTest::newRow("empty and missing serial number are one device")
            << Setups{foreign(0x46d, 0xa90, 0xffa0, 1, QString()),
                      foreign(0x46d, 0xa90, 0xffa1, 1, QStringLiteral(""))}
            << QStringList{"46d.a90::46d.a90.ffa0.1,46d.a90.ffa1.1"};
        QTest::newRow("vendor id zero never groups")
            << Setups{foreign(0, 0x1111, 0x1, 0x6, "Z"), foreign(0, 0x1111, 0x1, 0x2, "Z")}
            << QStringList{"0.1111:Z:null", "0.1111:Z:null"};
        QTest::newRow("product id zero never groups")
            << Setups{foreign(0x1234, 0, 0x1, 0x6, "Z"), foreign(0x1234, 0, 0x1, 0x2, "Z")}
            << QStringList{"1234.0:Z:null", "1234.0:Z:null"};
        QTest::newRow("foreign devices beside a receiver")
            << Setups{foreign(0x1234, 0x5678, 0x1, 0x6, "KB1"),
                      dev(DeviceType::SorrelReceiver, r1, Mode::Normal),
                      foreign(0x1234, 0x9abc, 0x1, 0x2, "M1")}
            << QStringList{"1234.5678:KB1:1234.5678.1.6", "46d.a90:R-1:46d.a90.ffa0.1,46d.a90.ffa1.1",
                           "1234.9abc:M1:1234.9abc.1.2"};
        QTest::newRow("serial beyond ASCII")
            << Setups{foreign(0x46d, 0xa90, 0xffa0, 1, QString::fromUtf8("S\xc3\xa9-\xe2\x82\xac")),
                      foreign(0x46d, 0xa90, 0xffa1, 1, QString::fromUtf8("S\xc3\xa9-\xe2\x82\xac"))}
            << QStringList{QString::fromUtf8("46d.a90:S\xc3\xa9-\xe2\x82\xac:46d.a90.ffa0.1,46d.a90.ffa1.1")};
        QTest::newRow("serial beyond the basic plane")
            << Setups{foreign(0x46d, 0xa90, 0xffa0, 1, QString::fromUtf8("R\xf0\x9f\x98\x80")),
                      foreign(0x46d, 0xa90, 0xffa1, 1, QString::fromUtf8("R\xf0\x9f\x98\x80"))}
            << QStringList{QString::fromUtf8("46d.a90:R\xf0\x9f\x98\x80:46d.a90.ffa0.1,46d.a90.ffa1.1")};
        QTest::newRow("serial numbers differ only in case")
            << Setups{foreign(0x46d, 0xa90, 0xffa0, 1, "r-1"), foreign(0x46d, 0xa90, 0xffa1, 1, "R-1")}
            << QStringList{"46d.a90:r-1:46d.a90.ffa0.1", "46d.a90:R-1:46d.a90.ffa1.1"};
    }
    void grouping() {
        QFETCH(Setups, setups);
        QFETCH(QStringList, records);
        QVector<int> plugged;
        for (const HidSim::DeviceSetup& setup : setups) {
            plugged << HidSim::plug(setup);
            QVERIFY(plugged.last() > 0);
        }
        IoDeviceScanner scanner(m_context);
        const IoDeviceInfoList list = scanner.scan();
        // Records come in the order in which their first interface was enumerated.
        QCOMPARE(describe(list), records);

        // Every path is one that the bus enumerated for that very interface.
        QSet<QByteArray> paths;
        for (const int id : plugged) {
            for (const HidSim::Interface& i : HidSim::device(id).interfaces) {
                paths.insert(i.path.toUtf8());
            }
        }
        int count = 0;
        for (const IoDeviceInfo& info : list) {
            for (auto it = info.paths().cbegin(); it != info.paths().cend(); ++it) {
                QVERIFY(paths.contains(it.value()));
                ++count;
            }
        }
        QCOMPARE(count, paths.size());
    }

    void identicalDevicesKeepTheirOwnPaths() {
        const int first = HidSim::plug(TestSupport::device(DeviceType::SorrelReceiver, "R-1"));
        const int second = HidSim::plug(TestSupport::device(DeviceType::SorrelReceiver, "R-1"));
        IoDeviceScanner scanner(m_context);
        const IoDeviceInfoList list = scanner.scan();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).path(kReceiverA0), TestSupport::pathOf(first, 0xffa0));
        QCOMPARE(list.at(0).path(kReceiverA1), TestSupport::pathOf(first, 0xffa1));
        QCOMPARE(list.at(1).path(kReceiverA0), TestSupport::pathOf(second, 0xffa0));
        QCOMPARE(list.at(1).path(kReceiverA1), TestSupport::pathOf(second, 0xffa1));
    }

    // A scan handed an earlier result shares what has not changed since; whatever changed, it must read
    // exactly as a scan without one.
    void rescanMatchesAFreshScan_data() {
        QTest::addColumn<Setups>("first");
        QTest::addColumn<int>("unplugged");  // index into first, unplugged after the first scan; -1: none
        QTest::addColumn<Setups>("then");    // plugged after the first scan
        const auto dev = [](DeviceType type, const QString& serial, Mode mode) {
            return TestSupport::device(type, serial, mode);
        };
        const auto foreign = TestSupport::foreign;
        const Setups crowd{foreign(0x1234, 0x5678, 0x1, 0x6, "KB1"),
                           dev(DeviceType::SorrelReceiver, "R-1", Mode::Normal),
                           foreign(0x1234, 0x9abc, 0x1, 0x2, "M1")};

        QTest::newRow("unchanged") << crowd << -1 << Setups{};
        QTest::newRow("device gone from the front") << crowd << 0 << Setups{};
        QTest::newRow("device gone from the middle") << crowd << 1 << Setups{};
        QTest::newRow("device back at the end") << crowd << 1 << Setups{crowd.at(1)};
        QTest::newRow("same device back under new paths") << crowd.mid(1, 1) << 0 << Setups{crowd.at(1)};
        QTest::newRow("interface joins a device") << Setups{foreign(0x46d, 0xa90, 0xffa0, 1, "R-1")} << -1
                                                  << Setups{foreign(0x46d, 0xa90, 0xffa1, 1, "R-1")};
        QTest::newRow("second device with the same serial") << crowd << -1 << Setups{crowd.at(1)};
        QTest::newRow("everything gone") << crowd.mid(1, 1) << 0 << Setups{};
    }
    void rescanMatchesAFreshScan() {
        QFETCH(Setups, first);
        QFETCH(int, unplugged);
        QFETCH(Setups, then);
        QVector<int> plugged;
        for (const HidSim::DeviceSetup& setup : first) {
            plugged << HidSim::plug(setup);
        }
        IoDeviceScanner scanner(m_context);
        const IoDeviceInfoList before = scanner.scan();
        const QStringList beforeText = describeWithPaths(before);
        if (unplugged >= 0) {
            QVERIFY(HidSim::unplug(plugged.at(unplugged)));
        }
        for (const HidSim::DeviceSetup& setup : then) {
            QVERIFY(HidSim::plug(setup) > 0);
        }

        IoDeviceInfoList again = scanner.scan(before);
        IoDeviceScanner fresh(m_context);
        QCOMPARE(describeWithPaths(again), describeWithPaths(fresh.scan()));
        QCOMPARE(describeWithPaths(before), beforeText);

        // What a caller does to its copy stays with it.
        if (!again.isEmpty()) {
            const DeviceId extra(again.at(0).vendorId(), again.at(0).productId(), 0xfff0, 1);
            QVERIFY(again[0].addPath(extra, "added"));
            QVERIFY(scanner.scan(before).at(0).path(extra).isEmpty());
        }
    }

    void scanFollowsTheBus() {
        IoDeviceScanner scanner(m_context);
        const int receiver = HidSim::plug(TestSupport::device(DeviceType::SorrelReceiver, "R-1"));
        QCOMPARE(scanner.scan().size(), 1);
        QVERIFY(HidSim::unplug(receiver));
        QVERIFY(scanner.scan().isEmpty());
    }

    void scanReleasesTheLock() {
        IoDeviceScanner scanner(m_context);
        for (const bool withDevice : {false, true}) {
            if (withDevice) {
                HidSim::plug(TestSupport::device(DeviceType::SorrelReceiver, "R-1"));
            }
            (void)scanner.scan();
            bool free = false;
            std::thread([&] { free = m_context->tryLock() != nullptr; }).join();
            QVERIFY(free);
        }
    }

    void scanOnTheThreadThatHoldsTheLock() {
        HidSim::plug(TestSupport::device(DeviceType::SorrelReceiver, "R-1"));
        IoDeviceScanner scanner(m_context);
        const auto held = m_context->lock();
        QCOMPARE(scanner.scan().size(), 1);
    }

    // Ids key every device's paths, so their hash must stay the string hash of the text form.
    void idHashIsTheTextHash_data() {
        QTest::addColumn<DeviceId>("id");
        QTest::newRow("receiver") << kReceiverA0;
        QTest::newRow("usage zero") << DeviceId(0x46d, 0xa92, 0, 0);
        QTest::newRow("all digits") << DeviceId(0xffff, 0x1000, 0x0f0f, 0x10);
        QTest::newRow("vendor zero") << DeviceId(0, 0xa90, 0xffa0, 1);
        QTest::newRow("default") << DeviceId();
    }
    void idHashIsTheTextHash() {
        QFETCH(DeviceId, id);
        for (const uint seed : {0u, 1u, 0x9e3779b9u}) {
            QCOMPARE(qHash(id, seed), qHash(id.toString(), seed));
        }
    }

    void filterByIds_data() {
        QTest::addColumn<QVector<DeviceId>>("ids");
        QTest::addColumn<QStringList>("serials");
        QTest::newRow("either receiver family")
            << QVector<DeviceId>{kReceiverA0, kPlusReceiverA0} << QStringList{"R-1", "", "r-1"};
        QTest::newRow("second interface only") << QVector<DeviceId>{kReceiverA1} << QStringList{"R-1"};
        QTest::newRow("ids nobody has")
            << QVector<DeviceId>{kHeadsetUpdate, DeviceId(0x46d, 0xa90, 0xffa0, 2)} << QStringList{};
        QTest::newRow("no ids") << QVector<DeviceId>{} << QStringList{};
        QTest::newRow("invalid id") << QVector<DeviceId>{DeviceId()} << QStringList{};
        QTest::newRow("order of the list, not of the ids")
            << QVector<DeviceId>{kKeyboard, kHeadset, kReceiverA1} << QStringList{"R-1", "H-1", "KB1"};
    }
    void filterByIds() {
        QFETCH(QVector<DeviceId>, ids);
        QFETCH(QStringList, serials);
        QStringList kept;
        for (const IoDeviceInfo& info : IoDeviceScanner::filterByIds(sampleList(), ids)) {
            kept << info.serialNumber();
        }
        QCOMPARE(kept, serials);
    }

    void filterBySerialNumber_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QStringList>("records");
        QTest::newRow("exact") << "R-1" << QStringList{"46d.a90:R-1:46d.a90.ffa0.1,46d.a90.ffa1.1"};
        QTest::newRow("other case") << "r-1" << QStringList{"46d.a90:r-1:46d.a90.ffa0.1"};
        QTest::newRow("empty keeps those without one")
            << "" << QStringList{"46d.aa8::46d.aa8.ffa0.1", "1234.9abc::1234.9abc.1.2"};
        QTest::newRow("prefix is not enough") << "R-" << QStringList{};
        QTest::newRow("no such serial") << "X" << QStringList{};
    }
    void filterBySerialNumber() {
        QFETCH(QString, serial);
        QFETCH(QStringList, records);
        QCOMPARE(describe(IoDeviceScanner::filterBySerialNumber(sampleList(), serial)), records);
    }

    void filterKeepsCopies() {
        const IoDeviceInfoList list = sampleList();
        IoDeviceInfoList kept =
            IoDeviceScanner::filter(list, [](const IoDeviceInfo& info) { return info.vendorId() == 0x46d; });
        QCOMPARE(kept.size(), 4);
        QVERIFY(kept[0].addPath(DeviceId(0x46d, 0xa90, 0xffa2, 1), "new"));
        QVERIFY(list.at(0).path(DeviceId(0x46d, 0xa90, 0xffa2, 1)).isEmpty());
        QVERIFY(IoDeviceScanner::filter(list, [](const IoDeviceInfo&) { return false; }).isEmpty());
        QCOMPARE(IoDeviceScanner::filter(list, [](const IoDeviceInfo&) { return true; }).size(), list.size());
        // A missing predicate keeps nothing rather than throwing.
        QVERIFY(IoDeviceScanner::filter(list, IoDeviceScanner::Predicate()).isEmpty());
    }

    void onlySignalAndNoPeriodicScan() {
        HidSim::plug(TestSupport::device(DeviceType::SorrelReceiver, "R-1"));
        IoDeviceScanner::Shared scanner = std::make_shared<IoDeviceScanner>(m_context);
        QCOMPARE(scanner->metaObject()->className(), "Io::IoDeviceScanner");
        const QMetaObject* meta = scanner->metaObject();
        QCOMPARE(meta->methodCount() - meta->methodOffset(), 1);
        QCOMPARE(meta->method(meta->methodOffset()).name(), QByteArray("detected"));
        QVERIFY(dynamic_cast<Utils::SmartType<IoDeviceScanner>*>(scanner.get()) != nullptr);
        QCOMPARE(scanner->shared_from_this(), scanner);
        QSignalSpy spy(scanner.get(), &IoDeviceScanner::detected);
        (void)scanner->scan();
        QTest::qWait(50);
        QCOMPARE(spy.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TstIoDeviceScanner)
#include "tst_iodevicescanner.moc"
