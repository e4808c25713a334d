#include <QtTest>

#include "base/logging.h"
#include "base/supportlog.h"
#include "io/deviceid.h"
#include "io/iodeviceinfo.h"
#include "io/version.h"

using Global::Version;
using Io::DeviceId;
using Io::IoDeviceInfo;

class TstValues : public QObject {
    Q_OBJECT

private slots:
    void deviceIdText_data() {
        QTest::addColumn<DeviceId>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("receiver update mode") << DeviceId(0x46d, 0xa92, 0xff00, 1) << "46d.a92.ff00.1" << true;
        QTest::newRow("usage zero is still valid") << DeviceId(0x46d, 0xa92, 0, 0) << "46d.a92.0.0" << true;
        QTest::newRow("vendor zero") << DeviceId(0, 0xa92, 0xff00, 1) << "null" << false;
        QTest::newRow("product zero") << DeviceId(0x46d, 0, 0xff00, 1) << "null" << false;
        QTest::newRow("all ones") << DeviceId(0xffff, 0xffff, 0xffff, 0xffff) << "ffff.ffff.ffff.ffff" << true;
        QTest::newRow("default") << DeviceId() << "null" << false;
    }
    void deviceIdText() {
        QFETCH(DeviceId, id);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(id.toString(), text);
        QCOMPARE(id.isValid(), valid);
    }

    void deviceIdAsHashKey() {
        // Invalid ids share the hash of "null" but stay distinct keys unless all four fields match.
        const DeviceId a(0, 1, 2, 3);
        const DeviceId b(0, 1, 2, 4);
        QCOMPARE(qHash(a, 7), qHash(b, 7));
        QHash<DeviceId, int> table;
        table.insert(a, 1);
        table.insert(b, 2);
        table.insert(DeviceId(0x46d, 0xa90, 0xffa0, 1), 3);
        table.insert(DeviceId(0x46d, 0xa90, 0xffa1, 1), 4);
        QCOMPARE(table.size(), 4);
        QCOMPARE(table.value(DeviceId(0x46d, 0xa90, 0xffa1, 1)), 4);
        QCOMPARE(table.value(DeviceId(0, 1, 2, 4)), 2);
    }

