#include <fcntl.h>
#include <unistd.h>
#include <QDirIterator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "mediator/uisoftwareupdatemediator.h"
#include "onlinetest.h"
#include "platform/pinnedprogram.h"
#include "signer.h"

using namespace OnlineTest;

// What a program download must get through before anything runs: the real downloader against a loopback
// service, then the real launch. Keys and signatures come from Debian's minisign.
class TstUpdateTrust : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    Signer m_signer;
    Signer m_stranger;
    QByteArray m_installer;

    QString folder() const { return m_root.filePath(QStringLiteral("update")); }
    QString marker() const { return m_root.filePath(QStringLiteral("ran")); }

    static QByteArray flipLine(QByteArray signature, int line) {
        QList<QByteArray> lines = signature.split('\n');
        QByteArray& target = lines[line];
        target[10] = target.at(10) == 'A' ? 'B' : 'A';
        return lines.join('\n');
    }

    // The same signature filed under another key's id: only comparing the ids refuses it.
    static QByteArray withKeyId(const QByteArray& signature, const Updater::Minisign::KeyId& id) {
        QList<QByteArray> lines = signature.split('\n');
        QByteArray decoded = QByteArray::fromBase64(lines.at(1));
        decoded.replace(2, int(id.size()),
                        QByteArray(reinterpret_cast<const char*>(id.data()), int(id.size())));
        lines[1] = decoded.toBase64();
        return lines.join('\n');
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_root.isValid() && m_signer.isValid() && m_stranger.isValid());
        // The stand-in installer leaves a marker when anything runs it.
        m_installer = "#!/bin/sh\ntouch '" + marker().toUtf8() + "'\n";
        QFile signature(m_root.filePath(QStringLiteral("local.minisig")));
        QVERIFY(signature.open(QIODevice::WriteOnly));
        signature.write(m_signer.sign(m_installer));
    }

    void matrix_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("signature");  // empty: 404
        QTest::addColumn<bool>("redirectToLocal");
        QTest::addColumn<bool>("trusted");
        const QByteArray good = m_signer.sign(m_installer);
        QTest::newRow("good, prehashed") << m_installer << good << false << true;
        QTest::newRow("good, legacy") << m_installer << m_signer.sign(m_installer, true) << false << true;
        QTest::newRow("no signature") << m_installer << QByteArray() << false << false;
        QTest::newRow("signature of another file")
            << m_installer << m_signer.sign("#!/bin/sh\nexit 0\n") << false << false;
        QTest::newRow("wrong key") << m_installer << m_stranger.sign(m_installer) << false << false;
        QTest::newRow("our signature under another key's id")
            << m_installer << withKeyId(good, m_stranger.publicKey()->keyId) << false << false;
        QByteArray flipped = m_installer;
        flipped[12] = 'X';
        QTest::newRow("one byte of the file flipped") << flipped << good << false << false;
        QByteArray comment = good;
        comment.replace("trusted comment: meldra test", "trusted comment: meldra tesT");
        QTest::newRow("one byte of the trusted comment flipped") << m_installer << comment << false << false;
        QTest::newRow("global signature flipped") << m_installer << flipLine(good, 3) << false << false;
        QTest::newRow("truncated signature") << m_installer << good.left(good.size() / 2) << false << false;
        QTest::newRow("garbled signature") << m_installer << flipLine(good, 1).replace('A', '*') << false
                                          << false;
        QTest::newRow("0-byte file") << QByteArray() << good << false << false;
        QTest::newRow("signature redirected to file:") << m_installer << QByteArray() << true << false;
    }
    void matrix() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, signature);
        QFETCH(bool, redirectToLocal);
        QFETCH(bool, trusted);
        QFile::remove(marker());
        QDir(folder()).removeRecursively();
        HttpServer server;
        QVERIFY(server.listen());
        server.setRoute(softwareTarget(QStringLiteral("linux")),
                        body(softwareOffers({{"9.0.0", server.baseUrl() + "/files/setup.sh"}})));
        server.setRoute("/files/setup.sh", body(file));
        if (redirectToLocal) {
            const QUrl local = QUrl::fromLocalFile(m_root.filePath(QStringLiteral("local.minisig")));
            server.setRoute("/files/setup.sh.minisig", redirect(local.toEncoded()));
        } else if (!signature.isEmpty()) {
            server.setRoute("/files/setup.sh.minisig", body(signature));
        }
        UpdateDownloader downloader(folder());
        downloader.setBaseUrl(server.baseUrl());
        downloader.setPublicKey(m_signer.publicKey());
        Recorder recorder(&downloader);
        const Global::Id id = downloader.checkSoftware(QStringLiteral("linux"), Global::Version());
        QTRY_COMPARE_WITH_TIMEOUT(downloader.pendingCount(), 0, 15000);
        QVERIFY(server.requests().contains("/files/setup.sh.minisig"));
        const UpdateRecord::Shared record = recorder.record(id);
        QCOMPARE(recorder.trail(id), trusted ? QStringLiteral("Checking,Downloading,record,Downloaded")
                                             : QStringLiteral("Checking,Downloading,Failed"));

        // Whatever is on disk now is handed over as the program would hand it over.
        UIMediator::UISoftwareUpdateMediator launcher;
        launcher.setPublicKey(m_signer.publicKey());
        const QString path = record ? record->path() : QDir(folder()).filePath(QStringLiteral("setup.sh"));
        QCOMPARE(launcher.update(path), trusted);
        if (trusted) {
            QTRY_VERIFY(QFile::exists(marker()));
        } else {
            QTest::qWait(300);
            QVERIFY(!QFile::exists(marker()));
            QVERIFY(!QFile::exists(path));
        }
        QDirIterator files(m_root.path(), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QFileInfo entry(files.next());
            QVERIFY2(!entry.isExecutable(), qPrintable(entry.filePath()));
        }
    }

    // Root ignores the copy's file mode, so the seals are all that keeps the checked bytes as checked.
    void pinnedCopyCannotBeChanged() {
        const Platform::PinnedProgram pinned(m_root.filePath(QStringLiteral("local.minisig")));
        QVERIFY(pinned.isOpen());
        int copy = -1;
        for (const QFileInfo& entry :
             QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System)) {
            if (entry.symLinkTarget().contains(QLatin1String("memfd:meldra-installer"))) {
                copy = entry.fileName().toInt();
            }
        }
        QVERIFY(copy >= 0);
        QCOMPARE(::pwrite(copy, "x", 1, 0), ssize_t(-1));
        QCOMPARE(::ftruncate(copy, 1), -1);
        QCOMPARE(::fcntl(copy, F_ADD_SEALS, 0), -1);
    }
};

QTEST_GUILESS_MAIN(TstUpdateTrust)
#include "tst_updatetrust.moc"
