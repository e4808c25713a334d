#include <QtTest>

#include "io/devicereply.h"

using Global::Version;
namespace Reply = Io::DeviceReply;

namespace {

QByteArray bytes(const char* hex) {
    return QByteArray::fromHex(hex);
}

QString text(const Version& version) {
    return version.toString(QStringLiteral("M.m.p.b"));
}

}  // namespace

class TstDeviceReply : public QObject {
    Q_OBJECT

private slots:
    void bcd_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("value");
        QTest::newRow("zero") << 0x00 << 0;
        QTest::newRow("nine") << 0x09 << 9;
        QTest::newRow("forty-six") << 0x46 << 46;
        QTest::newRow("ninety-nine") << 0x99 << 99;
        QTest::newRow("low nibble above nine") << 0x1a << 20;
        QTest::newRow("high nibble above nine") << 0xa0 << 100;
        QTest::newRow("both nibbles fifteen") << 0xff << 165;
    }
    void bcd() {
        QFETCH(int, byte);
        QFETCH(int, value);
        QCOMPARE(int(Reply::bcd(quint8(byte))), value);
    }

    // Every decoder on the same table of replies: the version text it gives ("" for the invalid version).
    void versions_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("headset");
        QTest::addColumn<QString>("receiver");
        QTest::addColumn<QString>("revision");

        QTest::newRow("empty") << QByteArray() << ""
                               << ""
                               << "";
        QTest::newRow("receiver reply") << bytes("00460109") << ""
                                        << "46.1.0.9"
                                        << "";
        QTest::newRow("receiver reply one short") << bytes("004601") << ""
                                                  << ""
                                                  << "";
        QTest::newRow("headset reply") << bytes("00000001460000") << "1.46.0.0"
                                       << ""
                                       << "";
        QTest::newRow("headset reply without last byte") << bytes("000000014600") << "1.46.0.0"
                                                         << ""
                                                         << "";
        QTest::newRow("headset reply one short of build") << bytes("0000000146") << ""
                                                          << ""
                                                          << "";
        QTest::newRow("revision reply") << bytes("00f10300020f0300000000ff00") << "0.2.0.15"
                                        << "151.3.0.0"
                                        << "3.0.0.0";
        QTest::newRow("revision byte zero") << bytes("00f10300020f00") << "0.2.0.15"
                                            << "151.3.0.0"
                                            << "";
        QTest::newRow("revision byte is not bcd") << bytes("000000000000ff") << ""
                                                  << ""
                                                  << "255.0.0.0";
        QTest::newRow("bcd nibbles above nine") << bytes("00ffaa1b0000") << "21.0.0.0"
                                                << "165.110.0.21"
                                                << "";
        QTest::newRow("all zero is invalid") << QByteArray(13, '\0') << ""
                                             << ""
                                             << "";
        QTest::newRow("longer than asked") << QByteArray(64, '\x11') << "11.11.0.11"
                                           << "11.11.0.11"
                                           << "17.0.0.0";
    }
    void versions() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, headset);
        QFETCH(QString, receiver);
        QFETCH(QString, revision);
        QCOMPARE(text(Reply::headsetVersion(reply)), headset);
        QCOMPARE(text(Reply::receiverVersion(reply)), receiver);
        QCOMPARE(text(Reply::headsetRevision(reply)), revision);
    }

    void versionFieldsFromHeadset() {
        // Patch is not carried by the device; the third BCD byte is the build number.
        const Version v = Reply::headsetVersion(bytes("000000014612"));
        QCOMPARE(v.major(), 1u);
        QCOMPARE(v.minor(), 46u);
        QCOMPARE(v.patch(), 0u);
        QCOMPARE(v.build(), 12u);
        QCOMPARE(v.toString(QStringLiteral("M.m")), QStringLiteral("1.46"));
    }

    void repairState_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("state");  // -1: no value
        QTest::addColumn<int>("progress");
        QTest::newRow("empty") << QByteArray() << -1 << -1;
        QTest::newRow("two bytes") << bytes("0280") << -1 << -1;
        QTest::newRow("paired") << bytes("028040") << 0x40 << int(Reply::RepairProgress::Finished);
        QTest::newRow("failed 08") << bytes("028008") << 0x08 << int(Reply::RepairProgress::Failed);
        QTest::newRow("failed 20") << bytes("028020") << 0x20 << int(Reply::RepairProgress::Failed);
        QTest::newRow("still pairing") << bytes("028001") << 0x01 << int(Reply::RepairProgress::Pending);
        QTest::newRow("zero") << bytes("000000") << 0x00 << int(Reply::RepairProgress::Pending);
        QTest::newRow("both failure bits") << bytes("028028") << 0x28 << int(Reply::RepairProgress::Pending);
        QTest::newRow("success and failure bits")
            << bytes("028048") << 0x48 << int(Reply::RepairProgress::Pending);
        QTest::newRow("longer reply") << bytes("0280400000") << 0x40 << int(Reply::RepairProgress::Finished);
    }
    void repairState() {
        QFETCH(QByteArray, reply);
        QFETCH(int, state);
        QFETCH(int, progress);
        const std::optional<quint8> decoded = Reply::repairState(reply);
        QCOMPARE(decoded.has_value(), state >= 0);
        if (decoded) {
            QCOMPARE(int(*decoded), state);
            QCOMPARE(int(Reply::repairProgress(*decoded)), progress);
        }
    }

    void replyIsNeverReadBeyondItsEnd() {
        // A reply that ends right before the byte a decoder needs, in a buffer whose next byte would make a
        // valid value if it were read.
        const QByteArray backing = bytes("0011223344556677");
        for (int size = 0; size <= backing.size(); ++size) {
            const QByteArray reply = QByteArray::fromRawData(backing.constData(), size);
            QCOMPARE(Reply::headsetVersion(reply).isValid(), size >= 6);
            QCOMPARE(Reply::receiverVersion(reply).isValid(), size >= 4);
            QCOMPARE(Reply::headsetRevision(reply).isValid(), size >= 7);
            QCOMPARE(Reply::repairState(reply).has_value(), size >= 3);
        }
    }
};

QTEST_GUILESS_MAIN(TstDeviceReply)
#include "tst_devicereply.moc"
