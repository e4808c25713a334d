#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <QWindow>
#include <QtTest>
#include <cstring>

#include "common/appextension.h"
#include "common/iothersoftware.h"
#include "platform/instancelock.h"
#include "tests/shell/shellprocess.h"

Q_DECLARE_METATYPE(const QMetaObject*)

namespace {

QString uniqueKey() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QByteArray encode(qint32 value) {
    QByteArray bytes(sizeof(value), Qt::Uninitialized);
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

// A first instance on `key`, already listening when this returns.
std::unique_ptr<ShellProcess> startFirst(
    const QString& key, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    auto probe = std::make_unique<ShellProcess>(QStringLiteral(INSTANCE_PROBE),
                                                QStringList{QStringLiteral("start"), key}, env);
    const QString line = probe->nextLine();
    if (line != QLatin1String("serving")) {
        qWarning() << "first instance said" << line;
        return nullptr;
    }
    return probe;
}

// A second start as main makes it: the line it prints and its exit code.
QString runOnce(const QString& mode, const QString& key, int* code,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    ShellProcess probe(QStringLiteral(INSTANCE_PROBE), QStringList{mode, key}, env);
    const QString line = probe.nextLine();
    if (!probe.finished(5000, code)) {
        *code = -100;
    }
    return line;
}

struct RawOutcome {
    QByteArray answer;
    bool droppedByServer = false;
    qint64 elapsedMs = 0;
};

enum class Ending { WaitForAnswer, HangUp };

// Speaks the wire format directly, the way no well-behaved second instance would.
RawOutcome rawExchange(const QString& key, const QByteArray& first, int pauseMs, const QByteArray& second,
                       Ending ending) {
    RawOutcome outcome;
    QLocalSocket client;
    client.connectToServer(Platform::InstanceLock::serverName(key));
    if (!client.waitForConnected(1000)) {
        return outcome;
    }
    QElapsedTimer timer;
    timer.start();
    if (!first.isEmpty()) {
        client.write(first);
        client.waitForBytesWritten(1000);
    }
    if (pauseMs > 0) {
        QThread::msleep(static_cast<unsigned long>(pauseMs));
    }
    if (!second.isEmpty()) {
        client.write(second);
        client.waitForBytesWritten(1000);
    }
    if (ending == Ending::HangUp) {
        client.abort();
        return outcome;
    }
    const QDeadlineTimer deadline(4000);
    while (client.bytesAvailable() < 4 && client.state() == QLocalSocket::ConnectedState &&
           !deadline.hasExpired()) {
        client.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    outcome.answer = client.read(4);
    if (outcome.answer.isEmpty()) {
        outcome.droppedByServer = client.state() != QLocalSocket::ConnectedState;
    }
    outcome.elapsedMs = timer.elapsed();
    return outcome;
}

}  // namespace

class AppExtensionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void qmlFace_data();
    void qmlFace();

    void secondStartActivatesFirst();
    void closeEndsFirstInstance();
    void rawRequests_data();
    void rawRequests();
    void onlyInstanceSendsNothing_data();
    void onlyInstanceSendsNothing();
    void killedFirstInstanceDoesNotBlock();
    void serverGoesBeforeLock();
    void closingInstanceHandsOver();
    void deliverablesRunTogether();
    void instanceFolder_data();
    void instanceFolder();
    void otherUserNeitherBlocksNorObeys();

    void windowServicesLeaveWindowAlone_data();
    void windowServicesLeaveWindowAlone();

private:
    QTemporaryDir m_runtime;
};

void AppExtensionTest::initTestCase() {
    // Every instance of this run, in and out of process, keeps its lock and socket here.
    QVERIFY(m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), m_runtime.path());
}