    void versionParse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("formatted");
        QTest::addColumn<bool>("valid");
        QTest::newRow("three parts") << "1.2.3" << "1.2.3.0" << true;
        QTest::newRow("with build") << "1.2.3-45" << "1.2.3.45" << true;
        QTest::newRow("empty part dropped") << "1..3" << "1.3.0.0" << true;
        QTest::newRow("two hyphens ignore build") << "1.2.3-4-5" << "1.2.3.0" << true;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("lone hyphen") << "-" << "" << false;
        QTest::newRow("major cut to 8 bits") << "300.1.2" << "44.1.2.0" << true;
        QTest::newRow("build not a number") << "1.2.3-x" << "1.2.3.0" << true;
        QTest::newRow("letters") << "a.b.c" << "" << false;
        QTest::newRow("four numbers") << "1.46.0.12" << "1.46.0.0" << true;
        QTest::newRow("zero with build") << "0.0.0-9" << "" << false;
        QTest::newRow("two parts") << "1.46" << "1.46.0.0" << true;
        QTest::newRow("leading hyphen") << "-1.2.3" << "1.2.3.0" << true;
        QTest::newRow("huge numbers") << "99999999999.1.1-99999999999" << "0.1.1.0" << true;
        QTest::newRow("only dots") << "..." << "" << false;
        QTest::newRow("unicode digits") << QString::fromUtf8("\xd9\xa1.2.3") << "0.2.3.0" << true;
    }
    void versionParse() {
        QFETCH(QString, text);
        QFETCH(QString, formatted);
        QFETCH(bool, valid);
        const Version v = Version::fromString(text, 10);
        QCOMPARE(v.isValid(), valid);
        QCOMPARE(v.toString(QStringLiteral("M.m.p.b")), formatted);
        QCOMPARE(v.toString(QStringLiteral("M.m.p.b")).isNull(), !valid);
    }

    void versionFormat_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::newRow("M.m.p") << "M.m.p" << "1.2.217";
        QTest::newRow("M.m") << "M.m" << "1.2";
        QTest::newRow("no letters") << "version" << "version";
        QTest::newRow("letters repeat") << "MMbb" << "1100";
    }
    void versionFormat() {
        QFETCH(QString, format);
        QFETCH(QString, text);
        QCOMPARE(Version(Version::compose(1, 2, 217), 0).toString(format), text);
    }

    void versionFormatHexDoesNotReplaceDigits() {
        // Major 11 in base 16 is "b"; it must not then be taken for the build letter.
        QCOMPARE(Version(Version::compose(11, 0, 1), 5).toString(QStringLiteral("M.p.b"), 16), QStringLiteral("b.1.5"));
    }

    void versionOrder() {
        const Version a(Version::compose(1, 2, 3), 0);
        const Version b(Version::compose(1, 2, 3), 1);
        const Version c(Version::compose(1, 2, 4), 0);
        QVERIFY(a < b && b < c && a < c);
        QVERIFY(c > b && b > a);
        QVERIFY(!(a < a) && !(a > a));
        QVERIFY(Version() < a);
        QVERIFY(Version::fromString(QStringLiteral("1.46.0")) < Version::fromString(QStringLiteral("1.46.0-3")));
        QCOMPARE(Version(Version::compose(300, 2, 1), 0).major(), 44u);
    }

    void deviceInfoPaths() {
        IoDeviceInfo info(0x46d, 0xa90, QStringLiteral("R-1"));
        const DeviceId first(0x46d, 0xa90, 0xffa0, 1);
        QVERIFY(info.addPath(first, "/dev/hidraw1"));
        QVERIFY(!info.addPath(first, "/dev/hidraw9"));
        QCOMPARE(info.path(first), QByteArray("/dev/hidraw1"));
        QVERIFY(!info.addPath(DeviceId(0x46d, 0xa91, 0xffc0, 1), "/dev/hidraw2"));
        QVERIFY(!info.addPath(DeviceId(0x46d, 0xa90, 0xffa1, 1), QByteArray()));
        QVERIFY(info.path(DeviceId(0x46d, 0xa90, 0xffa1, 1)).isEmpty());
        QVERIFY(info.addPath(DeviceId(0x46d, 0xa90, 0xffa1, 1), "/dev/hidraw3"));
        QCOMPARE(info.paths().size(), 2);
    }

    void deviceInfoMatches() {
        QVERIFY(!IoDeviceInfo().matches(0, 0, QString()));
        const IoDeviceInfo info(0x46d, 0xa90, QStringLiteral("R-1"));
        QVERIFY(info.matches(0x46d, 0xa90, QStringLiteral("R-1")));
        QVERIFY(!info.matches(0x46d, 0xa90, QStringLiteral("r-1")));
        QVERIFY(!info.matches(0x46d, 0xa91, QStringLiteral("R-1")));
        QVERIFY(!IoDeviceInfo(0, 0xa90, QString()).matches(0, 0xa90, QString()));
    }

    void supportLog_data() {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("bounded, one older file kept") << false;
        QTest::newRow("folder cannot be made") << true;
    }
    void supportLog() {
        QFETCH(bool, blocked);
        QTemporaryDir dir;
        QString folder = dir.filePath(QStringLiteral("state"));
        if (blocked) {
            // A file where the folder should be: refused to root as well.
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
            folder += QStringLiteral("/meldra");
        }
        constexpr qint64 kLimit = 2048;
        // Quiet: the test's own output needs none of the hundreds of lines.
        const QtMessageHandler test_handler = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&,
                                                                        const QString&) {});
        QString path;
        {
            Utils::SupportLog log(folder, QStringLiteral("meldra"), kLimit);
            path = log.filePath();
            for (int i = 0; i < 200; ++i) {
                qCWarning(lcIo) << "reading a report failed, round" << i;
            }
            log.flush();
        }
        qCWarning(lcIo) << "after the log";
        qInstallMessageHandler(test_handler);
        QFile current(path);
        QFile older(path + QStringLiteral(".1"));
        if (blocked) {
            QVERIFY(!current.exists());
            return;
        }
        QVERIFY(current.open(QIODevice::ReadOnly));
        QVERIFY(older.open(QIODevice::ReadOnly));
        const QByteArray newest = current.readAll();
        QVERIFY(newest.size() <= kLimit);
        QVERIFY(older.size() <= kLimit);
        QVERIFY(newest.endsWith("warning meldra.io: reading a report failed, round 199\n"));
        QVERIFY(!older.readAll().contains("round 0\n"));
    }
};

QTEST_GUILESS_MAIN(TstValues)
#include "tst_values.moc"
