#include <hidapi.h>

#include <zlib.h>
#include <QtTest>

#include "hiddfu/dfuprotocol.h"
#include "sim/dfufaults.h"
#include "sim/hidsim.h"
#include "tests/support/simbus.h"
#include "tools/dfuimage/imagebuilder.h"

using namespace HidDfu::Protocol;

// The simulated device's own checks, driven report by report: what it must refuse is exactly what an
// engine with a fault of its own could send it.
namespace {

QByteArray image(quint16 product, quint16 bcd = 0x0146, int size = 200) {
    HidDfu::ImageBuilder builder;
    builder.vendorId = 0x046d;
    builder.productId = product;
    builder.bcdDevice = bcd;
    const std::vector<std::uint8_t> bytes = builder.build(std::size_t(size));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

quint32 crcOf(const QByteArray& bytes) {
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())));
}

QByteArray report(std::initializer_list<quint8> head, QVector<quint32> le32 = {}, int le16At = -1) {
    QByteArray r(kReportSize, '\0');
    int at = 0;
    for (quint8 b : head)
        r[at++] = char(b);
    for (int i = 0; i < le32.size(); ++i) {
        // A u16 length sits between the offset and the CRC of a Block or Read.
        const int width = (i == le16At) ? 2 : 4;
        for (int k = 0; k < width; ++k)
            r[at++] = char(le32[i] >> (8 * k));
    }
    return r;
}

QByteArray start(const QByteArray& img) {
    return report({Start}, {quint32(img.size()), crcOf(img)});
}
QByteArray block(quint32 offset, const QByteArray& data, quint32 crc) {
    return report({Block}, {offset, quint32(data.size()), crc}, 1);
}
QByteArray block(quint32 offset, const QByteArray& data) {
    return block(offset, data, crcOf(data));
}
QByteArray data(int index, const QByteArray& bytes) {
    QByteArray r(1, char(kDataTag | (index & kDataIndexMask)));
    r += bytes.left(kPayloadPerReport);
    r.append(QByteArray(kReportSize - r.size(), '\0'));
    return r;
}
QByteArray command(quint8 cmd) {
    return report({cmd});
}

// The whole image as one block, as the engine would send it.
QVector<QByteArray> transfer(const QByteArray& img) {
    QVector<QByteArray> out{start(img), block(0, img)};
    for (int at = 0, i = 0; at < img.size(); at += kPayloadPerReport, ++i)
        out << data(i, img.mid(at, kPayloadPerReport));
    return out;
}

}  // namespace

class TstDfuDevice : public QObject {
    Q_OBJECT

    hid_device* m_handle = nullptr;
    int m_id = 0;

    bool send(const QByteArray& r) {
        const QByteArray withId = QByteArray(1, '\0') + r;
        return hid_write(m_handle, reinterpret_cast<const unsigned char*>(withId.constData()),
                         size_t(withId.size())) >= 0;
    }

    QVector<QByteArray> acks() {
        QVector<QByteArray> out;
        unsigned char in[kReportSize];
        int n = 0;
        while ((n = hid_read_timeout(m_handle, in, sizeof in, 50)) > 0)
            out << QByteArray(reinterpret_cast<const char*>(in), n);
        return out;
    }

private slots:
    void init() {
        HidSim::reset();
        HidSim::clearDfuFaults();
        HidSim::Timings timings;
        timings.updateReportIntervalUs = 0;
        HidSim::setTimings(timings);
        m_id = HidSim::plug(TestSupport::device(HidSim::DeviceType::SorrelReceiver, QStringLiteral("R-1"),
                                                QStringLiteral("1.45.0"), 0, HidSim::Mode::Update));
        hid_device_info* list = hid_enumerate(0x046d, 0x0a92);
        QVERIFY(list != nullptr);
        m_handle = hid_open_path(list->path);
        hid_free_enumeration(list);
        QVERIFY(m_handle != nullptr);
    }

    void cleanup() {
        if (m_handle != nullptr)
            hid_close(m_handle);
        m_handle = nullptr;
    }

