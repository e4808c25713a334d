#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>
#include <memory>
#include <thread>

#include "mediator/uisoftwareupdatemediator.h"
#include "signer.h"

using UIMediator::UISoftwareUpdateMediator;

class TstUISoftwareUpdateMediator : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_log;
    OnlineTest::Signer m_signer;

    // A mediator that trusts the test key.
    std::unique_ptr<UISoftwareUpdateMediator> mediatorWithKey() {
        auto mediator = std::make_unique<UISoftwareUpdateMediator>();
        mediator->setPublicKey(m_signer.publicKey());
        return mediator;
    }

    // A stand-in installer that appends its own path and its arguments, one per line, to the log.
    QString writeInstaller(const QString& relative, bool executable = true) {
        const QString path = m_root->filePath(relative);
        if (!QDir().mkpath(QFileInfo(path).path())) {
            return {};
        }
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly)) {
            return {};
        }
        const QByteArray text =
            "#!/bin/sh\n{ printf 'program=%s\\n' \"$0\"; printf 'count=%s\\n' \"$#\"; "
            "for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done; } >> '" +
            m_log.toUtf8() + "'\n";
        script.write(text);
        script.close();
        QFile signature(path + QStringLiteral(".minisig"));
        if (!signature.open(QIODevice::WriteOnly) || signature.write(m_signer.sign(text)) <= 0) {
            return {};
        }
        const auto exec = QFileDevice::ExeOwner | QFileDevice::ExeUser;
        script.setPermissions(executable ? script.permissions() | exec : script.permissions() & ~exec);
        return path;
    }

    QStringList logLines() const {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() { QVERIFY(m_signer.isValid()); }

    void init() {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_log = m_root->filePath(QStringLiteral("calls.log"));
    }

    void cleanup() {
        QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
        m_root.reset();
    }

    void refusesWithoutAFile_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << QString();
        QTest::newRow("missing") << QStringLiteral("{root}/nowhere/setup.sh");
        QTest::newRow("relative and missing") << QStringLiteral("no-such-installer");
    }
    void refusesWithoutAFile() {
        QFETCH(QString, path);
        path.replace(QLatin1String("{root}"), m_root->path());
        UISoftwareUpdateMediator mediator;
        QVERIFY(!mediator.update(path));
        QTest::qWait(100);
        QVERIFY(logLines().isEmpty());
    }

    void startsTheInstallerInUpdateMode_data() {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("executable");
        QTest::newRow("plain") << QStringLiteral("update/setup.sh") << true;
        QTest::newRow("blank in the folder") << QStringLiteral("a b/update/setup.sh") << true;
        QTest::newRow("quotes and blanks in the name") << QStringLiteral("update/my \"new\" setup.sh") << true;
        // As the downloader stores it: without the execute bit.
        QTest::newRow("downloaded, not executable") << QStringLiteral("update/setup.sh") << false;
    }
    void startsTheInstallerInUpdateMode() {
        QFETCH(QString, relative);
        QFETCH(bool, executable);
        const QString installer = writeInstaller(relative, executable);
        QVERIFY(!installer.isEmpty());
        const auto mediator = mediatorWithKey();
        QVERIFY(mediator->update(installer));
        QTRY_COMPARE(logLines().size(), 3);
        // What starts is the pinned copy that was verified, never the file on disk.
        QVERIFY2(logLines().at(0).startsWith(QStringLiteral("program=/proc/self/fd/")), qPrintable(logLines().at(0)));
        QCOMPARE(logLines().mid(1), (QStringList{QStringLiteral("count=1"), QStringLiteral("arg=-update")}));
        QVERIFY(!(QFileInfo(installer).permissions() & QFileDevice::ExeOwner) || executable);
    }

    void refusesWhatIsNotSigned_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("no signature") << "unsigned";
        QTest::newRow("signature of other bytes") << "other";
        QTest::newRow("file changed after signing") << "changed";
        QTest::newRow("garbled signature") << "garbled";
        QTest::newRow("no key compiled in") << "nokey";
    }
    void refusesWhatIsNotSigned() {
        QFETCH(QString, change);
        const QString installer = writeInstaller(QStringLiteral("update/setup.sh"), false);
        QVERIFY(!installer.isEmpty());
        const QString signature = installer + QStringLiteral(".minisig");
        if (change == QLatin1String("unsigned")) {
            QVERIFY(QFile::remove(signature));
        } else if (change == QLatin1String("other") || change == QLatin1String("garbled")) {
            QFile file(signature);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(change == QLatin1String("other") ? m_signer.sign("#!/bin/sh\n") : QByteArray("x\ny\n"));
        } else if (change == QLatin1String("changed")) {
            QFile file(installer);
            QVERIFY(file.open(QIODevice::Append));
            file.write("touch '" + m_log.toUtf8() + ".swapped'\n");
        }
        auto mediator = change == QLatin1String("nokey") ? std::make_unique<UISoftwareUpdateMediator>()
                                                         : mediatorWithKey();
        if (change == QLatin1String("nokey")) {
            mediator->setPublicKey(std::nullopt);
        }
        QVERIFY(mediator->update(installer));
        mediator.reset();
        QTest::qWait(300);
        QVERIFY(logLines().isEmpty());
        QVERIFY(!QFile::exists(m_log + QStringLiteral(".swapped")));
        QVERIFY(!(QFileInfo(installer).permissions() & QFileDevice::ExeOwner));
    }

    void programText_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("windows");
        QTest::newRow("blank in the path") << "C:/Users/a b/update/setup.exe"
                                           << "\"C:\\Users\\a b\\update\\setup.exe\"";
        QTest::newRow("no blank") << "C:/update/setup.exe"
                                  << "\"C:\\update\\setup.exe\"";
    }
    void programText() {
        QFETCH(QString, path);
        QFETCH(QString, windows);
#ifdef Q_OS_WIN
        QCOMPARE(UISoftwareUpdateMediator::programText(path), windows);
#else
        // exec takes the path as it is: quotes would be looked for as part of the file name.
        QCOMPARE(UISoftwareUpdateMediator::programText(path), path);
#endif
    }

    void refusesWhileALaunchIsUnderWay() {
        const QString installer = writeInstaller(QStringLiteral("update/setup.sh"));
        // With the one pool thread held, the launch task waits its turn and stays under way.
        QThreadPool::globalInstance()->setMaxThreadCount(1);
        QSemaphore gate;
        QFuture<void> blocker =
            QtConcurrent::run(QThreadPool::globalInstance(), [&gate]() { gate.acquire(); });
        const auto owned = mediatorWithKey();
        UISoftwareUpdateMediator& mediator = *owned;
        QVERIFY(mediator.update(installer));
        QVERIFY(!mediator.update(installer));
        QVERIFY(!mediator.update(installer));
        QTest::qWait(100);
        QVERIFY(logLines().isEmpty());
        gate.release();
        blocker.waitForFinished();
        QTRY_COMPARE(logLines().size(), 3);
        // Back to idle: the next call launches again, exactly once more.
        bool launched = false;
        QTRY_VERIFY((launched = launched || mediator.update(installer)));
        QTRY_COMPARE(logLines().size(), 6);
        QTest::qWait(100);
        QCOMPARE(logLines().size(), 6);
    }

    void destructionCarriesOutAPendingLaunch() {
        const QString installer = writeInstaller(QStringLiteral("update/setup.sh"));
        QThreadPool::globalInstance()->setMaxThreadCount(1);
        QSemaphore gate;
        QFuture<void> blocker =
            QtConcurrent::run(QThreadPool::globalInstance(), [&gate]() { gate.acquire(); });
        auto mediator = mediatorWithKey();
        QVERIFY(mediator->update(installer));
        // Should the destructor only wait for the pool, this opens it after a while rather than hang.
        std::thread releaser([&gate]() {
            QThread::msleep(300);
            gate.release();
        });
        mediator.reset();
        releaser.join();
        blocker.waitForFinished();
        // The launch accepted before destruction is neither dropped nor repeated.
        QTRY_COMPARE(logLines().size(), 3);
        QTest::qWait(100);
        QCOMPARE(logLines().size(), 3);
    }

    void freeOfQmlOwnership() {
        UISoftwareUpdateMediator mediator;
        QCOMPARE(mediator.metaObject()->className(), "UIMediator::UISoftwareUpdateMediator");
        QVERIFY(mediator.metaObject()->indexOfMethod("update(QString)") >= 0);
    }
};

QTEST_GUILESS_MAIN(TstUISoftwareUpdateMediator)
#include "tst_uisoftwareupdatemediator.moc"
