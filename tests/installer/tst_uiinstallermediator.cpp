#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <QtTest>
#include <memory>

#include "common/appextension.h"
#include "mediator/uiinstallermediator.h"
#include "tests/support/statusrecorder.h"

using UIMediator::UIInstallerMediator;
using Status = UIInstallerMediator::Status;

Q_DECLARE_METATYPE(Platform::InstallEngine::Command)
Q_DECLARE_METATYPE(QVector<int>)

namespace {

Platform::InstallEngine::Command shell(const QString& script) {
    return {QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}};
}

Platform::InstallEngine engineRunning(const Platform::InstallEngine::Command& command) {
    Platform::InstallEngine engine;
    engine.setCommand(command);
    return engine;
}

// Every value the status took, in order, read at each statusChanged().
class StatusTrail : public TestSupport::StatusRecorder {
public:
    explicit StatusTrail(UIInstallerMediator* mediator) { followProperty(mediator, "status"); }
    [[nodiscard]] QVector<Status> trail() const { return statuses<Status>(); }
    [[nodiscard]] bool ended() const {
        return !trail().isEmpty() && (trail().last() == Status::Finished || trail().last() == Status::Failed);
    }
};

}  // namespace

class TestUIInstallerMediator : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void outcome_data();
    void outcome();

    void secondInstallWhileRunningIsRefused();
    void retryAfterFailure();
    void destructorWaitsForEngine();
    void runningJobKeepsItsEngine();

    void closeProgramFirst_data();
    void closeProgramFirst();

    void metaObjectOrder();

    void launch_data();
    void launch();
};

void TestUIInstallerMediator::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
}

void TestUIInstallerMediator::outcome_data() {
    QTest::addColumn<Platform::InstallEngine::Command>("command");
    QTest::addColumn<Status>("final");
    QTest::addColumn<QVector<int>>("restartCodes");

    const QVector<int> none;
    QTest::newRow("exit 0") << shell(QStringLiteral("exit 0")) << Status::Finished << none;
    QTest::newRow("exit 1") << shell(QStringLiteral("exit 1")) << Status::Failed << none;
    QTest::newRow("exit 194 after a while") << shell(QStringLiteral("sleep 0.2; exit 194")) << Status::Failed
                                            << none;
    // The engine's "installed, restart required" (3010 on Windows) is an installation that worked.
    QTest::newRow("restart code") << shell(QStringLiteral("exit 194")) << Status::Finished
                                  << QVector<int>{3010, 194};
    QTest::newRow("crash") << shell(QStringLiteral("kill -SEGV $$")) << Status::Failed << none;
    QTest::newRow("missing program") << Platform::InstallEngine::Command{QStringLiteral("/nonexistent/engine"),
                                                                         {}}
                                     << Status::Failed << none;
    QTest::newRow("exit 0 after a while") << shell(QStringLiteral("sleep 0.2")) << Status::Finished << none;
}

void TestUIInstallerMediator::outcome() {
    QFETCH(Platform::InstallEngine::Command, command);
    QFETCH(Status, final);
    QFETCH(QVector<int>, restartCodes);

    UIInstallerMediator mediator;
    Platform::InstallEngine engine = engineRunning(command);
    engine.setRestartCodes(restartCodes);
    mediator.setEngine(engine);
    StatusTrail trail(&mediator);
    QCOMPARE(mediator.status(), Status::None);

    QVERIFY(mediator.install());
    QCOMPARE(mediator.status(), Status::Started);
    QTRY_VERIFY_WITH_TIMEOUT(trail.ended(), 10000);
    QCOMPARE(trail.trail(), (QVector<Status>{Status::Started, Status::Installing, final}));
    QVERIFY(!mediator.isRunning());
    QCOMPARE(mediator.property("status").value<Status>(), final);
}

void TestUIInstallerMediator::secondInstallWhileRunningIsRefused() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString runs = dir.filePath(QStringLiteral("runs"));

    UIInstallerMediator mediator;
    mediator.setEngine(engineRunning(shell(QStringLiteral("echo run >> '%1'; sleep 0.5").arg(runs))));
    QSignalSpy changes(&mediator, &UIInstallerMediator::statusChanged);

    QVERIFY(mediator.install());
    QCOMPARE(changes.count(), 1);
    QVERIFY(!mediator.install());
    QCOMPARE(changes.count(), 1);
    QCOMPARE(mediator.status(), Status::Started);

    QTRY_COMPARE(mediator.status(), Status::Installing);
    QVERIFY(mediator.isRunning());
    QVERIFY(!mediator.install());
    QCOMPARE(changes.count(), 2);
    QCOMPARE(mediator.status(), Status::Installing);

    QTRY_COMPARE_WITH_TIMEOUT(mediator.status(), Status::Finished, 10000);
    QCOMPARE(changes.count(), 3);
    QFile file(runs);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("run\n"));
}

