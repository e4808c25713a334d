#include <QProcess>
#include <QResource>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

#include "hiddfu/dfusuffix.h"
#include "tools/dfuimage/imagebuilder.h"

using HidDfu::DfuSuffix;
using HidDfu::ImageBuilder;
using Bytes = std::vector<std::uint8_t>;

Q_DECLARE_METATYPE(DfuSuffix::Error)

namespace {

Bytes build(quint16 vendor, quint16 product, quint16 bcd, std::size_t size, std::uint64_t seed = 7) {
    ImageBuilder builder;
    builder.vendorId = vendor;
    builder.productId = product;
    builder.bcdDevice = bcd;
    builder.seed = seed;
    return builder.build(size);
}

QByteArray toQt(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

Bytes fromQt(const QByteArray& bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

class TstDfuImage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<DfuSuffix::Error>(); }

    // The check value of CRC-32 over "123456789" is 0xcbf43926; the suffix stores it without the final
    // inversion. A suffix written with zlib's value as it comes would fail every outside check.
    void suffixCrcKnownAnswer() {
        const QByteArray text("123456789");
        QCOMPARE(
            DfuSuffix::crc(reinterpret_cast<const std::uint8_t*>(text.constData()), std::size_t(text.size())),
            0x340bc6d9u);
        QCOMPARE(DfuSuffix::crc(nullptr, 0), 0xffffffffu);
    }

    void suffixRoundTrip_data() {
        QTest::addColumn<quint16>("vendor");
        QTest::addColumn<quint16>("product");
        QTest::addColumn<quint16>("bcd");
        QTest::addColumn<int>("size");
        QTest::newRow("one payload byte") << quint16(0x046d) << quint16(0x0a92) << quint16(0x0146) << 17;
        QTest::newRow("one report") << quint16(0x046d) << quint16(0x0a93) << quint16(0x0001) << 16 + 63;
        QTest::newRow("one block") << quint16(0x046d) << quint16(0x0aa9) << quint16(0x9999) << 16 + 8064;
        QTest::newRow("odd size") << quint16(0xffff) << quint16(0x0001) << quint16(0x1205) << 100003;
    }
    void suffixRoundTrip() {
        QFETCH(quint16, vendor);
        QFETCH(quint16, product);
        QFETCH(quint16, bcd);
        QFETCH(int, size);
        const Bytes image = build(vendor, product, bcd, std::size_t(size));
        QCOMPARE(int(image.size()), size);
        DfuSuffix read;
        QCOMPARE(DfuSuffix::read(image.data(), image.size(), &read), DfuSuffix::Error::None);
        QCOMPARE(read.vendorId, vendor);
        QCOMPARE(read.productId, product);
        QCOMPARE(read.bcdDevice, bcd);
        QCOMPARE(read.bcdDfu, quint16(0x0100));
        // The layout is fixed by the DFU class, not by us: check the bytes themselves.
        const std::uint8_t* s = image.data() + image.size() - 16;
        QCOMPARE(int(s[0] | s[1] << 8), int(bcd));
        QCOMPARE(int(s[4] | s[5] << 8), int(vendor));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(s + 8), 4), QByteArray("UFD\x10", 4));
    }

    void suffixRefused_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<DfuSuffix::Error>("error");
        const QByteArray good = toQt(build(0x046d, 0x0a92, 0x0146, 4096));
        auto flipped = [&](int at) {
            QByteArray b = good;
            b[at < 0 ? b.size() + at : at] = char(b[at < 0 ? b.size() + at : at] ^ 0x01);
            return b;
        };
        QTest::newRow("empty") << QByteArray() << DfuSuffix::Error::TooShort;
        QTest::newRow("fifteen bytes") << good.right(15) << DfuSuffix::Error::TooShort;
        QTest::newRow("payload byte flipped") << flipped(100) << DfuSuffix::Error::BadCrc;
        QTest::newRow("first byte flipped") << flipped(0) << DfuSuffix::Error::BadCrc;
        QTest::newRow("product id flipped") << flipped(-14) << DfuSuffix::Error::BadCrc;
        QTest::newRow("crc byte flipped") << flipped(-1) << DfuSuffix::Error::BadCrc;
        QTest::newRow("signature damaged") << flipped(-7) << DfuSuffix::Error::NoSignature;
        QTest::newRow("length 17") << flipped(-5) << DfuSuffix::Error::BadLength;
        QTest::newRow("last byte cut") << good.left(good.size() - 1) << DfuSuffix::Error::NoSignature;
        QTest::newRow("byte appended") << good + '\0' << DfuSuffix::Error::NoSignature;
        QTest::newRow("payload without suffix")
            << good.left(good.size() - 16) << DfuSuffix::Error::NoSignature;
    }
    void suffixRefused() {
        QFETCH(QByteArray, image);
        QFETCH(DfuSuffix::Error, error);
        DfuSuffix out;
        out.vendorId = 0x1234;
        QCOMPARE(DfuSuffix::read(reinterpret_cast<const std::uint8_t*>(image.constData()),
                                 std::size_t(image.size()), &out),
                 error);
        QCOMPARE(out.vendorId, quint16(0x1234));
    }

    void bcd_data() {
        QTest::addColumn<uint>("major");
        QTest::addColumn<uint>("minor");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<quint16>("bcd");
        QTest::newRow("1.46") << 1u << 46u << true << quint16(0x0146);
        QTest::newRow("0.0") << 0u << 0u << true << quint16(0x0000);
        QTest::newRow("12.5") << 12u << 5u << true << quint16(0x1205);
        QTest::newRow("99.99") << 99u << 99u << true << quint16(0x9999);
        QTest::newRow("major 100") << 100u << 0u << false << quint16(0);
        QTest::newRow("minor 100") << 1u << 100u << false << quint16(0);
    }
    void bcd() {
        QFETCH(uint, major);
        QFETCH(uint, minor);
        QFETCH(bool, valid);
        QFETCH(quint16, bcd);
        std::uint16_t out = 0xdead;
        QCOMPARE(DfuSuffix::toBcd(major, minor, &out), valid);
        if (!valid)
            return;
        QCOMPARE(out, bcd);
        unsigned backMajor = 0;
        unsigned backMinor = 0;
        QVERIFY(DfuSuffix::fromBcd(out, &backMajor, &backMinor));
        QCOMPARE(backMajor, major);
        QCOMPARE(backMinor, minor);
    }

    void bcdNotDecimal() {
        unsigned major = 0;
        unsigned minor = 0;
        QVERIFY(!DfuSuffix::fromBcd(0x014a, &major, &minor));
        QVERIFY(!DfuSuffix::fromBcd(0xa146, &major, &minor));
    }

    void builderIsDeterministic() {
        QCOMPARE(build(0x046d, 0x0a92, 0x0146, 50000, 3), build(0x046d, 0x0a92, 0x0146, 50000, 3));
        QVERIFY(build(0x046d, 0x0a92, 0x0146, 50000, 3) != build(0x046d, 0x0a92, 0x0146, 50000, 4));
        QVERIFY(build(0x046d, 0x0a92, 0x0146, 16).empty());
    }

    void carriedImages_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("size");
        QTest::addColumn<quint16>("product");
        QTest::newRow("receiver") << ":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu" << 1233052
                                  << quint16(0x0a92);
        QTest::newRow("headset") << ":/firmware/46d.a93.ff00.1/Sorrel_Headset_T1.46.0.dfu" << 724426
                                 << quint16(0x0a93);
    }
    void carriedImages() {
        QFETCH(QString, path);
        QFETCH(int, size);
        QFETCH(quint16, product);
        const QResource resource(path);
        QVERIFY2(resource.isValid(), qPrintable(path));
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        QCOMPARE(resource.size(), qint64(size));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), size);
        DfuSuffix suffix;
        QCOMPARE(DfuSuffix::read(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                 std::size_t(bytes.size()), &suffix),
                 DfuSuffix::Error::None);
        QCOMPARE(suffix.vendorId, quint16(0x046d));
        QCOMPARE(suffix.productId, product);
        QCOMPARE(suffix.bcdDevice, quint16(0x0146));
        // Made from the recipe in the build: the same bytes on every build.
        QCOMPARE(fromQt(bytes), build(0x046d, product, 0x0146, std::size_t(size), product));
    }

    // Only the carried images' sizes fix that they are not compressed: a payload that did not compress
    // would be stored plainly anyway, and then the check above could not fail.
    void carriedImagesWouldCompress() {
        QFile file(":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(qCompress(bytes).size() < bytes.size() / 3);
    }

    // dfu-suffix of dfu-util is an implementation of the suffix that owes nothing to ours.
    void outsideCheck_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("accepted");
        QFile receiver(":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu");
        QFile headset(":/firmware/46d.a93.ff00.1/Sorrel_Headset_T1.46.0.dfu");
        QVERIFY(receiver.open(QIODevice::ReadOnly) && headset.open(QIODevice::ReadOnly));
        const QByteArray small = toQt(build(0x1234, 0x5678, 0x0210, 1000));
        QByteArray damaged = small;
        damaged[10] = char(damaged[10] ^ 0x80);
        QTest::newRow("carried receiver") << receiver.readAll() << true;
        QTest::newRow("carried headset") << headset.readAll() << true;
        QTest::newRow("small image") << small << true;
        QTest::newRow("one bit flipped") << damaged << false;
        QTest::newRow("suffix cut") << small.left(small.size() - 16) << false;
    }
    void outsideCheck() {
        QFETCH(QByteArray, image);
        QFETCH(bool, accepted);
        const QString tool = QStandardPaths::findExecutable("dfu-suffix");
        // The scripts install dfu-util with the rest; without it this check would pass by saying nothing.
        QVERIFY2(!tool.isEmpty(), "dfu-suffix (package dfu-util) is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath("image.dfu");
        QVERIFY(writeFile(path, image));
        QProcess process;
        process.start(tool, {"-c", path});
        QVERIFY(process.waitForFinished(10000));
        const QByteArray output = process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY2((process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) == accepted,
                 output.constData());
    }

    void tool_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<QString>("inspectLine");
        const QStringList common{"make", "--vendor", "0x046d", "--product", "0x0a93", "--seed", "5"};
        QTest::newRow("make") << common + QStringList{"--version", "1.46", "--size", "5000"} << 0 << 5000
                              << "version: 1.46 (bcdDevice 0x0146)";
        QTest::newRow("two-digit major") << common + QStringList{"--version", "12.3", "--size", "100"} << 0
                                         << 100 << "version: 12.3 (bcdDevice 0x1203)";
        QTest::newRow("version with three parts")
            << common + QStringList{"--version", "1.46.0", "--size", "100"} << 2 << -1 << QString();
        QTest::newRow("minor beyond BCD")
            << common + QStringList{"--version", "1.146", "--size", "100"} << 2 << -1 << QString();
        QTest::newRow("no room for a payload")
            << common + QStringList{"--version", "1.46", "--size", "16"} << 2 << -1 << QString();
        QTest::newRow("vendor zero") << QStringList{"make",      "--vendor", "0",      "--product", "1",
                                                    "--version", "1.0",      "--size", "100"}
                                     << 2 << -1 << QString();
    }
    void tool() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(int, fileSize);
        QFETCH(QString, inspectLine);
        QTemporaryDir dir;
        const QString path = dir.filePath("out.dfu");
        QProcess make;
        make.start(DFUIMAGE_PATH, arguments << path);
        QVERIFY(make.waitForFinished(10000));
        QCOMPARE(make.exitCode(), exitCode);
        QCOMPARE(QFileInfo(path).exists() ? QFileInfo(path).size() : -1, qint64(fileSize));
        if (exitCode != 0)
            return;
        QProcess inspect;
        inspect.start(DFUIMAGE_PATH, {"inspect", path});
        QVERIFY(inspect.waitForFinished(10000));
        QCOMPARE(inspect.exitCode(), 0);
        const QString output = QString::fromUtf8(inspect.readAllStandardOutput());
        QVERIFY2(output.contains(inspectLine + "\n"), qPrintable(output));
        QVERIFY(output.contains("product: 0x0a93\n"));
    }

    void toolInspectRefusesDamage() {
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.dfu");
        QByteArray image = toQt(build(0x046d, 0x0a92, 0x0146, 300));
        image[3] = char(image[3] ^ 0x10);
        QVERIFY(writeFile(path, image));
        QProcess inspect;
        inspect.start(DFUIMAGE_PATH, {"inspect", path});
        QVERIFY(inspect.waitForFinished(10000));
        QCOMPARE(inspect.exitCode(), 1);
        QVERIFY(inspect.readAllStandardOutput().contains("suffix: CRC does not match"));
    }
};

QTEST_GUILESS_MAIN(TstDfuImage)
#include "tst_dfuimage.moc"
