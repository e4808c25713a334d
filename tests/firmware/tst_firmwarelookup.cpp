#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "io/deviceid.h"
#include "io/version.h"
#include "mediator/firmwareimage.h"
#include "mediator/knowndevicetable.h"
#include "mediator/stagedimage.h"
#include "platform/driverinfo.h"
#include "tests/support/files.h"

using TestSupport::readFile;
using TestSupport::writeFile;
using UIMediator::FirmwareImage;
using UIMediator::KnownDeviceTable;
using DeviceType = KnownDeviceTable::DeviceType;

namespace {

const QString kCarriedReceiver = QStringLiteral(":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu");
const QString kCarriedHeadset = QStringLiteral(":/firmware/46d.a93.ff00.1/Sorrel_Headset_T1.46.0.dfu");

Io::DeviceId id(quint16 product, quint16 usage_page) {
    return Io::DeviceId(0x046d, product, usage_page, 1);
}

}  // namespace

class TestFirmwareLookup : public QObject {
    Q_OBJECT

private slots:
    void knownInterfaces_data();
    void knownInterfaces();
    void outsideTheTable_data();
    void outsideTheTable();
    void updateModeId_data();
    void updateModeId();
    void normalModeId_data();
    void normalModeId();
    void familyName_data();
    void familyName();

    void versionFromFileName_data();
    void versionFromFileName();
    void versionOfPath_data();
    void versionOfPath();

    void findImage_data();
    void findImage();
    void searchOrder();

    void staging_data();
    void staging();
    void shortCopyIsRefused();
    void copyGoesWithTheStage();

    void driverPresence_data();
    void driverPresence();
};

void TestFirmwareLookup::knownInterfaces_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<Io::DeviceId>("id");
    QTest::addColumn<DeviceType>("type");
    QTest::newRow("0 headset update") << 0 << id(0x0a93, 0xff00) << DeviceType::SorrelHeadset;
    QTest::newRow("1 headset normal") << 1 << id(0x0a91, 0xffc0) << DeviceType::SorrelHeadset;
    QTest::newRow("2 receiver update") << 2 << id(0x0a92, 0xff00) << DeviceType::SorrelReceiver;
    QTest::newRow("3 receiver first") << 3 << id(0x0a90, 0xffa0) << DeviceType::SorrelReceiver;
    QTest::newRow("4 receiver second") << 4 << id(0x0a90, 0xffa1) << DeviceType::SorrelReceiver;
    QTest::newRow("5 plus headset update") << 5 << id(0x0aac, 0xff00) << DeviceType::SorrelPlusHeadset;
    QTest::newRow("6 plus headset normal") << 6 << id(0x0aab, 0xffc0) << DeviceType::SorrelPlusHeadset;
    QTest::newRow("7 plus receiver update") << 7 << id(0x0aa9, 0xff00) << DeviceType::SorrelPlusReceiver;
    QTest::newRow("8 plus receiver first") << 8 << id(0x0aa8, 0xffa0) << DeviceType::SorrelPlusReceiver;
    QTest::newRow("9 plus receiver second") << 9 << id(0x0aa8, 0xffa1) << DeviceType::SorrelPlusReceiver;
}

void TestFirmwareLookup::knownInterfaces() {
    QFETCH(int, index);
    QFETCH(Io::DeviceId, id);
    QFETCH(DeviceType, type);
    QCOMPARE(KnownDeviceTable::knownId(index), id);
    QCOMPARE(KnownDeviceTable::modelIndexOf(id), index);
    QCOMPARE(KnownDeviceTable::deviceTypeOf(id), type);
}

void TestFirmwareLookup::outsideTheTable_data() {
    QTest::addColumn<Io::DeviceId>("id");
    QTest::newRow("invalid") << Io::DeviceId();
    QTest::newRow("other vendor") << Io::DeviceId(0x046e, 0x0a93, 0xff00, 1);
    QTest::newRow("other usage") << Io::DeviceId(0x046d, 0x0a93, 0xff00, 2);
    QTest::newRow("update page on normal product") << id(0x0a90, 0xff00);
    QTest::newRow("receiver page on headset product") << id(0x0a91, 0xffa0);
}