    void refusals_data() {
        QTest::addColumn<QVector<QByteArray>>("reports");
        QTest::addColumn<int>("command");  // of the last acknowledgement
        QTest::addColumn<int>("status");
        const QByteArray good = image(0x0a92);
        const QByteArray first = good.left(kPayloadPerReport);
        const QByteArray two = good.left(2 * kPayloadPerReport);

        QTest::newRow("leave without reset")
            << QVector<QByteArray>{command(Leave)} << int(Leave) << int(BadCommand);
        QTest::newRow("block before start")
            << QVector<QByteArray>{block(0, first), data(0, first)} << int(Block) << int(BadCommand);
        QTest::newRow("block at the wrong offset")
            << QVector<QByteArray>{start(good), block(63, first)} << int(Block) << int(BadOffset);
        QTest::newRow("block past the end")
            << QVector<QByteArray>{start(good.left(100)), block(0, two)} << int(Block) << int(BadOffset);
        QTest::newRow("data report out of order")
            << QVector<QByteArray>{start(good), block(0, two), data(1, first)} << int(Block) << int(BlockCrc);
        QTest::newRow("block CRC wrong")
            << QVector<QByteArray>{start(good), block(0, first, 0x12345678), data(0, first)} << int(Block)
            << int(BlockCrc);
        QTest::newRow("data outside a block")
            << QVector<QByteArray>{start(good), data(0, first)} << int(Block) << int(BadCommand);
        QTest::newRow("verify of half an image")
            << QVector<QByteArray>{start(good), block(0, first), data(0, first), command(Verify)}
            << int(Verify) << int(VerifyFailed);
        QTest::newRow("image too large")
            << QVector<QByteArray>{report({Start}, {kMaxImageSize + 17, 0})} << int(Start) << int(TooLarge);
        QTest::newRow("reset during a transfer")
            << QVector<QByteArray>{start(good), block(0, first), data(0, first), command(Reset)} << int(Reset)
            << int(Refused);
        QTest::newRow("unknown command") << QVector<QByteArray>{command(0x3f)} << 0x3f << int(BadCommand);

        auto verified = [](const QByteArray& img, const QByteArray& announced) {
            QVector<QByteArray> out = transfer(img);
            out[0] = start(announced);
            return out << command(Verify);
        };
        QTest::newRow("headset image")
            << verified(image(0x0a93), image(0x0a93)) << int(Verify) << int(VerifyFailed);
        QTest::newRow("version not BCD")
            << verified(image(0x0a92, 0x01a0), image(0x0a92, 0x01a0)) << int(Verify) << int(VerifyFailed);
        QByteArray badSuffix = good;
        badSuffix[badSuffix.size() - 1] = char(badSuffix[badSuffix.size() - 1] ^ 1);
        QTest::newRow("suffix CRC wrong")
            << verified(badSuffix, badSuffix) << int(Verify) << int(VerifyFailed);
        QByteArray other = good;
        other[5] = char(other[5] ^ 1);
        QTest::newRow("start announced another image")
            << verified(good, other) << int(Verify) << int(VerifyFailed);
        QTest::newRow("reset after a failed verify")
            << (verified(badSuffix, badSuffix) << command(Reset)) << int(Reset) << int(Refused);
        QTest::newRow("good image") << verified(good, good) << int(Verify) << int(Ok);
        QVector<QByteArray> restarted{start(good), block(0, two), data(0, two)};
        QTest::newRow("start in the middle of a block starts over")
            << (restarted + verified(good, good)) << int(Verify) << int(Ok);
    }
    void refusals() {
        QFETCH(QVector<QByteArray>, reports);
        QFETCH(int, command);
        QFETCH(int, status);
        for (const QByteArray& r : reports)
            QVERIFY(send(r));
        const QVector<QByteArray> answers = acks();
        QVERIFY(!answers.isEmpty());
        const QByteArray last = answers.last();
        QCOMPARE(quint8(last[0]), kAckTag);
        QCOMPARE(int(quint8(last[kAckCommand])), command);
        QCOMPARE(int(quint8(last[kAckStatus])), status);
        QCOMPARE(HidSim::dfuFlashedImage(m_id).isEmpty(), status != Ok);
        QVERIFY(HidSim::device(m_id).present);
    }

    void abortDropsThePartialImage() {
        const QByteArray good = image(0x0a92);
        QVector<QByteArray> reports = transfer(good);
        reports.insert(2, command(Abort));
        for (const QByteArray& r : reports)
            QVERIFY(send(r));
        QVERIFY(send(command(Verify)));
        const QVector<QByteArray> answers = acks();
        QCOMPARE(int(quint8(answers.last()[kAckStatus])), int(VerifyFailed));
    }

    void restartCarriesTheVersion() {
        for (const QByteArray& r : transfer(image(0x0a92, 0x0203)))
            QVERIFY(send(r));
        QVERIFY(send(command(Verify)));
        QVERIFY(send(command(Reset)));
        const QVector<QByteArray> answers = acks();
        QCOMPARE(int(quint8(answers.last()[kAckCommand])), int(Reset));
        QCOMPARE(int(quint8(answers.last()[kAckStatus])), int(Ok));
        QVERIFY(HidSim::device(m_id).present);
        QVERIFY(send(command(Leave)));
        QVERIFY(!send(command(Query)));
        QTRY_VERIFY_WITH_TIMEOUT(HidSim::device(m_id).present, 5000);
        QCOMPARE(HidSim::device(m_id).mode, HidSim::Mode::Normal);
        QCOMPARE(HidSim::device(m_id).firmware, QString("2.3.0"));
        QCOMPARE(HidSim::device(m_id).serial, QString("R-1"));
    }
};

QTEST_GUILESS_MAIN(TstDfuDevice)
#include "tst_dfudevice.moc"
