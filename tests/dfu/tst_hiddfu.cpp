#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>

#include "hiddfu/hiddfu.h"
#include "sim/dfufaults.h"
#include "sim/hidsim.h"
#include "tests/support/files.h"
#include "tests/support/simbus.h"
#include "tools/dfuimage/imagebuilder.h"

using HidSim::DeviceType;
using HidSim::DfuFaults;
using HidSim::Mode;
using TestSupport::readFile;
using TestSupport::waitFor;

Q_DECLARE_METATYPE(DfuFaults)
Q_DECLARE_METATYPE(HidSim::Faults)
Q_DECLARE_METATYPE(DeviceType)

namespace {

constexpr quint16 kVendor = 0x046d;
constexpr quint16 kReceiverUpdate = 0x0a92;
constexpr quint16 kHeadsetUpdate = 0x0a93;
constexpr quint16 kUpdatePage = 0xff00;
const char* const kReceiverImage = ":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu";
const char* const kHeadsetImage = ":/firmware/46d.a93.ff00.1/Sorrel_Headset_T1.46.0.dfu";

int plug(DeviceType type, const QString& serial, Mode mode = Mode::Update) {
    return HidSim::plug(TestSupport::device(type, serial, QStringLiteral("1.45.0"), 0, mode));
}

int connectTo(quint16 product, uint16_t* count = nullptr) {
    uint16_t local = 0;
    return hidDfuConnect(kVendor, product, 1, kUpdatePage, count ? count : &local);
}

// Report writes to update-mode interfaces, optionally only those starting with a command byte.
int updateWrites(int command = -1) {
    return TestSupport::count({HidSim::TrafficKind::Write}, {}, kUpdatePage,
                              command >= 0 ? QByteArray(1, '\0') + char(command) : QByteArray());
}

struct Run {
    int lastProgress = 0;
    int maxProgress = 0;
    bool monotonic = true;
    // Each time 100 was read: had the device been asked to verify, and had it kept the image?
    bool hundredBeforeVerify = false;
    int result = 0;
};

// Polls as the program does, only faster, until the transfer ends either way.
Run follow(int deviceId, int timeoutMs) {
    Run run;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const int p = hidDfuGetProgress();
        run.result = hidDfuGetResult();
        if (p < run.lastProgress)
            run.monotonic = false;
        run.lastProgress = p;
        run.maxProgress = std::max(run.maxProgress, p);
        if (p == 100 && (updateWrites(0x03) == 0 || HidSim::dfuFlashedImage(deviceId).isEmpty()))
            run.hundredBeforeVerify = true;
        if (p == 100 || run.result != 0)
            break;
        QThread::msleep(1);
    }
    return run;
}

}  // namespace