void TestUIInstallerMediator::retryAfterFailure() {
    UIInstallerMediator mediator;
    StatusTrail trail(&mediator);
    mediator.setEngine(engineRunning(shell(QStringLiteral("exit 1"))));
    QVERIFY(mediator.install());
    QTRY_VERIFY_WITH_TIMEOUT(trail.ended(), 10000);
    QCOMPARE(mediator.status(), Status::Failed);

    trail.clear();
    mediator.setEngine(engineRunning(shell(QStringLiteral("exit 0"))));
    QVERIFY(mediator.install());
    QTRY_VERIFY_WITH_TIMEOUT(trail.ended(), 10000);
    QCOMPARE(trail.trail(), (QVector<Status>{Status::Started, Status::Installing, Status::Finished}));

    // A retry that fails again goes the whole way round too.
    trail.clear();
    mediator.setEngine(engineRunning(shell(QStringLiteral("exit 2"))));
    QVERIFY(mediator.install());
    QTRY_VERIFY_WITH_TIMEOUT(trail.ended(), 10000);
    QCOMPARE(trail.trail(), (QVector<Status>{Status::Started, Status::Installing, Status::Failed}));
}

void TestUIInstallerMediator::destructorWaitsForEngine() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString done = dir.filePath(QStringLiteral("done"));

    auto mediator = std::make_unique<UIInstallerMediator>();
    mediator->setEngine(engineRunning(shell(QStringLiteral("sleep 0.6; echo ok > '%1'").arg(done))));
    QSignalSpy changes(mediator.get(), &UIInstallerMediator::statusChanged);
    QVERIFY(mediator->install());

    QElapsedTimer clock;
    clock.start();
    mediator.reset();
    QVERIFY2(QFile::exists(done), "the engine was still running when the mediator was gone");
    QVERIFY(clock.elapsed() >= 300);
    // Nothing arrives from a mediator that no longer exists.
    QTest::qWait(50);
    QCOMPARE(changes.count(), 1);
}

void TestUIInstallerMediator::runningJobKeepsItsEngine() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    UIInstallerMediator mediator;
    mediator.setEngine(engineRunning(shell(QStringLiteral("sleep 0.3; exit 0"))));
    QVERIFY(mediator.install());
    mediator.setEngine(engineRunning(shell(QStringLiteral("exit 1"))));
    QTRY_COMPARE_WITH_TIMEOUT(mediator.status(), Status::Finished, 10000);
}

void TestUIInstallerMediator::closeProgramFirst_data() {
    QTest::addColumn<bool>("programCloses");

    QTest::newRow("closes after finishing its work") << true;
    QTest::newRow("stays past the bound") << false;
}

// A running main program holds its key and serves its close command, as the real one does.
void TestUIInstallerMediator::closeProgramFirst() {
    QFETCH(bool, programCloses);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ran = dir.filePath(QStringLiteral("ran"));
    const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
    auto program = std::make_unique<Common::AppExtension>(key);
    QVERIFY(!program->hasRunningInstance());
    int closeRequests = 0;
    connect(program.get(), &Common::IAppExtension::closeRequested, this, [&] {
        ++closeRequests;
        if (programCloses) {
            // Like a program that finishes a firmware update before it ends.
            QTimer::singleShot(300, this, [&program] { program.reset(); });
        }
    });

    UIInstallerMediator mediator;
    mediator.setEngine(engineRunning(shell(QStringLiteral("echo run > '%1'").arg(ran))));
    mediator.setProgramToClose(key, 1500);
    StatusTrail trail(&mediator);
    bool programGoneAtInstall = false;
    connect(&mediator, &UIInstallerMediator::statusChanged, this, [&] {
        if (mediator.status() == Status::Installing) {
            programGoneAtInstall = !program;
        }
    });

    QVERIFY(mediator.install());
    QCOMPARE(mediator.status(), Status::Closing);
    QVERIFY(mediator.isRunning());
    QVERIFY(!mediator.install());
    QTRY_VERIFY_WITH_TIMEOUT(trail.ended(), 10000);
    QCOMPARE(closeRequests, 1);
    if (programCloses) {
        QCOMPARE(trail.trail(), (QVector<Status>{Status::Closing, Status::Installing, Status::Finished}));
        QVERIFY2(programGoneAtInstall, "the engine started while the program still ran");
    } else {
        QCOMPARE(trail.trail(), (QVector<Status>{Status::Closing, Status::Failed}));
    }
    QCOMPARE(QFile::exists(ran), programCloses);
}