void AppExtensionTest::qmlFace_data() {
    QTest::addColumn<const QMetaObject*>("meta");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QStringList>("methods");

    // QML and the lead's start-up code call these by name; a rename or a changed signature breaks them
    // without a compiler error.
    QTest::newRow("application extension")
        << &Common::IAppExtension::staticMetaObject << QStringLiteral("Common::IAppExtension")
        << QStringList{QStringLiteral("signal void activateRequested()"),
                       QStringLiteral("signal void closeRequested()"),
                       QStringLiteral("method bool setSystemSleepEnabled(bool _enabled)"),
                       QStringLiteral("method bool hasRunningInstance()"),
                       QStringLiteral("method bool activateRunningInstance()"),
                       QStringLiteral("method bool closeRunningInstance()"),
                       QStringLiteral("method void decorateWindow(QObject* _obj)"),
                       QStringLiteral("method void setCloseButtonEnabled(QObject* _obj,bool _enabled)")};
    QTest::newRow("pairing software launcher")
        << &Common::IOtherSoftware::staticMetaObject << QStringLiteral("Common::IOtherSoftware")
        << QStringList{QStringLiteral("method QUrl getPairwellSoftwareLink()"),
                       QStringLiteral("method bool runPairwellSoftware()")};
}

void AppExtensionTest::qmlFace() {
    QFETCH(const QMetaObject*, meta);
    QFETCH(QString, className);
    QFETCH(QStringList, methods);

    QCOMPARE(QString::fromLatin1(meta->className()), className);
    QStringList seen;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        const QString kind =
            method.methodType() == QMetaMethod::Signal ? QStringLiteral("signal") : QStringLiteral("method");
        QStringList params;
        for (int p = 0; p < method.parameterCount(); ++p) {
            params << QString::fromLatin1(method.parameterTypes().at(p) + ' ' +
                                          method.parameterNames().at(p));
        }
        seen << QStringLiteral("%1 %2 %3(%4)")
                    .arg(kind, QString::fromLatin1(method.typeName()), QString::fromLatin1(method.name()),
                         params.join(QLatin1Char(',')));
    }
    QCOMPARE(seen, methods);
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
}

void AppExtensionTest::secondStartActivatesFirst() {
    const QString key = uniqueKey();
    auto first = startFirst(key);
    QVERIFY(first);

    int code = -1;
    QCOMPARE(runOnce(QStringLiteral("start"), key, &code), QStringLiteral("activate=1"));
    QCOMPARE(code, 0);
    QCOMPARE(first->nextLine(), QStringLiteral("activateRequested"));

    // Exactly once: the next thing the first instance reports is the close that follows.
    QCOMPARE(runOnce(QStringLiteral("close"), key, &code).left(7), QStringLiteral("close=1"));
    QCOMPARE(first->nextLine(), QStringLiteral("closeRequested"));
}

void AppExtensionTest::closeEndsFirstInstance() {
    const QString key = uniqueKey();
    auto first = startFirst(key);
    QVERIFY(first);

    int code = -1;
    QCOMPARE(runOnce(QStringLiteral("close"), key, &code).left(7), QStringLiteral("close=1"));
    QCOMPARE(code, 0);
    QCOMPARE(first->linesUntil(QStringLiteral("stopped")),
             (QStringList{QStringLiteral("closeRequested"), QStringLiteral("stopped")}));
    int firstCode = -1;
    QVERIFY(first->finished(3000, &firstCode));
    QCOMPARE(firstCode, 0);

    // The name is free again: the next start is a first instance.
    QVERIFY(startFirst(key));
}

