#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>
#include <memory>

#include "common/appextension.h"
#include "tests/shell/shellprocess.h"

namespace {

QString uniqueKey() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

}  // namespace

// The system bus of this process is a private daemon (DBUS_SYSTEM_BUS_ADDRESS); a stand-in for logind
// serves Inhibit on it and reports when the descriptor it handed out has been closed by every holder.
class SleepInhibitorTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void holdsAndReleasesDescriptor();
    void startedProgramDoesNotKeepIt();
    void releasedWithExtension();
    void refused_data();
    void refused();

private:
    std::unique_ptr<ShellProcess> startLogind(bool deny);

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_daemon;
    QString m_address;
    std::unique_ptr<ShellProcess> m_logind;
};

void SleepInhibitorTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(m_dir.filePath(QStringLiteral("bus")))
            .toUtf8());
    file.close();

    m_daemon = std::make_unique<QProcess>();
    m_daemon->start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                     QStringLiteral("--config-file=") + config});
    if (!m_daemon->waitForStarted(5000)) {
        QSKIP("dbus-daemon is not installed");
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_daemon->canReadLine(), 5000);
    m_address = QString::fromUtf8(m_daemon->readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
    // Read once by libdbus, before the first use of the system bus in this process.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
}

void SleepInhibitorTest::cleanupTestCase() {
    m_logind.reset();
    if (m_daemon) {
        m_daemon->kill();
        m_daemon->waitForFinished(3000);
    }
}

void SleepInhibitorTest::cleanup() {
    m_logind.reset();
}

std::unique_ptr<ShellProcess> SleepInhibitorTest::startLogind(bool deny) {
    QStringList args{m_address};
    if (deny) {
        args << QStringLiteral("deny");
    }
    auto logind = std::make_unique<ShellProcess>(QStringLiteral(FAKE_LOGIND), args);
    if (logind->nextLine() != QLatin1String("ready")) {
        return nullptr;
    }
    return logind;
}

void SleepInhibitorTest::holdsAndReleasesDescriptor() {
    m_logind = startLogind(false);
    QVERIFY(m_logind);
    Common::AppExtension extension(uniqueKey());

    QVERIFY(extension.setSystemSleepEnabled(false));
    const QStringList request = m_logind->nextLine().split(QLatin1Char('|'));
    QCOMPARE(request.size(), 4);
    QCOMPARE(request.at(0), QStringLiteral("inhibit sleep:idle"));
    QVERIFY(!request.at(1).isEmpty());
    QCOMPARE(request.at(3), QStringLiteral("block"));
    // Held, not merely asked for and dropped.
    QVERIFY(m_logind->nextLine(300).isEmpty());

    // A second hold keeps the one inhibitor instead of stacking another.
    QVERIFY(extension.setSystemSleepEnabled(false));
    QVERIFY(m_logind->nextLine(300).isEmpty());

    QVERIFY(extension.setSystemSleepEnabled(true));
    QCOMPARE(m_logind->nextLine(), QStringLiteral("released 1"));
    QVERIFY(extension.setSystemSleepEnabled(true));
    QVERIFY(m_logind->nextLine(300).isEmpty());

    // Holding again after a release asks anew.
    QVERIFY(extension.setSystemSleepEnabled(false));
    QVERIFY(m_logind->nextLine().startsWith(QLatin1String("inhibit ")));
    QVERIFY(extension.setSystemSleepEnabled(true));
    QCOMPARE(m_logind->nextLine(), QStringLiteral("released 2"));
}

void SleepInhibitorTest::startedProgramDoesNotKeepIt() {
    m_logind = startLogind(false);
    QVERIFY(m_logind);
    Common::AppExtension extension(uniqueKey());
    QVERIFY(extension.setSystemSleepEnabled(false));
    QVERIFY(m_logind->nextLine().startsWith(QLatin1String("inhibit ")));

    // A program started while sleep is held (the pairing software, the installer) outlives the hold.
    QProcess child;
    child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(child.waitForStarted());
    QVERIFY(extension.setSystemSleepEnabled(true));
    const QString released = m_logind->nextLine(3000);
    child.kill();
    child.waitForFinished();
    QCOMPARE(released, QStringLiteral("released 1"));
}

void SleepInhibitorTest::releasedWithExtension() {
    m_logind = startLogind(false);
    QVERIFY(m_logind);
    {
        Common::AppExtension extension(uniqueKey());
        QVERIFY(extension.setSystemSleepEnabled(false));
        QVERIFY(m_logind->nextLine().startsWith(QLatin1String("inhibit ")));
    }
    QCOMPARE(m_logind->nextLine(), QStringLiteral("released 1"));
}

void SleepInhibitorTest::refused_data() {
    QTest::addColumn<QString>("situation");
    QTest::newRow("service refuses") << QStringLiteral("deny");
    QTest::newRow("no service on the bus") << QStringLiteral("no service");
    QTest::newRow("no bus at all") << QStringLiteral("no bus");
}

void SleepInhibitorTest::refused() {
    QFETCH(QString, situation);

    if (situation == QLatin1String("no bus")) {
        // libdbus reads the address once per process, so this runs in a process of its own.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                   QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("missing")));
        ShellProcess probe(QStringLiteral(INSTANCE_PROBE), {QStringLiteral("sleep"), uniqueKey()}, env);
        const QString line = probe.nextLine();
        QVERIFY2(line.startsWith(QLatin1String("sleep=0 ")), qPrintable(line));
        QVERIFY2(line.section(QLatin1String("ms="), 1).toInt() < 1000, qPrintable(line));
        int code = -1;
        QVERIFY(probe.finished(3000, &code));
        QCOMPARE(code, 0);
        return;
    }
    if (situation == QLatin1String("deny")) {
        m_logind = startLogind(true);
        QVERIFY(m_logind);
    }
    Common::AppExtension extension(uniqueKey());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!extension.setSystemSleepEnabled(false));
    QVERIFY(timer.elapsed() < 2500);
    // Allowing sleep when nothing is held is no failure.
    QVERIFY(extension.setSystemSleepEnabled(true));
}

QTEST_GUILESS_MAIN(SleepInhibitorTest)
#include "tst_sleepinhibitor.moc"