void TestUIInstallerMediator::metaObjectOrder() {
    const QMetaObject& meta = UIInstallerMediator::staticMetaObject;
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        methods << QString::fromLatin1(method.methodSignature()) + QLatin1Char(':') +
                       QString::fromLatin1(method.typeName());
    }
    QCOMPARE(methods, (QStringList{QStringLiteral("statusChanged():void"), QStringLiteral("isRunning():bool"),
                                   QStringLiteral("install():bool"), QStringLiteral("launch():bool")}));
    QCOMPARE(meta.method(meta.methodOffset()).methodType(), QMetaMethod::Signal);

    QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 1);
    const QMetaProperty status = meta.property(meta.propertyOffset());
    QCOMPARE(status.name(), "status");
    QVERIFY(!status.isWritable());
    QVERIFY(status.isFinal());
    QCOMPARE(status.notifySignal().name(), QByteArray("statusChanged"));

    QCOMPARE(meta.enumeratorCount() - meta.enumeratorOffset(), 1);
    const QMetaEnum statuses = meta.enumerator(meta.enumeratorOffset());
    QCOMPARE(statuses.name(), "Status");
    QVERIFY(statuses.isScoped());
    const QList<QByteArray> keys{"None", "Started", "Installing", "Finished", "Failed", "Closing"};
    QCOMPARE(statuses.keyCount(), keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(QByteArray(statuses.key(i)), keys.at(i));
        QCOMPARE(statuses.value(i), i);
    }
}

void TestUIInstallerMediator::launch_data() {
    QTest::addColumn<QString>("locationName");
    QTest::addColumn<bool>("installed");

    QTest::newRow("installed") << QStringLiteral("installed") << true;
    QTest::newRow("installed under a folder with blanks") << QStringLiteral("my programs/Sonella") << true;
    QTest::newRow("installed under a folder with quotes") << QStringLiteral("Jo's \"programs\"/Sonella") << true;
    QTest::newRow("nothing installed") << QStringLiteral("installed") << false;
}

void TestUIInstallerMediator::launch() {
    QFETCH(QString, locationName);
    QFETCH(bool, installed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString marker = dir.filePath(QStringLiteral("launched"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("tree/bin"))));
    QFile program(dir.filePath(QStringLiteral("tree/bin/Meldra")));
    QVERIFY(program.open(QIODevice::WriteOnly));
    // Answers the installer's --version check without leaving the note of a launch.
    program.write(
        QStringLiteral("#!/bin/sh\n[ \"$1\" = --version ] && { echo 1; exit 0; }\necho \"$#\" > '%1'\n")
            .arg(marker)
            .toUtf8());
    program.close();
    QVERIFY(program.setPermissions(program.permissions() | QFileDevice::ExeOwner));
    const QString package = dir.filePath(QStringLiteral("Meldra.tar.gz"));
    QCOMPARE(QProcess::execute(QStringLiteral("tar"), {QStringLiteral("-czf"), package, QStringLiteral("-C"),
                                                       dir.path(), QStringLiteral("tree/bin")}),
             0);

    const QString record = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/Corvin/Sonella.ini");
    QFile::remove(record);
    if (installed) {
        Platform::InstallEngine engine;
        engine.setPackagePath(package);
        engine.setInstallLocation(dir.filePath(locationName));
        QCOMPARE(engine.install(), 0);
    }

    // With nothing recorded the bare name is searched on PATH, which must not find a Meldra of the machine.
    QTemporaryDir emptyPath;
    QVERIFY(emptyPath.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(emptyPath.path()));
    UIInstallerMediator mediator;
    const bool launched = mediator.launch();
    qputenv("PATH", path);
    QCOMPARE(launched, installed);
    if (installed) {
        // The shell creates the note before it writes to it: wait for what it says, not for the file.
        const auto note = [&marker] {
            QFile arguments(marker);
            return arguments.open(QIODevice::ReadOnly) ? arguments.readAll().trimmed() : QByteArray();
        };
        QTRY_COMPARE(note(), QByteArray("0"));
    }
    QFile::remove(record);
}

QTEST_GUILESS_MAIN(TestUIInstallerMediator)
#include "tst_uiinstallermediator.moc"