void AppExtensionTest::rawRequests_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("hangUp");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("expected");

    const QByteArray ack = encode(1);
    const QStringList none;
    const QStringList activated{QStringLiteral("activateRequested")};
    QTest::newRow("activate") << encode(2) << 0 << QByteArray() << false << ack << activated;
    QTest::newRow("unknown command 7") << encode(7) << 0 << QByteArray() << false << ack << none;
    QTest::newRow("command 0") << encode(0) << 0 << QByteArray() << false << ack << none;
    QTest::newRow("negative command") << encode(-3) << 0 << QByteArray() << false << ack << none;
    QTest::newRow("activate sent in two pieces")
        << encode(2).left(2) << 200 << encode(2).mid(2) << false << ack << activated;
    QTest::newRow("one command per connection")
        << encode(2) + encode(3) << 0 << QByteArray() << false << ack << activated;
    QTest::newRow("hang-up after two bytes")
        << encode(2).left(2) << 0 << QByteArray() << true << QByteArray() << none;
    QTest::newRow("stall after two bytes")
        << encode(2).left(2) << 0 << QByteArray() << false << QByteArray() << none;
    QTest::newRow("stall without a byte")
        << QByteArray() << 0 << QByteArray() << false << QByteArray() << none;
}

void AppExtensionTest::rawRequests() {
    QFETCH(QByteArray, first);
    QFETCH(int, pauseMs);
    QFETCH(QByteArray, second);
    QFETCH(bool, hangUp);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, expected);

    const QString key = uniqueKey();
    auto instance = startFirst(key);
    QVERIFY(instance);

    const RawOutcome outcome =
        rawExchange(key, first, pauseMs, second, hangUp ? Ending::HangUp : Ending::WaitForAnswer);
    if (!hangUp) {
        QCOMPARE(outcome.answer, answer);
        if (answer.isEmpty()) {
            // An incomplete command is dropped after the one-second wait, not sooner and not never.
            QVERIFY(outcome.droppedByServer);
            QVERIFY2(outcome.elapsedMs >= 900 && outcome.elapsedMs <= 2500,
                     qPrintable(QString::number(outcome.elapsedMs)));
        }
    }

    // A well-formed request afterwards is still served, and the signals before it are the row's.
    const RawOutcome followUp = rawExchange(key, encode(2), 0, QByteArray(), Ending::WaitForAnswer);
    QCOMPARE(followUp.answer, encode(1));
    const QStringList expectedLines = expected + QStringList{QStringLiteral("activateRequested")};
    QStringList lines;
    for (int i = 0; i < expectedLines.size(); ++i) {
        lines << instance->nextLine();
    }
    QCOMPARE(lines, expectedLines);
    QVERIFY(instance->nextLine(300).isEmpty());
}

void AppExtensionTest::onlyInstanceSendsNothing_data() {
    QTest::addColumn<bool>("close");
    QTest::newRow("close") << true;
    QTest::newRow("activate") << false;
}

void AppExtensionTest::onlyInstanceSendsNothing() {
    QFETCH(bool, close);

    Common::AppExtension extension(uniqueKey());
    QVERIFY(!extension.hasRunningInstance());
    QSignalSpy activated(&extension, &Common::IAppExtension::activateRequested);
    QSignalSpy closed(&extension, &Common::IAppExtension::closeRequested);

    QElapsedTimer timer;
    timer.start();
    const bool delivered = close ? extension.closeRunningInstance() : extension.activateRunningInstance();
    const qint64 elapsed = timer.elapsed();
    QVERIFY(!delivered);
    // A connection to its own server would block for the full waits and then reach the handler.
    QVERIFY2(elapsed < 200, qPrintable(QString::number(elapsed)));
    QTest::qWait(300);
    QCOMPARE(activated.count(), 0);
    QCOMPARE(closed.count(), 0);

    // QML calls it through the meta-object.
    bool running = true;
    QVERIFY(QMetaObject::invokeMethod(&extension, "hasRunningInstance", Q_RETURN_ARG(bool, running)));
    QVERIFY(!running);
}

