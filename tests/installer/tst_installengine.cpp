#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/installengine.h"

using Platform::InstallEngine;

namespace {

bool writeFile(const QString& path, const QByteArray& content, bool executable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    file.write(content);
    file.close();
    return !executable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Packs the tree below root into a gzip'd tar whose members are the given relative names.
bool pack(const QString& package, const QString& root, const QStringList& members,
          const QStringList& extra = {}) {
    return QProcess::execute(QStringLiteral("tar"), QStringList{QStringLiteral("-czf"), package} + extra +
                                                        QStringList{QStringLiteral("-C"), root} + members) ==
           0;
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
    QVERIFY(command.arguments.contains(engine.installLocation()));
}

void TestInstallEngine::install_data() {
    QTest::addColumn<QString>("package");  // "good", "empty", "garbage", "missing", "no program"
    QTest::addColumn<bool>("locationBlocked");
    QTest::addColumn<int>("expected");  // -1: any failure reported by the engine process itself

    QTest::newRow("package with the program") << QStringLiteral("good") << false << 0;
    QTest::newRow("missing package") << QStringLiteral("missing") << false << -1;
    QTest::newRow("not an archive") << QStringLiteral("garbage") << false << -1;
    QTest::newRow("empty file") << QStringLiteral("empty") << false << -1;
    QTest::newRow("archive without the program")
        << QStringLiteral("no program") << false << InstallEngine::kIncompletePackage;
    QTest::newRow("location cannot be created")
        << QStringLiteral("good") << true << InstallEngine::kPrepareFailed;
}

void TestInstallEngine::install() {
    QFETCH(QString, package);
    QFETCH(bool, locationBlocked);
    QFETCH(int, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tree = dir.filePath(QStringLiteral("tree"));
    QVERIFY(writeFile(tree + QStringLiteral("/bin/Meldra"), "#!/bin/sh\n", true));
    QVERIFY(writeFile(tree + QStringLiteral("/lib/libhiddfu.so"), "lib"));
    QVERIFY(writeFile(tree + QStringLiteral("/share/doc/readme"), "doc"));

    const QString path = dir.filePath(QStringLiteral("data/Meldra.tar.gz"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("data"))));
    if (package == QLatin1String("good")) {
        QVERIFY(pack(path, tree, {QStringLiteral("bin"), QStringLiteral("lib"), QStringLiteral("share")}));
    } else if (package == QLatin1String("no program")) {
        QVERIFY(pack(path, tree, {QStringLiteral("lib"), QStringLiteral("share")}));
    } else if (package == QLatin1String("garbage")) {
        QVERIFY(writeFile(path, QByteArray(4096, 'x')));
    } else if (package == QLatin1String("empty")) {
        QVERIFY(writeFile(path, QByteArray()));
    }

    QString location = dir.filePath(QStringLiteral("home/.local/share/meldra"));
    if (locationBlocked) {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("home/file")), "not a folder"));
        location = dir.filePath(QStringLiteral("home/file/meldra"));
    }

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
        QVERIFY(QFileInfo(location + QStringLiteral("/bin/Meldra")).isExecutable());
        QCOMPARE(readFile(location + QStringLiteral("/lib/libhiddfu.so")), QByteArray("lib"));
    } else {
        QCOMPARE(InstallEngine::recordedFolder(), QString());
    }
}

void TestInstallEngine::updateReplacesInstalledFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString location = dir.filePath(QStringLiteral("installed"));
    const QString package = dir.filePath(QStringLiteral("Meldra.tar.gz"));
    InstallEngine engine;
    engine.setPackagePath(package);
    engine.setInstallLocation(location);

    QVERIFY(writeFile(dir.filePath(QStringLiteral("v1/bin/Meldra")), "#!/bin/sh\necho 1\n", true));
    QVERIFY(pack(package, dir.filePath(QStringLiteral("v1")), {QStringLiteral("bin")}));
    QCOMPARE(engine.install(), 0);

    // The old program keeps running from its unlinked file while the new one takes its name.
    QProcess running;
    running.start(location + QStringLiteral("/bin/Meldra"), QStringList());
    QVERIFY(running.waitForStarted());

    QVERIFY(writeFile(dir.filePath(QStringLiteral("v2/bin/Meldra")), "#!/bin/sh\necho 2\n", true));
    QVERIFY(pack(package, dir.filePath(QStringLiteral("v2")), {QStringLiteral("bin")}));
    QCOMPARE(engine.install(), 0);
    QCOMPARE(readFile(location + QStringLiteral("/bin/Meldra")), QByteArray("#!/bin/sh\necho 2\n"));
    QVERIFY(running.waitForFinished());
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
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tree = dir.filePath(QStringLiteral("tree"));
    QVERIFY(writeFile(tree + QStringLiteral("/bin/Meldra"), "#!/bin/sh\n", true));
    QVERIFY(writeFile(tree + QStringLiteral("/share/applications/example.arca.Meldra.desktop"),
                      "[Desktop Entry]\nType=Application\nName=Sonella\nExec=Meldra\nTryExec=Meldra\n"
                      "Icon=example.arca.Meldra\n"));
    QVERIFY(
        writeFile(tree + QStringLiteral("/share/icons/hicolor/256x256/apps/example.arca.Meldra.png"), "png"));
    const QString package = dir.filePath(QStringLiteral("Meldra.tar.gz"));
    QVERIFY(pack(package, tree, {QStringLiteral("bin"), QStringLiteral("share")}));

    const QString location = dir.filePath(QStringLiteral("with blank/meldra"));
    InstallEngine engine;
    engine.setPackagePath(package);
    engine.setInstallLocation(location);
    QCOMPARE(engine.install(), 0);

    const QString entry = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          QStringLiteral("/applications/example.arca.Meldra.desktop");
    const QStringList lines = QString::fromUtf8(readFile(entry)).split(QLatin1Char('\n'));
    QFile::remove(entry);
    QVERIFY(lines.contains(QStringLiteral("Name=Sonella")));
    QVERIFY(lines.contains(QStringLiteral("Exec=\"%1/bin/Meldra\"").arg(location)));
    QVERIFY(lines.contains(QStringLiteral("TryExec=%1/bin/Meldra").arg(location)));
    QVERIFY(lines.contains(
        QStringLiteral("Icon=%1/share/icons/hicolor/256x256/apps/example.arca.Meldra.png").arg(location)));
}

QTEST_GUILESS_MAIN(TestInstallEngine)
#include "tst_installengine.moc"