void TestFirmwareLookup::outsideTheTable() {
    QFETCH(Io::DeviceId, id);
    QCOMPARE(KnownDeviceTable::modelIndexOf(id), KnownDeviceTable::kSize);
    QCOMPARE(KnownDeviceTable::deviceTypeOf(id), DeviceType::Unknown);
    QVERIFY(!KnownDeviceTable::normalModeId(id, 0).isValid());
    QVERIFY(!KnownDeviceTable::knownId(-1).isValid());
    QVERIFY(!KnownDeviceTable::knownId(KnownDeviceTable::kSize).isValid());
}

void TestFirmwareLookup::updateModeId_data() {
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<Io::DeviceId>("expected");
    QTest::newRow("headset") << DeviceType::SorrelHeadset << id(0x0a93, 0xff00);
    QTest::newRow("receiver") << DeviceType::SorrelReceiver << id(0x0a92, 0xff00);
    QTest::newRow("plus headset") << DeviceType::SorrelPlusHeadset << id(0x0aac, 0xff00);
    QTest::newRow("plus receiver") << DeviceType::SorrelPlusReceiver << id(0x0aa9, 0xff00);
    QTest::newRow("unknown") << DeviceType::Unknown << Io::DeviceId();
    QTest::newRow("out of range") << static_cast<DeviceType>(7) << Io::DeviceId();
}

void TestFirmwareLookup::updateModeId() {
    QFETCH(DeviceType, type);
    QFETCH(Io::DeviceId, expected);
    QCOMPARE(KnownDeviceTable::updateModeId(type), expected);
    // The firmware folder is named after this identity.
    if (expected.isValid())
        QCOMPARE(KnownDeviceTable::deviceTypeOf(expected), type);
}

void TestFirmwareLookup::normalModeId_data() {
    QTest::addColumn<Io::DeviceId>("updateModeId");
    QTest::addColumn<int>("variant");
    QTest::addColumn<Io::DeviceId>("expected");
    QTest::newRow("headset") << id(0x0a93, 0xff00) << 0 << id(0x0a91, 0xffc0);
    QTest::newRow("headset, variant ignored") << id(0x0a93, 0xff00) << 1 << id(0x0a91, 0xffc0);
    QTest::newRow("receiver first") << id(0x0a92, 0xff00) << 0 << id(0x0a90, 0xffa0);
    QTest::newRow("receiver second") << id(0x0a92, 0xff00) << 1 << id(0x0a90, 0xffa1);
    QTest::newRow("receiver bad variant") << id(0x0a92, 0xff00) << 2 << Io::DeviceId();
    QTest::newRow("plus headset") << id(0x0aac, 0xff00) << 0 << id(0x0aab, 0xffc0);
    QTest::newRow("plus receiver first") << id(0x0aa9, 0xff00) << 0 << id(0x0aa8, 0xffa0);
    QTest::newRow("plus receiver second") << id(0x0aa9, 0xff00) << 1 << id(0x0aa8, 0xffa1);
    QTest::newRow("normal-mode id has none") << id(0x0a91, 0xffc0) << 0 << Io::DeviceId();
    QTest::newRow("invalid") << Io::DeviceId() << 0 << Io::DeviceId();
}

void TestFirmwareLookup::normalModeId() {
    QFETCH(Io::DeviceId, updateModeId);
    QFETCH(int, variant);
    QFETCH(Io::DeviceId, expected);
    QCOMPARE(KnownDeviceTable::normalModeId(updateModeId, variant), expected);
}

void TestFirmwareLookup::familyName_data() {
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<QString>("expected");
    QTest::newRow("headset") << DeviceType::SorrelHeadset << QStringLiteral("Sorrel");
    QTest::newRow("receiver") << DeviceType::SorrelReceiver << QStringLiteral("Sorrel");
    QTest::newRow("plus headset") << DeviceType::SorrelPlusHeadset << QStringLiteral("SorrelPlus");
    QTest::newRow("plus receiver") << DeviceType::SorrelPlusReceiver << QStringLiteral("SorrelPlus");
    QTest::newRow("unknown") << DeviceType::Unknown << QString();
    QTest::newRow("out of range") << static_cast<DeviceType>(-1) << QString();
}