void AppExtensionTest::killedFirstInstanceDoesNotBlock() {
    const QString key = uniqueKey();
    {
        auto crashed = startFirst(key);
        QVERIFY(crashed);
        crashed->process().kill();
        QVERIFY(crashed->finished(3000));
    }
    // What the killed process left behind is what a later start has to cope with.
    QVERIFY(QFileInfo::exists(Platform::InstanceLock::serverName(key)));

    auto next = startFirst(key);
    QVERIFY2(next, "a start after a killed first instance must become the first instance");
    int code = -1;
    QCOMPARE(runOnce(QStringLiteral("start"), key, &code), QStringLiteral("activate=1"));
    QCOMPARE(code, 0);
    QCOMPARE(next->nextLine(), QStringLiteral("activateRequested"));
}

void AppExtensionTest::serverGoesBeforeLock() {
    const QString key = uniqueKey();
    auto first = startFirst(key);
    QVERIFY(first);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(m_runtime.path()).constData(),
                                IN_DELETE | IN_CLOSE_WRITE) >= 0);

    // Spoken here rather than by a second start, which would open the lock file itself.
    QCOMPARE(rawExchange(key, encode(3), 0, QByteArray(), Ending::WaitForAnswer).answer, encode(1));
    QVERIFY(first->finished(5000));

    // The kernel queues the events in the order they happened: a start that gets the lock must find the
    // socket name free, or the leaving server would remove the newcomer's socket after it.
    QStringList order;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof(buffer))) > 0;) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            const QString name = event->len ? QFile::decodeName(event->name) : QString();
            if (name.startsWith(key)) {
                order << ((event->mask & IN_DELETE) ? QStringLiteral("removed ")
                                                    : QStringLiteral("closed ")) +
                             name.mid(key.size());
            }
            p += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    QCOMPARE(order, (QStringList{QStringLiteral("removed .socket"), QStringLiteral("closed .lock")}));
}

void AppExtensionTest::closingInstanceHandsOver() {
    const QString key = uniqueKey();
    QProcessEnvironment lingering = QProcessEnvironment::systemEnvironment();
    lingering.insert(QStringLiteral("PROBE_LINGER_MS"), QStringLiteral("1500"));
    auto closing = startFirst(key, lingering);
    QVERIFY(closing);
    QCOMPARE(rawExchange(key, encode(3), 0, QByteArray(), Ending::WaitForAnswer).answer, encode(1));
    QCOMPARE(closing->linesUntil(QStringLiteral("stopped")),
             (QStringList{QStringLiteral("closeRequested"), QStringLiteral("stopped")}));

    // A start while the first one still holds the key but serves no more: not acknowledged, and not lost.
    ShellProcess next(QStringLiteral(INSTANCE_PROBE), QStringList{QStringLiteral("start"), key});
    QCOMPARE(next.nextLine(), QStringLiteral("activate=0"));
    QCOMPARE(next.nextLine(8000), QStringLiteral("serving"));
    QVERIFY(closing->finished(3000));
    int code = -1;
    QCOMPARE(runOnce(QStringLiteral("start"), key, &code), QStringLiteral("activate=1"));
    QCOMPARE(next.nextLine(), QStringLiteral("activateRequested"));
}

void AppExtensionTest::deliverablesRunTogether() {
    // The keys of the main program and of the installer.
    const QString mainKey = QStringLiteral("a81c9c8e-efeb-4781-a362-26ddd6d15b74");
    const QString installerKey = QStringLiteral("10837403-4004-4fe9-82ea-b536aa04bd53");
    auto main = startFirst(mainKey);
    QVERIFY(main);
    auto installer = startFirst(installerKey);
    QVERIFY(installer);

    int code = -1;
    QCOMPARE(runOnce(QStringLiteral("start"), installerKey, &code), QStringLiteral("activate=1"));
    QCOMPARE(installer->nextLine(), QStringLiteral("activateRequested"));
    QCOMPARE(runOnce(QStringLiteral("close"), mainKey, &code).left(7), QStringLiteral("close=1"));
    QCOMPARE(main->linesUntil(QStringLiteral("stopped")),
             (QStringList{QStringLiteral("closeRequested"), QStringLiteral("stopped")}));
    // The installer heard only its own request.
    QVERIFY(installer->nextLine(300).isEmpty());
    QCOMPARE(installer->process().state(), QProcess::Running);
}

