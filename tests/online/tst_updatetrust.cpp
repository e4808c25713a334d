#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>
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
        // As the program runs: an offer is never newer than this, whatever the caller passes.
        QCoreApplication::setApplicationVersion(QStringLiteral("1.2.217.0"));
        // The stand-in installer leaves a marker when anything runs it.
        m_installer = "#!/bin/sh\ntouch '" + marker().toUtf8() + "'\n";
        QFile signature(m_root.filePath(QStringLiteral("local.minisig")));
        QVERIFY(signature.open(QIODevice::WriteOnly));
        signature.write(m_signer.sign(m_installer));
    }

    // A real gzip stream, so that a network layer that inflated it would see the whole of it.
    static QByteArray gzip(const QByteArray& data) {
        z_stream stream{};
        if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
            return {};
        }
        QByteArray out(int(deflateBound(&stream, uLong(data.size()))) + 64, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        stream.avail_in = uInt(data.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = uInt(out.size());
        const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
        out.resize(done ? int(stream.total_out) : 0);
        deflateEnd(&stream);
        return out;
    }

    void matrix_data() {
        QTest::addColumn<QString>("offer");    // "program", or the firmware model the receiver image is for
        QTest::addColumn<QString>("version");  // as offered
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("signature");  // empty: 404
        QTest::addColumn<bool>("redirectToLocal");
        QTest::addColumn<QString>("gzip");  // which reply comes compressed: "offers", "file", "signature"
        QTest::addColumn<QString>("trail");
        const QString kept = QStringLiteral("Checking,Downloading,record,Downloaded");
        const QString refused = QStringLiteral("Checking,Downloading,Failed");
        const QString program = QStringLiteral("program");
        const QString v9 = QStringLiteral("9.0.0");
        const QByteArray good = m_signer.sign(m_installer);
        QTest::newRow("good, prehashed") << program << v9 << m_installer << good << false << "" << kept;
        QTest::newRow("legacy signature")
            << program << v9 << m_installer << m_signer.sign(m_installer, "kind:program version:9.0.0", true)
            << false << "" << refused;
        QTest::newRow("no signature")
            << program << v9 << m_installer << QByteArray() << false << "" << refused;
        QTest::newRow("signature of another file")
            << program << v9 << m_installer << m_signer.sign("#!/bin/sh\nexit 0\n") << false << "" << refused;
        QTest::newRow("wrong key") << program << v9 << m_installer << m_stranger.sign(m_installer) << false
                                   << "" << refused;
        QByteArray flipped = m_installer;
        flipped[12] = 'X';
        QTest::newRow("one byte of the file flipped")
            << program << v9 << flipped << good << false << "" << refused;
        QByteArray comment = good;
        comment.replace("version:9.0.0", "version:9.0.1");
        QTest::newRow("one byte of the trusted comment flipped")
            << program << v9 << m_installer << comment << false << "" << refused;
        QTest::newRow("global signature flipped")
            << program << v9 << m_installer << flipLine(good, 3) << false << "" << refused;
        QTest::newRow("truncated signature")
            << program << v9 << m_installer << good.left(good.size() / 2) << false << "" << refused;
        QTest::newRow("garbled signature")
            << program << v9 << m_installer << flipLine(good, 1).replace('A', '*') << false << "" << refused;
        QTest::newRow("0-byte file") << program << v9 << QByteArray() << good << false << "" << refused;
        QTest::newRow("signature redirected to file:")
            << program << v9 << m_installer << QByteArray() << true << "" << refused;
        QTest::newRow("comment mismatch: signed 1.0.0, offered 9.0.0")
            << program << v9 << m_installer << m_signer.sign(m_installer, "kind:program version:1.0.0")
            << false << "" << refused;
        QTest::newRow("wrong kind: firmware signed, offered as the program")
            << program << v9 << m_installer
            << m_signer.sign(m_installer, "kind:firmware model:Sorrel version:9.0.0") << false << ""
            << refused;
        QTest::newRow("older version than the running program")
            << program << "1.0.0" << m_installer << m_signer.sign(m_installer, "kind:program version:1.0.0")
            << false << "" << QStringLiteral("Checking,UpToDate");
        const QByteArray image = dfuImage(QByteArray("receiver 1.46 ").repeated(500), 0x0a92, 0x0146);
        QTest::newRow("firmware, good")
            << "Sorrel"
            << "1.46.0" << image << m_signer.sign(image, "kind:firmware model:Sorrel version:1.46.0") << false
            << "" << kept;
        QTest::newRow("wrong model") << "Sorrel"
                                     << "1.46.0" << image
                                     << m_signer.sign(image, "kind:firmware model:SorrelPlus version:1.46.0")
                                     << false << "" << refused;
        const QByteArray old_image = dfuImage(QByteArray("receiver 1.40 ").repeated(500), 0x0a92, 0x0140);
        QTest::newRow("image 1.40 signed and offered as 1.46")
            << "Sorrel"
            << "1.46.0" << old_image << m_signer.sign(old_image, "kind:firmware model:Sorrel version:1.46.0")
            << false << "" << refused;
        QTest::newRow("gzip offers") << program << v9 << m_installer << good << false << "offers"
                                     << QStringLiteral("Checking,Failed");
        QTest::newRow("gzip file") << program << v9 << m_installer << good << false << "file" << refused;
        QTest::newRow("gzip signature")
            << program << v9 << m_installer << good << false << "signature" << refused;
    }
    void matrix() {
        QFETCH(QString, offer);
        QFETCH(QString, version);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, signature);
        QFETCH(bool, redirectToLocal);
        QFETCH(QString, gzip);
        QFETCH(QString, trail);
        const bool trusted = trail.endsWith(QLatin1String("Downloaded"));
        const bool firmware = offer != QLatin1String("program");
        QFile::remove(marker());
        QDir(folder()).removeRecursively();
        HttpServer server;
        QVERIFY(server.listen());
        const QString name = firmware ? QStringLiteral("fw.dfu") : QStringLiteral("setup.sh");
        const QByteArray path = "/files/" + name.toUtf8();
        const QString url = server.baseUrl() + QString::fromUtf8(path);
        const auto serve = [&gzip](const char* which, const QByteArray& bytes) {
            // A bomb rather than the bytes: 64 MiB of zeros in about 64 KiB.
            HttpServer::Response response =
                body(gzip == QLatin1String(which) ? TstUpdateTrust::gzip(QByteArray(64 << 20, '\0')) : bytes);
            response.contentEncoding = gzip == QLatin1String(which) ? "gzip" : "";
            return response;
        };
        const QByteArray target = firmware ? firmwareTarget(offer, QStringLiteral("1.0.0"))
                                           : softwareTarget(QStringLiteral("linux"));
        server.setRoute(target,
                        serve("offers", firmware ? firmwareOffers(QStringLiteral("dongle"), {{version, url}})
                                                 : softwareOffers({{version, url}})));
        server.setRoute(path, serve("file", file));
        if (redirectToLocal) {
            const QUrl local = QUrl::fromLocalFile(m_root.filePath(QStringLiteral("local.minisig")));
            server.setRoute(path + ".minisig", redirect(local.toEncoded()));
        } else if (!signature.isEmpty()) {
            server.setRoute(path + ".minisig", serve("signature", signature));
        }
        UpdateDownloader downloader(folder());
        downloader.setBaseUrl(server.baseUrl());
        downloader.setPublicKey(m_signer.publicKey());
        downloader.setFirmwareCheck(&UIMediator::FirmwareImage::checkDownload);
        Recorder recorder(&downloader);
        const Global::Id id = firmware ? downloader.checkReceiverFirmware(
                                             offer, Global::Version::fromString(QStringLiteral("1.45.0")),
                                             Global::Version::fromString(QStringLiteral("1.0.0")))
                                       : downloader.checkSoftware(QStringLiteral("linux"), Global::Version());
        QTRY_COMPARE_WITH_TIMEOUT(downloader.pendingCount(), 0, 15000);
        const UpdateRecord::Shared record = recorder.record(id);
        QCOMPARE(recorder.trail(id), trail);
        if (firmware) {
            QCOMPARE(bool(record), trusted);
            QCOMPARE(tree(folder()), trusted ? QStringList({name, name + ".minisig"}) : QStringList());
            return;
        }

        // Whatever is on disk now is handed over as the program would hand it over.
        UIMediator::UISoftwareUpdateMediator launcher;
        launcher.setPublicKey(m_signer.publicKey());
        const QString stored = record ? record->path() : QDir(folder()).filePath(name);
        QCOMPARE(launcher.update(stored), trusted);
        if (trusted) {
            QTRY_VERIFY(QFile::exists(marker()));
        } else {
            QTest::qWait(300);
            QVERIFY(!QFile::exists(marker()));
            QVERIFY(!QFile::exists(stored));
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
