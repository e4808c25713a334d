// The programs as processes: command line, single instance between two starts, both programs at once.
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

const QString kMeldra = QStringLiteral(MELDRA_EXE);
const QString kInstaller = QStringLiteral(INSTALLER_EXE);
const QString kTitle = QStringLiteral("Sonella Desktop");
const QString kReceiverImage = QStringLiteral(RECEIVER_IMAGE);

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
    int run(const QString& program, const QStringList& args, QByteArray* out = nullptr,
            QByteArray* err = nullptr, int timeout_ms = 15000) {
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

    // The first instance with the driver loaded, which clicks by object name and logs every status, the
    // activations and, as the program ends, the simulated devices.
    QProcess* startDriven() {
        QFile::remove(driverLog());
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = m_env;
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(HIDSIM_LIB ":" SOAK_DRIVER_LIB));
        env.insert(QStringLiteral("MELDRA_SOAK_DRIVER"), m_dir.filePath(QStringLiteral("driver.sock")));
        env.insert(QStringLiteral("MELDRA_SOAK_LOG"), driverLog());
        process->setProcessEnvironment(env);
        process->start(kMeldra, QStringList());
        m_running.push_back(std::move(process));
        QElapsedTimer timer;
        timer.start();
        while (ask(QStringLiteral("page")) != QLatin1String("welcomePage")) {
            if (timer.elapsed() > 30000 || m_running.back()->state() == QProcess::NotRunning) {
                return nullptr;
            }
            QTest::qWait(100);
        }
        return m_running.back().get();
    }

    QString driverLog() const { return m_dir.filePath(QStringLiteral("driver.log")); }

    QStringList logged() const {
        QFile file(driverLog());
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QString ask(const QString& line) {
        QLocalSocket socket;
        socket.connectToServer(m_dir.filePath(QStringLiteral("driver.sock")));
        if (!socket.waitForConnected(2000)) {
            return {};
        }
        socket.write(line.toUtf8() + '\n');
        while (!socket.canReadLine() && socket.waitForReadyRead(10000)) {
        }
        return QString::fromUtf8(socket.readLine()).trimmed();
    }

    // Waits until the driver can click `name` on the current page, then clicks it.
    bool click(const QString& name, const QString& modifier = QString()) {
        QElapsedTimer timer;
        timer.start();
        while (ask(QStringLiteral("shown ") + name) != QLatin1String("1")) {
            if (timer.elapsed() > 20000) {
                return false;
            }
            QTest::qWait(100);
        }
        return ask(QStringLiteral("click %1 %2").arg(name, modifier).trimmed()) == QLatin1String("ok");
    }

    // The receiver page with the file chooser open over it.
    bool openFileChooser() {
        if (!click(QStringLiteral("receiverTile"))) {
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        while (ask(QStringLiteral("page")) != QLatin1String("receiverPage") && timer.elapsed() < 20000) {
            QTest::qWait(100);
        }
        if (!click(QStringLiteral("versionLabel"), QStringLiteral("alt"))) {
            return false;
        }
        while (ask(QStringLiteral("windows")).count(QLatin1Char('|')) != 1 && timer.elapsed() < 40000) {
            QTest::qWait(100);
        }
        return ask(QStringLiteral("windows")).count(QLatin1Char('|')) == 1;
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

    // The version the program states is the one its package carries.
    void version() {
        QFile config(QStringLiteral(CPACK_CONFIG));
        QVERIFY(config.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch package =
            QRegularExpression(QStringLiteral("set\\(CPACK_PACKAGE_VERSION \"([0-9.]+)\"\\)"))
                .match(QString::fromUtf8(config.readAll()));
        QVERIFY(package.hasMatch());
        QByteArray out;
        QCOMPARE(run(kMeldra, {QStringLiteral("--version")}, &out), 0);
        QCOMPARE(out, "Sonella - Headset Pairing & Update Utility " + package.captured(1).toUtf8() + '\n');
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
        QVERIFY2(text.contains(QStringLiteral("Sonella - Headset Pairing & Update Utility")),
                 qPrintable(text));
        QVERIFY2(
            text.contains(QRegularExpression(QStringLiteral("-c, --close\\s+Close application instance\\."))),
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

    void closeEndsRunningInstance_data() {
        QTest::addColumn<int>("signal");  // 0: the close option
        QTest::newRow("close option") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void closeEndsRunningInstance() {
        QFETCH(int, signal);
        QProcess* first = startFirst(kMeldra);
        QVERIFY(first);
        QVERIFY(waitForWindows(1));
        if (signal == 0) {
            QCOMPARE(run(kMeldra, {QStringLiteral("--close")}), 0);
        } else {
            QCOMPARE(::kill(static_cast<pid_t>(first->processId()), signal), 0);
        }
        QVERIFY(ended(first, 10000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        // Neither the socket nor the shared memory's key files may outlive the program; the lock file may.
        const QStringList left = QDir(m_dir.path())
                                     .entryList({QStringLiteral("*.socket"), QStringLiteral("qipc_*")},
                                                QDir::Files | QDir::System);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
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

    // A dialog that was closed keeps its window, hidden; a second start must not show it again.
    void secondStartLeavesHiddenWindowsHidden() {
        QVERIFY(startDriven());
        QVERIFY(openFileChooser());
        QCOMPARE(ask(QStringLiteral("cancel")), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(ask(QStringLiteral("windows")), QStringLiteral("mainWindow"), 10000);

        QCOMPARE(run(kMeldra, {}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(logged().contains(QStringLiteral("activateRequested")), 10000);
        QCOMPARE(ask(QStringLiteral("windows")), QStringLiteral("mainWindow"));
    }

    void closeWaitsForRunningUpdate_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("close option") << "option";
        QTest::newRow("window closed") << "window";
        QTest::newRow("SIGTERM") << "signal";
    }

    // A close asked for during an update waits for its end: the device is never left half-flashed, and
    // the starts that come meanwhile are served.
    void closeWaitsForRunningUpdate() {
        QFETCH(QString, how);
        QProcess* first = startDriven();
        QVERIFY(first);
        QVERIFY(openFileChooser());
        QCOMPARE(ask(QStringLiteral("choose ") + kReceiverImage), QStringLiteral("ok"));
        // The simulator paces the transfer as a full-speed device does: this image takes many seconds.
        QTRY_VERIFY_WITH_TIMEOUT(logged().contains(QStringLiteral("update status 2")), 60000);

        if (how == QLatin1String("window")) {
            QCOMPARE(ask(QStringLiteral("closewindow")), QStringLiteral("refused"));
        } else if (how == QLatin1String("signal")) {
            QCOMPARE(::kill(static_cast<pid_t>(first->processId()), SIGTERM), 0);
        } else {
            QCOMPARE(run(kMeldra, {QStringLiteral("--close")}), 0);
        }
        QCOMPARE(run(kMeldra, {}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(logged().contains(QStringLiteral("activateRequested")), 10000);
        QVERIFY2(!logged().contains(QStringLiteral("update status 5")),
                 "the update ended before the close came");
        QCOMPARE(first->state(), QProcess::Running);

        QVERIFY(ended(first, 120000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        const QStringList log = logged();
        const QStringList statuses = log.filter(QStringLiteral("update status"));
        QVERIFY2(statuses.value(statuses.size() - 1) == QLatin1String("update status 5"),
                 qPrintable(log.join(' ')));
        QVERIFY2(log.contains(QStringLiteral("exit device R-0001 1.46.0 normal")), qPrintable(log.join(' ')));
        QVERIFY(waitForWindows(0));

        // And the next start is a first instance again.
        QVERIFY(startFirst(kMeldra));
        QVERIFY(waitForWindows(1));
    }
};

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