void AppExtensionTest::instanceFolder_data() {
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<bool>("runtimeUsable");
    QTest::addColumn<bool>("sharedNamesTaken");

    QTest::newRow("runtime folder") << QStringLiteral("run") << true << false;
    QTest::newRow("no runtime folder") << QString() << false << false;
    QTest::newRow("runtime folder missing") << QStringLiteral("missing") << false << false;
    QTest::newRow("runtime folder open to others") << QStringLiteral("open") << false << false;
    // What another local user can do in a shared temporary folder before this user's first start.
    QTest::newRow("no runtime folder, shared names taken") << QString() << false << true;
}

void AppExtensionTest::instanceFolder() {
    QFETCH(QString, runtime);
    QFETCH(bool, runtimeUsable);
    QFETCH(bool, sharedNamesTaken);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    QVERIFY(dir.mkpath(QStringLiteral("home")) && dir.mkpath(QStringLiteral("shared")) &&
            dir.mkpath(QStringLiteral("run")) && dir.mkpath(QStringLiteral("open")));
    QCOMPARE(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("run"))).constData(), 0700), 0);
    QCOMPARE(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("open"))).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("shared"))).constData(), 01777), 0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("shared")));
    env.remove(QStringLiteral("XDG_CACHE_HOME"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty()) {
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(runtime));
    }
    const QString key = uniqueKey();
    if (sharedNamesTaken) {
        // Qt's own fallback folder and the names this program once fell back to, made unusable.
        const QString shared = dir.filePath(QStringLiteral("shared/"));
        const passwd* user = ::getpwuid(::geteuid());
        QVERIFY(user);
        QFile squat(shared + QStringLiteral("runtime-") + QString::fromLocal8Bit(user->pw_name));
        QVERIFY(squat.open(QIODevice::WriteOnly));
        for (const char* suffix : {".lock", ".socket"}) {
            const QString name =
                shared + key + QLatin1Char('-') + QString::number(::getuid()) + QLatin1String(suffix);
            QVERIFY(QFile::link(QStringLiteral("/nonexistent"), name));
        }
    }
    const QString expected =
        runtimeUsable ? dir.filePath(runtime) : dir.filePath(QStringLiteral("home/.cache/arca/instance"));

    auto first = startFirst(key, env);
    QVERIFY2(first, "the first start must serve");
    int code = -1;
    QCOMPARE(runOnce(QStringLiteral("start"), key, &code, env), QStringLiteral("activate=1"));
    QCOMPARE(first->nextLine(), QStringLiteral("activateRequested"));

    struct stat info {};
    QCOMPARE(::lstat(QFile::encodeName(expected).constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_uid, ::geteuid());
    QCOMPARE(info.st_mode & (S_IRWXG | S_IRWXO), mode_t(0));
    const QString socket = expected + QLatin1Char('/') + key + QStringLiteral(".socket");
    QCOMPARE(::stat(QFile::encodeName(socket).constData(), &info), 0);
    QVERIFY(S_ISSOCK(info.st_mode));
    QCOMPARE(info.st_mode & (S_IRWXG | S_IRWXO), mode_t(0));
    QVERIFY(QFileInfo::exists(expected + QLatin1Char('/') + key + QStringLiteral(".lock")));
    // Nothing of the instance lies where other users could reach it.
    for (const QString& shared :
         {dir.filePath(QStringLiteral("shared")), dir.filePath(QStringLiteral("open"))}) {
        const QStringList mine =
            QDir(shared).entryList({key + QStringLiteral("*")}, QDir::Files | QDir::System);
        QCOMPARE(mine.size(), sharedNamesTaken && shared.endsWith(QLatin1String("shared")) ? 2 : 0);
    }
}