void TestFirmwareLookup::familyName() {
    QFETCH(DeviceType, type);
    QFETCH(QString, expected);
    const QString name = KnownDeviceTable::familyName(type);
    QCOMPARE(name, expected);
    QCOMPARE(name.isNull(), expected.isNull());
}

void TestFirmwareLookup::versionFromFileName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");  // "M.m.p.b", empty for the invalid version
    QTest::newRow("carried receiver") << "Sorrel_Dongle_T1.46.0.dfu"
                                      << "1.46.0.0";
    QTest::newRow("build number") << "Sorrel_Headset_T1.47.12.dfu"
                                  << "1.47.0.12";
    QTest::newRow("two numbers") << "Sorrel_Headset_T1.46.dfu"
                                 << "";
    QTest::newRow("four numbers") << "Sorrel_Headset_T1.46.0.1.dfu"
                                  << "";
    QTest::newRow("last _T counts") << "A_T9_T1.2.3.dfu"
                                    << "1.2.0.3";
    QTest::newRow("lower-case t") << "Sorrel_Headset_t1.46.0.dfu"
                                  << "";
    QTest::newRow("upper-case suffix") << "Sorrel_Headset_T1.46.0.DFU"
                                       << "";
    QTest::newRow("major cut to 8 bits") << "X_T300.2.7.dfu"
                                         << "44.2.0.7";
    QTest::newRow("major 256 is 0") << "X_T256.1.1.dfu"
                                    << "0.1.0.1";
    QTest::newRow("major beyond 16 bits") << "X_T65536.3.1.dfu"
                                          << "0.3.0.1";
    QTest::newRow("build beyond 32 bits") << "X_T1.2.4294967296.dfu"
                                          << "1.2.0.0";
    QTest::newRow("largest build") << "X_T1.2.4294967295.dfu"
                                   << "1.2.0.4294967295";
    QTest::newRow("zero version") << "X_T0.0.5.dfu"
                                  << "";
    QTest::newRow("not numbers") << "X_Ta.b.c.dfu"
                                 << "";
    QTest::newRow("empty parts") << "X_T..dfu"
                                 << "";
    QTest::newRow("no prefix") << "_T2.0.1.dfu"
                               << "2.0.0.1";
    QTest::newRow(".dfu removed inside") << "A.dfu_T1.2.3.dfu"
                                         << "1.2.0.3";
    QTest::newRow("without suffix") << "A_T1.2.3"
                                    << "1.2.0.3";
    QTest::newRow("no _T") << "Sorrel_1.46.0.dfu"
                           << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("negative") << "X_T-1.2.3.dfu"
                              << "0.2.0.3";
}

void TestFirmwareLookup::versionFromFileName() {
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const Global::Version version = FirmwareImage::versionFromFileName(name);
    QCOMPARE(version.toString(QStringLiteral("M.m.p.b")), expected);
    QCOMPARE(version.isValid(), !expected.isEmpty());
}

void TestFirmwareLookup::versionOfPath_data() {
    QTest::addColumn<QString>("fileName");  // created in a temporary folder; empty: the path as given
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("existing file") << "Img_T2.3.4.dfu"
                                   << ""
                                   << "2.3";
    QTest::newRow("missing file") << ""
                                  << "/nonexistent/Img_T2.3.4.dfu"
                                  << "";
    QTest::newRow("empty path") << ""
                                << ""
                                << "";
    QTest::newRow("carried image") << "" << kCarriedReceiver << "1.46";
    QTest::newRow("folder of the name") << ""
                                        << "folder:Img_T2.3.4.dfu"
                                        << "2.3";
}

void TestFirmwareLookup::versionOfPath() {
    QFETCH(QString, fileName);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!fileName.isEmpty()) {
        path = dir.filePath(fileName);
        QVERIFY(writeFile(path, "image"));
    } else if (path.startsWith(QLatin1String("folder:"))) {
        path = dir.filePath(path.mid(7));
        QVERIFY(QDir().mkpath(path));
    }
    QCOMPARE(FirmwareImage::version(path).toString(QStringLiteral("M.m")), expected);
}

