#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/installengine.h"
#include "tests/support/files.h"

using Platform::InstallEngine;
using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

// A program that passes the installer's check.
const QByteArray kProgram = "#!/bin/sh\necho Meldra 1.2.217.0\n";

// Packs the tree below root into a gzip'd tar whose members are the given relative names, under one
// top-level folder as the packages have them.
bool pack(const QString& package, const QString& root, const QStringList& members,
          const QStringList& extra = {}) {
    return QProcess::execute(
               QStringLiteral("tar"),
               QStringList{QStringLiteral("-czf"), package, QStringLiteral("--transform=s,^,Meldra-1.2/,")} +
                   extra + QStringList{QStringLiteral("-C"), root} + members) == 0;
}

QString recordFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Corvin/Sonella.ini");
}

}  // namespace

class TestInstallEngine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void defaults();

    void install_data();
    void install();

    void updateReplacesInstalledFiles();
    void archiveCannotWriteOutsideLocation();
    void desktopEntryPointsAtInstalledTree();
};

void TestInstallEngine::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
}

void TestInstallEngine::init() {
    QFile::remove(recordFile());
}

void TestInstallEngine::defaults() {
    const InstallEngine engine;
    QCOMPARE(engine.packagePath(),
             QCoreApplication::applicationDirPath() + QStringLiteral("/data/Meldra.tar.gz"));
    QCOMPARE(engine.installLocation(), QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                           QStringLiteral("/meldra"));
    QVERIFY(!engine.hasCustomCommand());
    const InstallEngine::Command command = engine.command();
    QCOMPARE(command.program, QStringLiteral("tar"));
    QVERIFY(command.arguments.contains(engine.packagePath()));
    // Unpacked beside the installed tree, never into it.
    QVERIFY(command.arguments.contains(engine.installLocation() + QStringLiteral(".new")));
}

void TestInstallEngine::install_data() {
    QTest::addColumn<QString>("package");  // "good", "empty", "garbage", "missing", "no program", "mute"
    QTest::addColumn<bool>("locationBlocked");
    QTest::addColumn<int>("expected");  // -1: any failure reported by the engine process itself

    QTest::newRow("package with the program") << QStringLiteral("good") << false << 0;
    QTest::newRow("missing package") << QStringLiteral("missing") << false << -1;
    QTest::newRow("not an archive") << QStringLiteral("garbage") << false << -1;
    QTest::newRow("empty file") << QStringLiteral("empty") << false << -1;
    QTest::newRow("archive without the program")
        << QStringLiteral("no program") << false << InstallEngine::kIncompletePackage;
    QTest::newRow("program that does not start")
        << QStringLiteral("mute") << false << InstallEngine::kCheckFailed;
    QTest::newRow("location cannot be created")
        << QStringLiteral("good") << true << InstallEngine::kPrepareFailed;
    // Compared part by part: 1.2.217.0 is older than 1.10.0.0.
    QTest::newRow("older than the installed program")
        << QStringLiteral("older") << false << InstallEngine::kOlderPackage;
}