void AppExtensionTest::otherUserNeitherBlocksNorObeys() {
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::getuid() != 0 || setpriv.isEmpty()) {
        QSKIP("needs root and setpriv to run a second user's instance");
    }
    constexpr uid_t kOther = 65534;
    QTemporaryDir otherRuntime;
    QVERIFY(otherRuntime.isValid());
    QCOMPARE(::chown(QFile::encodeName(otherRuntime.path()).constData(), kOther, kOther), 0);
    QVERIFY(QFile::setPermissions(otherRuntime.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QProcessEnvironment otherEnv = QProcessEnvironment::systemEnvironment();
    otherEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), otherRuntime.path());
    otherEnv.insert(QStringLiteral("HOME"), otherRuntime.path());

    const QString key = uniqueKey();
    auto mine = startFirst(key);
    QVERIFY(mine);

    const QStringList asOther{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), QStringLiteral(INSTANCE_PROBE)};
    ShellProcess theirs(setpriv, asOther + QStringList{QStringLiteral("start"), key}, otherEnv);
    const QString line = theirs.nextLine();
    if (line.isEmpty() && theirs.finished(100)) {
        QSKIP("the other user cannot run the probe from this build folder");
    }
    QCOMPARE(line, QStringLiteral("serving"));

    ShellProcess theirSecond(setpriv, asOther + QStringList{QStringLiteral("start"), key}, otherEnv);
    QCOMPARE(theirSecond.nextLine(), QStringLiteral("activate=1"));
    QCOMPARE(theirs.nextLine(), QStringLiteral("activateRequested"));
    QVERIFY(mine->nextLine(300).isEmpty());
}

void AppExtensionTest::windowServicesLeaveWindowAlone_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("null, grey out") << QStringLiteral("null") << false;
    QTest::newRow("plain object, grey out") << QStringLiteral("object") << false;
    QTest::newRow("hidden window without close hint") << QStringLiteral("hidden") << false;
    QTest::newRow("hidden window with close hint") << QStringLiteral("hidden-hint") << false;
    QTest::newRow("shown window, grey out") << QStringLiteral("shown-hint") << false;
    QTest::newRow("shown window, restore") << QStringLiteral("shown-hint") << true;
}

void AppExtensionTest::windowServicesLeaveWindowAlone() {
    QFETCH(QString, target);
    QFETCH(bool, enabled);

    Common::AppExtension extension(uniqueKey());
    QObject object;
    object.setObjectName(QStringLiteral("plain"));
    QWindow window;
    const Qt::WindowFlags hinted = Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (target.endsWith(QLatin1String("hint"))) {
        window.setFlags(hinted);
    }
    if (target.startsWith(QLatin1String("shown"))) {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    QObject* subject = target == QLatin1String("null")     ? nullptr
                       : target == QLatin1String("object") ? &object
                                                           : &window;
    const Qt::WindowFlags flagsBefore = window.flags();
    const bool visibleBefore = window.isVisible();
    QPlatformWindow* const handleBefore = window.handle();
    const WId idBefore = handleBefore ? window.winId() : 0;

    QSignalSpy visibility(&window, &QWindow::visibleChanged);
    extension.decorateWindow(subject);
    extension.setCloseButtonEnabled(subject, enabled);
    extension.setCloseButtonEnabled(subject, !enabled);
    extension.setCloseButtonEnabled(subject, enabled);
    QTest::qWait(50);

    // Never hidden, re-created or given a native window it did not have.
    QCOMPARE(window.flags(), flagsBefore);
    QCOMPARE(window.isVisible(), visibleBefore);
    QCOMPARE(window.handle(), handleBefore);
    if (handleBefore) {
        QCOMPARE(window.winId(), idBefore);
    }
    QCOMPARE(visibility.count(), 0);
    QCOMPARE(object.objectName(), QStringLiteral("plain"));
    QVERIFY(object.children().isEmpty());
}

QTEST_MAIN(AppExtensionTest)
#include "tst_appextension.moc"
