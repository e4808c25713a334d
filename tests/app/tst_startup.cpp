// The programs as processes: command line, single instance between two starts, both programs at once.
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

const QString kMeldra = QStringLiteral(MELDRA_EXE);
const QString kInstaller = QStringLiteral(INSTALLER_EXE);
const QString kTitle = QStringLiteral("Sonella Desktop");

// Top-level windows on this test's own display whose title is the programs' title.
int shownWindows() {
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    if (!xwininfo.waitForFinished(5000)) {
        return -1;
    }
    // The X11 client leader window carries the application name too; it is 1x1 and never shown.
    const QString tree = QString::fromUtf8(xwininfo.readAllStandardOutput());
    const QRegularExpression window(QStringLiteral("\"%1\": \\([^)]*\\)\\s+(\\d+)x(\\d+)").arg(kTitle));
    int count = 0;
    for (auto it = window.globalMatch(tree); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(1).toInt() > 1 && match.captured(2).toInt() > 1) {
            ++count;
        }
    }
    return count;
}

bool waitForWindows(int count, int timeout_ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeout_ms) {
        if (shownWindows() == count) {
            return true;
        }
        QTest::qWait(100);
    }
    return false;
}

}  // namespace

class TstStartup : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    std::vector<std::unique_ptr<QProcess>> m_running;

    std::unique_ptr<QProcess> start(const QString& program, const QStringList& args = {}) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_env);
        process->start(program, args);
        return process;
    }

    // Runs to the end; the exit code, -1000 when it did not end in time, -2000 when it crashed.
    int run(const QString& program, const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr,
            int timeout_ms = 15000) {
        auto process = start(program, args);
        if (!process->waitForFinished(timeout_ms)) {
            process->kill();
            process->waitForFinished();
            return -1000;
        }
        if (out) {
            *out = process->readAllStandardOutput();
        }
        if (err) {
            *err = process->readAllStandardError();
        }
        return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -2000;
    }

    QProcess* startFirst(const QString& program) {
        m_running.push_back(start(program));
        QProcess* first = m_running.back().get();
        if (!first->waitForStarted(10000)) {
            return nullptr;
        }
        return first;
    }

    static bool ended(QProcess* process, int timeout_ms) {
        return process->state() == QProcess::NotRunning || process->waitForFinished(timeout_ms);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // A private temporary, runtime and home folder: the single-instance key of this test meets no
        // program that the developer or another test runs at the same time.
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("TMPDIR"), m_dir.path());
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        m_env.insert(QStringLiteral("HOME"), m_dir.path());
        m_env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(HIDSIM_LIB));
        m_env.insert(QStringLiteral("MELDRA_UPDATE_URL"), QStringLiteral("http://127.0.0.1:9"));
        m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_env.remove(QStringLiteral("HIDSIM_SCENARIO"));
        QCOMPARE(shownWindows(), 0);
    }

    void cleanup() {
        for (auto& p : m_running) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        m_running.clear();
        QVERIFY(waitForWindows(0, 5000));
    }

    void version() {
        QByteArray out;
        QCOMPARE(run(kMeldra, {QStringLiteral("--version")}, &out), 0);
        QCOMPARE(out, QByteArray("Sonella - Headset Pairing & Update Utility 1.2.217.0\n"));
    }

    void help_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("long") << "--help";
        QTest::newRow("short") << "-h";
    }
    void help() {
        QFETCH(QString, option);
        QByteArray out;
        QCOMPARE(run(kMeldra, {option}, &out), 0);
        const QString text = QString::fromUtf8(out);
        QVERIFY2(text.contains(QStringLiteral("Sonella - Headset Pairing & Update Utility")), qPrintable(text));
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("-c, --close\\s+Close application instance\\."))),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("--version")));
    }

    void unknownOptionIsRejected() {
        QByteArray err;
        QCOMPARE(run(kMeldra, {QStringLiteral("--frobnicate")}, nullptr, &err), 1);
        QVERIFY2(err.contains("Unknown option 'frobnicate'"), err.constData());
    }

    void closeWithoutInstanceExitsAtOnce_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("short") << "-c";
        QTest::newRow("long") << "--close";
    }
    void closeWithoutInstanceExitsAtOnce() {
        QFETCH(QString, option);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run(kMeldra, {option}), 0);
        // No instance: no connection is attempted, so none of the one-second waits applies.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(shownWindows(), 0);
    }

    void closeEndsRunningInstance() {
        QProcess* first = startFirst(kMeldra);
        QVERIFY(first);
        QVERIFY(waitForWindows(1));
        QCOMPARE(run(kMeldra, {QStringLiteral("--close")}), 0);
        QVERIFY(ended(first, 10000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
    }

    void secondStartHandsOverAndExits() {
        QProcess* first = startFirst(kMeldra);
        QVERIFY(first);
        QVERIFY(waitForWindows(1));
        QCOMPARE(run(kMeldra, {}), 0);
        // The second start showed no window of its own and the first one keeps running.
        QCOMPARE(shownWindows(), 1);
        QCOMPARE(first->state(), QProcess::Running);
    }

    void secondInstallerExits() {
        QProcess* first = startFirst(kInstaller);
        QVERIFY(first);
        QVERIFY(waitForWindows(1));
        QCOMPARE(run(kInstaller, {}), 0);
        QCOMPARE(shownWindows(), 1);
        QCOMPARE(first->state(), QProcess::Running);
    }

    void bothProgramsRunAtOnce() {
        QVERIFY(startFirst(kMeldra));
        QVERIFY(waitForWindows(1));
        QVERIFY(startFirst(kInstaller));
        QVERIFY(waitForWindows(2));
        for (auto& p : m_running) {
            QCOMPARE(p->state(), QProcess::Running);
        }
    }

    void killedInstanceDoesNotBlockNextStart() {
        QProcess* first = startFirst(kMeldra);
        QVERIFY(first);
        QVERIFY(waitForWindows(1));
        ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
        QVERIFY(ended(first, 5000));
        QVERIFY(waitForWindows(0));
        QProcess* next = startFirst(kMeldra);
        QVERIFY(next);
        QVERIFY(waitForWindows(1));
        QCOMPARE(next->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