void TestInstallEngine::install() {
    QFETCH(QString, package);
    QFETCH(bool, locationBlocked);
    QFETCH(int, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tree = dir.filePath(QStringLiteral("tree"));
    QVERIFY(writeFile(tree + QStringLiteral("/bin/Meldra"),
                      package == QLatin1String("mute") ? "#!/bin/sh\nexit 1\n" : kProgram, true));
    QVERIFY(writeFile(tree + QStringLiteral("/lib/libhiddfu.so"), "lib"));
    QVERIFY(writeFile(tree + QStringLiteral("/share/doc/readme"), "doc"));

    const QString path = dir.filePath(QStringLiteral("data/Meldra.tar.gz"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("data"))));
    if (package == QLatin1String("good") || package == QLatin1String("mute") ||
        package == QLatin1String("older")) {
        QVERIFY(pack(path, tree, {QStringLiteral("bin"), QStringLiteral("lib"), QStringLiteral("share")}));
    } else if (package == QLatin1String("no program")) {
        QVERIFY(pack(path, tree, {QStringLiteral("lib"), QStringLiteral("share")}));
    } else if (package == QLatin1String("garbage")) {
        QVERIFY(writeFile(path, QByteArray(4096, 'x')));
    } else if (package == QLatin1String("empty")) {
        QVERIFY(writeFile(path, QByteArray()));
    }

    QString location = dir.filePath(QStringLiteral("h\u00f6me/.local/share/meldra"));
    if (locationBlocked) {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("home/file")), "not a folder"));
        location = dir.filePath(QStringLiteral("home/file/meldra"));
    }

    const QByteArray newer = "#!/bin/sh\necho Meldra 1.10.0.0\n";
    QVERIFY(package != QLatin1String("older") ||
            writeFile(location + QStringLiteral("/bin/Meldra"), newer, true));

    InstallEngine engine;
    engine.setPackagePath(path);
    engine.setInstallLocation(location);
    const int code = engine.install();

    if (expected == -1) {
        QVERIFY2(code != 0 && code != InstallEngine::kIncompletePackage, qPrintable(QString::number(code)));
    } else {
        QCOMPARE(code, expected);
    }
    if (code == 0) {
        QCOMPARE(InstallEngine::recordedFolder(), location + QStringLiteral("/bin/"));
        QVERIFY(readFile(recordFile()).contains(location.toUtf8()));
        QVERIFY(QFileInfo(location + QStringLiteral("/bin/Meldra")).isExecutable());
        QCOMPARE(readFile(location + QStringLiteral("/lib/libhiddfu.so")), QByteArray("lib"));
    } else if (package == QLatin1String("older")) {
        QCOMPARE(readFile(location + QStringLiteral("/bin/Meldra")), newer);
    } else {
        QCOMPARE(InstallEngine::recordedFolder(), QString());
        QVERIFY(!QFileInfo::exists(location));
    }
    QVERIFY2(!QFileInfo::exists(location + QStringLiteral(".new")), "the unpacked files were left behind");
}

void TestInstallEngine::updateReplacesInstalledFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString location = dir.filePath(QStringLiteral("installed"));
    const QString package = dir.filePath(QStringLiteral("Meldra.tar.gz"));
    InstallEngine engine;
    engine.setPackagePath(package);
    engine.setInstallLocation(location);

    const QByteArray first = "#!/bin/sh\necho 1\nsleep 1\n";
    QVERIFY(writeFile(dir.filePath(QStringLiteral("v1/bin/Meldra")), first, true));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("v1/share/dropped")), "only in 1"));
    QVERIFY(
        pack(package, dir.filePath(QStringLiteral("v1")), {QStringLiteral("bin"), QStringLiteral("share")}));
    QCOMPARE(engine.install(), 0);

    // The old program keeps running from its folder while the new one takes that folder's name.
    QProcess running;
    running.start(location + QStringLiteral("/bin/Meldra"), QStringList());
    QVERIFY(running.waitForStarted());

    // A version whose program does not start never replaces a working one.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("broken/bin/Meldra")), "#!/bin/sh\nexit 3\n", true));
    QVERIFY(pack(package, dir.filePath(QStringLiteral("broken")), {QStringLiteral("bin")}));
    QCOMPARE(engine.install(), InstallEngine::kCheckFailed);
    QCOMPARE(readFile(location + QStringLiteral("/bin/Meldra")), first);

    QVERIFY(writeFile(dir.filePath(QStringLiteral("v2/bin/Meldra")), "#!/bin/sh\necho 2\n", true));
    QVERIFY(pack(package, dir.filePath(QStringLiteral("v2")), {QStringLiteral("bin")}));
    QCOMPARE(engine.install(), 0);
    QCOMPARE(readFile(location + QStringLiteral("/bin/Meldra")), QByteArray("#!/bin/sh\necho 2\n"));
    QVERIFY2(!QFile::exists(location + QStringLiteral("/share/dropped")), "a file of the old version stayed");
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("installed*")}, QDir::AllEntries | QDir::Hidden),
             QStringList{QStringLiteral("installed")});
    QCOMPARE(InstallEngine::recordedFolder(), location + QStringLiteral("/bin/"));
    QVERIFY(running.waitForFinished());
    QCOMPARE(running.exitCode(), 0);
}