void TestFirmwareLookup::findImage_data() {
    QTest::addColumn<QStringList>("beside");  // files created under <temp>/<folder>/
    QTest::addColumn<QString>("folder");
    QTest::addColumn<Io::DeviceId>("id");
    QTest::addColumn<QString>("expected");  // "beside:<name>", a resource path, or empty
    const Io::DeviceId headset = id(0x0a93, 0xff00);
    const Io::DeviceId receiver = id(0x0a92, 0xff00);
    const Io::DeviceId plus_headset = id(0x0aac, 0xff00);
    QTest::newRow("beside wins over carried") << QStringList{"Sorrel_Headset_T1.10.0.dfu"} << "46d.a93.ff00.1"
                                              << headset << "beside:Sorrel_Headset_T1.10.0.dfu";
    QTest::newRow("empty folder falls through")
        << QStringList{} << "46d.a92.ff00.1" << receiver << kCarriedReceiver;
    QTest::newRow("no folder falls through") << QStringList{} << "" << headset << kCarriedHeadset;
    QTest::newRow("subfolder named .dfu")
        << QStringList{"sub.dfu/"} << "46d.a92.ff00.1" << receiver << kCarriedReceiver;
    QTest::newRow("other files ignored")
        << QStringList{"notes.txt", "image.bin"} << "46d.a93.ff00.1" << headset << kCarriedHeadset;
    QTest::newRow("plus without image") << QStringList{} << "" << plus_headset << "";
    QTest::newRow("plus with image beside")
        << QStringList{"P_T2.0.0.dfu"} << "46d.aac.ff00.1" << plus_headset << "beside:P_T2.0.0.dfu";
    QTest::newRow("other folder") << QStringList{"Sorrel_Headset_T1.10.0.dfu"} << "46d.a92.ff00.1" << headset
                                  << kCarriedHeadset;
    QTest::newRow("invalid id") << QStringList{} << "" << Io::DeviceId() << "";
}

void TestFirmwareLookup::findImage() {
    QFETCH(QStringList, beside);
    QFETCH(QString, folder);
    QFETCH(Io::DeviceId, id);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!folder.isEmpty())
        QVERIFY(QDir().mkpath(dir.filePath(folder)));
    for (const QString& name : beside) {
        const QString path = dir.filePath(folder + QLatin1Char('/') + name);
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkpath(path));
        else
            QVERIFY(writeFile(path, "image"));
    }
    const QString found = FirmwareImage::find(id, {dir.path(), QStringLiteral(":/firmware")});
    if (expected.startsWith(QLatin1String("beside:")))
        expected = QDir(dir.filePath(folder)).absoluteFilePath(expected.mid(7));
    QCOMPARE(found, expected);
    QCOMPARE(found.isNull(), expected.isEmpty());
}

void TestFirmwareLookup::searchOrder() {
    const QStringList directories = FirmwareImage::searchDirectories();
    QCOMPARE(directories, QStringList({QCoreApplication::applicationDirPath() + QStringLiteral("/firmware"),
                                       QStringLiteral(":/firmware")}));
    QCOMPARE(QFileInfo(kCarriedReceiver).size(), 1233052);
    QCOMPARE(QFileInfo(kCarriedHeadset).size(), 724426);
}

void TestFirmwareLookup::staging_data() {
    QTest::addColumn<QString>("source");  // "temp:<bytes>" writes a file first
    QTest::addColumn<bool>("staged");
    QTest::newRow("carried receiver") << kCarriedReceiver << true;
    QTest::newRow("carried headset") << kCarriedHeadset << true;
    QTest::newRow("file") << "temp:some image bytes" << true;
    QTest::newRow("empty file") << "temp:" << true;
    QTest::newRow("missing file") << "/nonexistent/x_T1.2.3.dfu" << false;
    QTest::newRow("empty path") << "" << false;
    QTest::newRow("null path") << QString() << false;
    QTest::newRow("folder") << "folder:" << false;
}