class TstHidDfu : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString stage(const QByteArray& bytes, const QString& name = "image.dfu") {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return QString();
        return path;
    }

    static void fastLink() { HidSim::setTimings(TestSupport::fastBusTimings()); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(kReceiverImage));
    }

    void init() {
        HidSim::reset();
        HidSim::clearDfuFaults();
        HidSim::setTrafficLimit(200000);
        fastLink();
    }

    void cleanup() { QCOMPARE(hidDfuDisconnect(), 0); }

    void connectCounts_data() {
        QTest::addColumn<QVector<int>>("devices");  // DeviceType, mode 0 normal / 1 update, in pairs
        QTest::addColumn<int>("count");
        const int receiver = int(DeviceType::SorrelReceiver);
        const int headset = int(DeviceType::SorrelHeadset);
        QTest::newRow("none") << QVector<int>{} << 0;
        QTest::newRow("one receiver in update mode") << QVector<int>{receiver, 1} << 1;
        QTest::newRow("two receivers in update mode") << QVector<int>{receiver, 1, receiver, 1} << 2;
        QTest::newRow("receiver in normal mode") << QVector<int>{receiver, 0} << 0;
        QTest::newRow("only a headset in update mode") << QVector<int>{headset, 1} << 0;
        QTest::newRow("one of each in update mode") << QVector<int>{headset, 1, receiver, 1} << 1;
        QTest::newRow("second receiver in normal mode") << QVector<int>{receiver, 0, receiver, 1} << 1;
    }
    void connectCounts() {
        QFETCH(QVector<int>, devices);
        QFETCH(int, count);
        for (int i = 0; i < devices.size(); i += 2)
            plug(DeviceType(devices[i]), QString("S-%1").arg(i),
                 devices[i + 1] ? Mode::Update : Mode::Normal);
        uint16_t found = 0xffff;
        const int result = connectTo(kReceiverUpdate, &found);
        QCOMPARE(int(found), count);
        QCOMPARE(result == 0, count == 1);
        // A refused connection leaves nothing to flash.
        if (count != 1)
            QVERIFY(hidDfuUpgrade(qPrintable(stage(readFile(kReceiverImage))), 0) != 0);
    }

    void connectIgnoresOtherInterfaces() {
        HidSim::DeviceSetup foreign;
        foreign.vendorId = kVendor;
        foreign.productId = kReceiverUpdate;
        foreign.usagePage = 0xffa0;
        foreign.usage = 1;
        foreign.serial = "F-1";
        HidSim::plug(foreign);
        uint16_t found = 0xffff;
        QVERIFY(connectTo(kReceiverUpdate, &found) != 0);
        QCOMPARE(int(found), 0);
        plug(DeviceType::SorrelReceiver, "R-1");
        QCOMPARE(connectTo(kReceiverUpdate, &found), 0);
        QCOMPARE(int(found), 1);
    }

    void callsWithoutConnection() {
        plug(DeviceType::SorrelReceiver, "R-1");
        const QString image = stage(readFile(kReceiverImage));
        QVERIFY(hidDfuUpgrade(qPrintable(image), 0) != 0);
        QVERIFY(hidDfuResetDevice() != 0);
        QVERIFY(hidDfuBackup(qPrintable(m_dir.filePath("backup.dfu")), 0) != 0);
        QVERIFY(hidDfuUpgrade(nullptr, 0) != 0);
        QCOMPARE(updateWrites(), 0);
    }

    // Nothing of a bad image may reach the device, not even the start of a transfer.
    void refusedImages_data() {
        QTest::addColumn<QByteArray>("image");
        const QByteArray good = readFile(kReceiverImage);
        QByteArray payloadFlipped = good;
        payloadFlipped[1000] = char(payloadFlipped[1000] ^ 0x04);
        QByteArray crcFlipped = good;
        crcFlipped[crcFlipped.size() - 2] = char(crcFlipped[crcFlipped.size() - 2] ^ 0x01);
        auto built = [](quint16 vendor, quint16 product) {
            HidDfu::ImageBuilder builder;
            builder.vendorId = vendor;
            builder.productId = product;
            builder.bcdDevice = 0x0146;
            const std::vector<std::uint8_t> bytes = builder.build(20000);
            return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
        };
        QTest::newRow("payload byte flipped") << payloadFlipped;
        QTest::newRow("crc byte flipped") << crcFlipped;
        QTest::newRow("truncated") << good.left(good.size() / 2);
        QTest::newRow("last byte missing") << good.left(good.size() - 1);
        QTest::newRow("no suffix") << good.left(good.size() - 16);
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("suffix alone") << good.right(16);
        QTest::newRow("headset image") << readFile(kHeadsetImage);
        QTest::newRow("foreign vendor") << built(0x1234, kReceiverUpdate);
        QTest::newRow("foreign product") << built(kVendor, 0x0aa9);
    }
    void refusedImages() {
        QFETCH(QByteArray, image);
        const int id = plug(DeviceType::SorrelReceiver, "R-1");
        QCOMPARE(connectTo(kReceiverUpdate), 0);
        QVERIFY(hidDfuUpgrade(qPrintable(stage(image)), 0) != 0);
        QVERIFY(hidDfuUpgrade(qPrintable(m_dir.filePath("missing.dfu")), 0) != 0);
        QThread::msleep(20);
        QCOMPARE(updateWrites(), 0);
        QCOMPARE(hidDfuGetProgress(), 0);
        QVERIFY(HidSim::dfuFlashedImage(id).isEmpty());
        // The connection is still good for a sound image.
        QCOMPARE(hidDfuUpgrade(qPrintable(stage(readFile(kReceiverImage), "good.dfu")), 0), 0);
        QCOMPARE(follow(id, 10000).lastProgress, 100);
    }

    void fullFlash_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<quint16>("product");
        QTest::addColumn<QString>("resource");
        QTest::addColumn<int>("ackLatencyMs");
        QTest::newRow("receiver") << DeviceType::SorrelReceiver << kReceiverUpdate << QString(kReceiverImage)
                                  << 0;
        QTest::newRow("headset") << DeviceType::SorrelHeadset << kHeadsetUpdate << QString(kHeadsetImage)
                                 << 0;
        QTest::newRow("headset, late acknowledgements")
            << DeviceType::SorrelHeadset << kHeadsetUpdate << QString(kHeadsetImage) << 15;
    }
    void fullFlash() {
        QFETCH(DeviceType, type);
        QFETCH(quint16, product);
        QFETCH(QString, resource);
        QFETCH(int, ackLatencyMs);
        const QByteArray image = readFile(resource);
        const int id = plug(type, "D-7");
        HidSim::Link link;
        link.ackLatencyMs = ackLatencyMs;
        link.ackJitterMs = ackLatencyMs / 2;
        QVERIFY(HidSim::setLink(id, link));
        QCOMPARE(connectTo(product), 0);
        QCOMPARE(hidDfuUpgrade(qPrintable(stage(image)), 0), 0);
        const Run run = follow(id, 20000);
        QCOMPARE(run.result, 0);
        QCOMPARE(run.lastProgress, 100);
        QVERIFY(run.monotonic);
        QVERIFY2(!run.hundredBeforeVerify, "100 was reported before the device verified the image");
        QCOMPARE(HidSim::dfuFlashedImage(id), image);

        // The link is used well: data reports carry 63 bytes, plus one command per 128 of them and a few
        // more for start and verify.
        const int dataReports = (image.size() + 62) / 63;
        QVERIFY2(updateWrites() <= dataReports + dataReports / 128 + 4,
                 qPrintable(QString::number(updateWrites())));

        // Blocks in flight, from the log: never more than the window, all acknowledged before Verify, and
        // with late acknowledgements the window fills.
        int inFlight = 0;
        int mostInFlight = 0;
        int inFlightAtVerify = -1;
        HidSim::TrafficFilter onUpdatePage;
        onUpdatePage.usagePage = kUpdatePage;
        for (const HidSim::TrafficEntry& entry : HidSim::traffic(onUpdatePage)) {
            const QByteArray& b = entry.bytes;
            if (entry.kind == HidSim::TrafficKind::Write && b.startsWith(QByteArray("\0\x02", 2)))
                mostInFlight = std::max(mostInFlight, ++inFlight);
            else if (entry.kind == HidSim::TrafficKind::Read && b.startsWith("\x80\x02"))
                --inFlight;
            else if (entry.kind == HidSim::TrafficKind::Write && b.startsWith(QByteArray("\0\x03", 2)))
                inFlightAtVerify = inFlight;
        }
        QCOMPARE(inFlightAtVerify, 0);
        QVERIFY2(mostInFlight <= 4, qPrintable(QString::number(mostInFlight)));
        if (ackLatencyMs > 0)
            QCOMPARE(mostInFlight, 4);

        const QString backup = m_dir.filePath("backup.dfu");
        QCOMPARE(hidDfuBackup(qPrintable(backup), 0), 0);
        QCOMPARE(readFile(backup), image);

        QCOMPARE(hidDfuResetDevice(), 0);
        QVERIFY(waitFor(
            [&] {
                const HidSim::DeviceState state = HidSim::device(id);
                return state.present && state.mode == Mode::Normal;
            },
            3000));
        QCOMPARE(HidSim::device(id).serial, QString("D-7"));
        QCOMPARE(HidSim::device(id).firmware, QString("1.46.0"));
        uint16_t found = 0xffff;
        QVERIFY(connectTo(product, &found) != 0);
        QCOMPARE(int(found), 0);
    }

    void faults_data() {
        QTest::addColumn<DfuFaults>("faults");
        QTest::addColumn<HidSim::Faults>("link");
        QTest::addColumn<bool>("flashes");
        QTest::addColumn<int>("progressAtMost");
        QTest::addColumn<bool>("resets");
        QTest::addColumn<QString>("backAs");  // serial after the reset; null: not back
        QTest::addColumn<QString>("firmware");

        const HidSim::Faults link;
        DfuFaults f;
        f.errorAtPercent = 50;
        QTest::newRow("write error at 50%") << f << link << false << 50 << false << QString() << QString();
        f = {};
        f.errorAtPercent = 0;
        QTest::newRow("write error on the first block")
            << f << link << false << 0 << false << QString() << QString();
        f = {};
        f.lostAtPercent = 30;
        QTest::newRow("lost at 30%") << f << link << false << 30 << false << QString() << QString();
        f = {};
        f.corruptStorage = true;
        QTest::newRow("verification fails") << f << link << false << 99 << false << QString() << QString();
        f = {};
        f.refuseReset = true;
        QTest::newRow("reset refused") << f << link << true << 100 << false << QString() << QString();
        f = {};
        f.noReturnAfterReset = true;
        QTest::newRow("no return after reset") << f << link << true << 100 << true << QString() << QString();
        f = {};
        f.returnSerial = "R-0002";
        QTest::newRow("returns under another serial") << f << link << true << 100 << true << "R-0002"
                                                      << "1.46.0";
        f = {};
        QTest::newRow("clean") << f << link << true << 100 << true << "R-0001"
                               << "1.46.0";
        f.silent = true;
        QTest::newRow("device never answers") << f << link << false << 0 << false << QString() << QString();
        f = {};
        HidSim::Faults writes;
        writes.writeFails = true;
        QTest::newRow("writes fail") << f << writes << false << 0 << false << QString() << QString();
        HidSim::Faults unplug;
        unplug.unplugAfterWrites = 500;
        QTest::newRow("unplugged after 500 reports")
            << f << unplug << false << 5 << false << QString() << QString();
    }
    void faults() {
        QFETCH(DfuFaults, faults);
        QFETCH(HidSim::Faults, link);
        QFETCH(bool, flashes);
        QFETCH(int, progressAtMost);
        QFETCH(bool, resets);
        QFETCH(QString, backAs);
        QFETCH(QString, firmware);
        const int id = plug(DeviceType::SorrelReceiver, "R-0001");
        faults.resetDelayMs = 50;
        HidSim::setDfuFaults(id, faults);
        HidSim::setFaults(id, link, kUpdatePage);
        QCOMPARE(connectTo(kReceiverUpdate), 0);
        QCOMPARE(hidDfuUpgrade(qPrintable(stage(readFile(kReceiverImage))), 0), 0);
        const Run run = follow(id, 10000);
        QVERIFY(run.monotonic);
        QVERIFY(!run.hundredBeforeVerify);
        QVERIFY2(run.maxProgress <= progressAtMost, qPrintable(QString::number(run.maxProgress)));
        QCOMPARE(run.result == 0, flashes);
        QCOMPARE(run.lastProgress == 100, flashes);
        if (!flashes) {
            QVERIFY(HidSim::dfuFlashedImage(id).isEmpty());
            // A failed transfer leaves the device where it was; it must not be restarted into half an image.
            QVERIFY(hidDfuResetDevice() != 0 || !HidSim::device(id).present);
            return;
        }
        QCOMPARE(hidDfuResetDevice() == 0, resets);
        if (!resets) {
            QThread::msleep(200);
            const HidSim::DeviceState state = HidSim::device(id);
            QVERIFY(state.present);
            QCOMPARE(state.mode, Mode::Update);
            QCOMPARE(state.firmware, QString("1.45.0"));
            return;
        }
        if (backAs.isNull()) {
            QThread::msleep(300);
            QVERIFY(!HidSim::device(id).present);
            return;
        }
        QVERIFY(waitFor([&] { return HidSim::device(id).present; }, 3000));
        const HidSim::DeviceState state = HidSim::device(id);
        QCOMPARE(state.mode, Mode::Normal);
        QCOMPARE(state.serial, backAs);
        QCOMPARE(state.firmware, firmware);
    }

    // A cancel is a disconnect in the middle of a transfer at the real link speed: it must return at
    // once, join the engine's thread, and leave the device ready for the next attempt.
    void disconnectMidTransfer_data() {
        QTest::addColumn<bool>("silent");
        QTest::newRow("while writing") << false;
        QTest::newRow("while waiting for a silent device") << true;
    }
    void disconnectMidTransfer() {
        QFETCH(bool, silent);
        HidSim::Timings timings = HidSim::timings();
        timings.updateReportIntervalUs = 1000;
        HidSim::setTimings(timings);
        const int id = plug(DeviceType::SorrelReceiver, "R-1");
        if (silent) {
            DfuFaults faults;
            faults.silent = true;
            HidSim::setDfuFaults(id, faults);
        }
        QCOMPARE(connectTo(kReceiverUpdate), 0);
        QCOMPARE(hidDfuUpgrade(qPrintable(stage(readFile(kReceiverImage))), 0), 0);
        if (silent)
            QThread::msleep(300);
        else
            QVERIFY(waitFor([] { return hidDfuGetProgress() >= 2; }, 5000));
        QVERIFY(hidDfuUpgrade(qPrintable(stage(readFile(kReceiverImage))), 0) != 0);
        QVERIFY(hidDfuResetDevice() != 0);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(hidDfuDisconnect(), 0);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(hidDfuGetResult() != 0);
        QVERIFY(hidDfuGetProgress() < 100);
        const int writes = updateWrites();
        QThread::msleep(50);
        QCOMPARE(updateWrites(), writes);
        QCOMPARE(updateWrites(0x05), 1);
        QVERIFY(HidSim::dfuFlashedImage(id).isEmpty());

        HidSim::setDfuFaults(id, DfuFaults());
        fastLink();
        QCOMPARE(connectTo(kReceiverUpdate), 0);
        QCOMPARE(hidDfuGetResult(), 0);
        QCOMPARE(hidDfuUpgrade(qPrintable(stage(readFile(kReceiverImage), "again.dfu")), 0), 0);
        QCOMPARE(follow(id, 10000).lastProgress, 100);
        QCOMPARE(HidSim::dfuFlashedImage(id), readFile(kReceiverImage));
    }

    void backupWithoutImage() {
        plug(DeviceType::SorrelHeadset, "H-1");
        QCOMPARE(connectTo(kHeadsetUpdate), 0);
        const QString path = m_dir.filePath("nothing.dfu");
        QVERIFY(hidDfuBackup(qPrintable(path), 0) != 0);
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TstHidDfu)
#include "tst_hiddfu.moc"
