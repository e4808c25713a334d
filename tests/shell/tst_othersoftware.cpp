#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "common/othersoftware.h"
#include "platform/systemsettings.h"

namespace {

const char* const kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvin\\Pairwell";

// A program that leaves a note of which copy of it ran.
bool installProgram(const QString& path, const QString& note, bool executable = true) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QString quoted = note;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    file.write(QStringLiteral("#!/bin/sh\necho ran > '%1'\n").arg(quoted).toUtf8());
    file.close();
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (executable) {
        permissions |= QFileDevice::ExeOwner;
    }
    return file.setPermissions(permissions);
}

}  // namespace

class OtherSoftwareTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void supportLink();
    void settingsFileLocation();
    void runsPairingSoftware_data();
    void runsPairingSoftware();

private:
    QString m_rootPath;
    QTemporaryDir m_root;
};

void OtherSoftwareTest::initTestCase() {
    QVERIFY(m_root.isValid());
    qputenv("MELDRA_SYSTEM_ROOT", QFile::encodeName(m_root.path()));
}

void OtherSoftwareTest::init() {
    // Each row builds its own machine from scratch.
    const QDir root(m_root.path());
    for (const QString& entry : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QVERIFY(QDir(root.filePath(entry)).removeRecursively());
    }
}

void OtherSoftwareTest::supportLink() {
    Common::OtherSoftware software;
    const QUrl link = software.getPairwellSoftwareLink();
    QVERIFY(link.isValid());
    QCOMPARE(link.scheme(), QStringLiteral("https"));
    QVERIFY(!link.host().isEmpty());
    QCOMPARE(link.path(), QStringLiteral("/hc/en-us/articles/360025297913"));
    QVERIFY(!link.hasQuery());
}

void OtherSoftwareTest::settingsFileLocation() {
    const Platform::SystemSettings settings(QString::fromLatin1(kKey));
    QCOMPARE(settings.location(), m_root.path() + QStringLiteral("/etc/xdg/Corvin/Pairwell.ini"));
}

void OtherSoftwareTest::runsPairingSoftware_data() {
    QTest::addColumn<QString>("folder");       // ExecutablePath below the root; null: no settings file
    QTest::addColumn<QString>("name");         // ExecutableName
    QTest::addColumn<QString>("installedAt");  // where the program lies below the root; empty: nowhere
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("fallback");  // whether a program lies at the fallback path
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("ran");  // "installed", "fallback" or "none"

    const QString name = QStringLiteral("PairHost");
    QTest::newRow("folder ending in a separator")
        << QStringLiteral("/apps/Pairwell/") << name << QStringLiteral("/apps/Pairwell/PairHost") << true
        << true << true << QStringLiteral("installed");
    QTest::newRow("folder without a separator falls back")
        << QStringLiteral("/apps/Pairwell") << name << QStringLiteral("/apps/Pairwell/PairHost") << true
        << true << true << QStringLiteral("fallback");
    QTest::newRow("folder without a separator, no fallback")
        << QStringLiteral("/apps/Pairwell") << name << QStringLiteral("/apps/Pairwell/PairHost") << true
        << false << false << QStringLiteral("none");
    QTest::newRow("path with blanks") << QStringLiteral("/Program Files/Corvin Pairwell/") << name
                                      << QStringLiteral("/Program Files/Corvin Pairwell/PairHost") << true
                                      << false << true << QStringLiteral("installed");
    QTest::newRow("path with a double quote")
        << QStringLiteral("/apps/odd\" name/") << name << QStringLiteral("/apps/odd\" name/PairHost") << true
        << false << true << QStringLiteral("installed");
    QTest::newRow("path with a comma") << QStringLiteral("/apps/Corvin, Pairwell/") << name
                                       << QStringLiteral("/apps/Corvin, Pairwell/PairHost") << true << false
                                       << true << QStringLiteral("installed");
    QTest::newRow("no settings, fallback present")
        << QString() << QString() << QString() << true << true << true << QStringLiteral("fallback");
    QTest::newRow("neither present") << QString() << QString() << QString() << true << false << false
                                     << QStringLiteral("none");
    QTest::newRow("name missing, folder is no program")
        << QStringLiteral("/apps/Pairwell/") << QString() << QStringLiteral("/apps/Pairwell/PairHost") << true
        << true << true << QStringLiteral("fallback");
    QTest::newRow("relative path is not looked up")
        << QStringLiteral("") << name << QStringLiteral("/cwd/PairHost") << true << false << false
        << QStringLiteral("none");
    QTest::newRow("program that cannot start")
        << QStringLiteral("/apps/Pairwell/") << name << QStringLiteral("/apps/Pairwell/PairHost") << false
        << false << false << QStringLiteral("none");
}

void OtherSoftwareTest::runsPairingSoftware() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, installedAt);
    QFETCH(bool, executable);
    QFETCH(bool, fallback);
    QFETCH(bool, result);
    QFETCH(QString, ran);

    const QString root = m_root.path();
    const QString notes = root + QStringLiteral("/notes");
    QVERIFY(QDir().mkpath(notes));
    const QString installedNote = notes + QStringLiteral("/installed");
    const QString fallbackNote = notes + QStringLiteral("/fallback");

    if (!folder.isNull()) {
        const Platform::SystemSettings location(QString::fromLatin1(kKey));
        QSettings ini(location.location(), QSettings::IniFormat);
        // A relative folder stays relative; the others are absolute below the root.
        ini.setValue(QStringLiteral("ExecutablePath"), folder.isEmpty() ? folder : root + folder);
        ini.setValue(QStringLiteral("ExecutableName"), name);
        ini.sync();
        QCOMPARE(ini.status(), QSettings::NoError);
    }
    if (!installedAt.isEmpty()) {
        QVERIFY(installProgram(root + installedAt, installedNote, executable));
    }
    if (fallback) {
        QVERIFY(installProgram(root + QStringLiteral("/opt/ArcaShrd/ArcaOptions/Pairwell/PairHost"),
                               fallbackNote));
    }
    // A program of that name in the current directory must not be what a relative entry finds.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir().mkpath(root + QStringLiteral("/cwd")));
    QVERIFY(QDir::setCurrent(root + QStringLiteral("/cwd")));

    Common::OtherSoftware software;
    const bool started = software.runPairwellSoftware();
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(started, result);

    if (ran == QLatin1String("none")) {
        QTest::qWait(300);
        QVERIFY(!QFile::exists(installedNote));
        QVERIFY(!QFile::exists(fallbackNote));
    } else {
        const QString expectedNote = ran == QLatin1String("installed") ? installedNote : fallbackNote;
        const QString otherNote = ran == QLatin1String("installed") ? fallbackNote : installedNote;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(expectedNote), 5000);
        QVERIFY(!QFile::exists(otherNote));
    }
}

QTEST_GUILESS_MAIN(OtherSoftwareTest)
#include "tst_othersoftware.moc"