void TestFirmwareLookup::staging() {
    QFETCH(QString, source);
    QFETCH(bool, staged);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (source.startsWith(QLatin1String("temp:"))) {
        const QByteArray bytes = source.mid(5).toUtf8();
        source = dir.filePath(QStringLiteral("img_T1.0.0.dfu"));
        QVERIFY(writeFile(source, bytes));
    } else if (source == QLatin1String("folder:")) {
        source = dir.path();
    }
    UIMediator::StagedImage image;
    QCOMPARE(image.stage(source), staged);
    if (!staged) {
        QVERIFY(image.fileName().isEmpty());
        return;
    }
    QVERIFY(!image.fileName().isEmpty());
    QVERIFY(!image.fileName().endsWith(QLatin1String(".dfu")));
    QVERIFY(image.fileName() != source);
    QCOMPARE(readFile(image.fileName()), readFile(source));
}

void TestFirmwareLookup::shortCopyIsRefused() {
    bool staged = true;
    QString copy_name;
    {
        const TestSupport::FileSizeLimit full_disk(64 * 1024);
        QVERIFY(full_disk.isActive());
        UIMediator::StagedImage image;
        staged = image.stage(kCarriedReceiver);
        copy_name = image.fileName();
    }

    QVERIFY(!staged);
    QVERIFY(copy_name.isEmpty());
}

void TestFirmwareLookup::copyGoesWithTheStage() {
    QString copy_name;
    {
        UIMediator::StagedImage image;
        QVERIFY(image.stage(kCarriedHeadset));
        copy_name = image.fileName();
        QVERIFY(QFile::exists(copy_name));
        QCOMPARE(QFileInfo(copy_name).size(), 724426);
    }
    QVERIFY(!QFile::exists(copy_name));
}

void TestFirmwareLookup::driverPresence_data() {
    // Entries: "<device>/<file>=<content>" writes a file, "<device>/<dir>/" makes a folder.
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<bool>("expected");
    const QStringList update_headset = {"1-2/idVendor=046d\n", "1-2/idProduct=0a93\n"};
    QTest::newRow("bound interface") << (update_headset + QStringList{"1-2/1-2:1.0/driver/"}) << true;
    QTest::newRow("interface without driver") << (update_headset + QStringList{"1-2/1-2:1.0/"}) << false;
    QTest::newRow("device without interfaces") << update_headset << false;
    QTest::newRow("only the device's own driver") << (update_headset + QStringList{"1-2/driver/"}) << false;
    QTest::newRow("second interface bound")
        << (update_headset + QStringList{"1-2/1-2:1.0/", "1-2/1-2:1.1/driver/"}) << true;
    QTest::newRow("other product") << QStringList{"1-2/idVendor=046d\n", "1-2/idProduct=0a91\n",
                                                  "1-2/1-2:1.0/driver/"}
                                   << false;
    QTest::newRow("other vendor") << QStringList{"1-2/idVendor=046e\n", "1-2/idProduct=0a93\n",
                                                 "1-2/1-2:1.0/driver/"}
                                  << false;
    QTest::newRow("second device matches")
        << QStringList{"1-1/idVendor=1234\n", "1-1/idProduct=5678\n", "1-1/1-1:1.0/driver/",
                       "1-3/idVendor=046d\n", "1-3/idProduct=0a93\n", "1-3/1-3:1.0/driver/"}
        << true;
    QTest::newRow("interface of another device")
        << (update_headset + QStringList{"1-2/1-4:1.0/driver/"}) << false;
    QTest::newRow("unreadable ids") << QStringList{"1-2/idVendor=zz\n", "1-2/idProduct=0a93\n",
                                                   "1-2/1-2:1.0/driver/"}
                                    << false;
    QTest::newRow("empty tree") << QStringList{} << false;
}

void TestFirmwareLookup::driverPresence() {
    QFETCH(QStringList, tree);
    QFETCH(bool, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& entry : tree) {
        const int equals = entry.indexOf(QLatin1Char('='));
        if (equals < 0)
            QVERIFY(QDir().mkpath(dir.filePath(entry)));
        else
            QVERIFY(writeFile(dir.filePath(entry.left(equals)), entry.mid(equals + 1).toUtf8()));
    }
    QCOMPARE(Platform::DriverInfo::isInstalledUnder(dir.path(), 0x046d, 0x0a93), expected);
    QVERIFY(!Platform::DriverInfo::isInstalledUnder(dir.filePath(QStringLiteral("missing")), 0x046d, 0x0a93));
}

QTEST_GUILESS_MAIN(TestFirmwareLookup)
#include "tst_firmwarelookup.moc"