void TestInstallEngine::archiveCannotWriteOutsideLocation() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath(QStringLiteral("tree/bin/Meldra")), "#!/bin/sh\n", true));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("tree/escape")), "outside"));
    const QString package = dir.filePath(QStringLiteral("Meldra.tar.gz"));
    // -P keeps the "../" in the member name, as a hostile archive would have it.
    QVERIFY(pack(package, dir.filePath(QStringLiteral("tree/bin")),
                 {QStringLiteral("Meldra"), QStringLiteral("../escape")}, {QStringLiteral("-P")}));

    const QString location = dir.filePath(QStringLiteral("deep/installed"));
    InstallEngine engine;
    engine.setPackagePath(package);
    engine.setInstallLocation(location);
    QVERIFY(engine.install() != 0);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("deep/escape"))));
    QCOMPARE(InstallEngine::recordedFolder(), QString());
}

void TestInstallEngine::desktopEntryPointsAtInstalledTree() {
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty()) {
        QSKIP("gio (libglib2.0-bin) reads the entry as desktops do");
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tree = dir.filePath(QStringLiteral("tree"));
    const QString marker = dir.filePath(QStringLiteral("started"));
    QVERIFY(writeFile(tree + QStringLiteral("/bin/Meldra"),
                      QStringLiteral("#!/bin/sh\n[ \"$1\" = --version ] && { echo Meldra; exit 0; }\n"
                                     "echo \"$0\" > '%1'\n")
                          .arg(marker)
                          .toUtf8(),
                      true));
    QVERIFY(writeFile(tree + QStringLiteral("/share/applications/example.arca.Meldra.desktop"),
                      "[Desktop Entry]\nType=Application\nName=Sonella\nExec=Meldra\nTryExec=Meldra\n"
                      "Icon=example.arca.Meldra\n"));
    QVERIFY(
        writeFile(tree + QStringLiteral("/share/icons/hicolor/256x256/apps/example.arca.Meldra.png"), "png"));
    const QString package = dir.filePath(QStringLiteral("Meldra.tar.gz"));
    QVERIFY(pack(package, tree, {QStringLiteral("bin"), QStringLiteral("share")}));

    // Every character that the entry's quoting and escaping rules single out.
    const QString location = dir.filePath(QStringLiteral("my \"home\" $HOME %f `x` back\\slash/meldra"));
    InstallEngine engine;
    engine.setPackagePath(package);
    engine.setInstallLocation(location);
    QCOMPARE(engine.install(), 0);

    const QString entry = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          QStringLiteral("/applications/example.arca.Meldra.desktop");
    const QStringList lines = QString::fromUtf8(readFile(entry)).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Name=Sonella")));
    QVERIFY(lines.contains(QStringLiteral("Icon=%1/share/icons/hicolor/256x256/apps/example.arca.Meldra.png")
                               .arg(location)
                               .replace(QStringLiteral("\\"), QStringLiteral("\\\\"))));
    // Started the way a desktop starts it, the entry runs the installed program under its own name.
    QProcess launch;
    launch.start(gio, {QStringLiteral("launch"), entry});
    QVERIFY(launch.waitForFinished());
    QFile::remove(entry);
    QCOMPARE(launch.exitCode(), 0);
    QTRY_VERIFY(!readFile(marker).isEmpty());
    QCOMPARE(QString::fromUtf8(readFile(marker)).trimmed(), location + QStringLiteral("/bin/Meldra"));
}

QTEST_GUILESS_MAIN(TestInstallEngine)
#include "tst_installengine.moc"
