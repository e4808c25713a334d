// Downloads one large file from the local update service through the downloader and through curl,
// alternately, and prints the throughput of each and the downloader's peak memory growth; then the
// downloader, which verifies the signature as it writes, against curl followed by minisign -V, and both
// against a service paced to 100 MB/s, a fast real link behind which the hashing must hide.
//   bench_download [size in MiB, default 256] [rounds, default 3]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "updater/updatedownloader.h"

namespace {

qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * 4096;
}

// Samples the resident set from a thread of its own, so a busy event loop cannot hide a peak.
class PeakSampler {
public:
    PeakSampler() : m_base(residentBytes()), m_peak(m_base) {
        m_thread = std::thread([this]() {
            while (!m_stop.load()) {
                const qint64 now = residentBytes();
                qint64 seen = m_peak.load();
                while (now > seen && !m_peak.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~PeakSampler() { stop(); }
    qint64 stop() {
        if (m_thread.joinable()) {
            m_stop = true;
            m_thread.join();
        }
        return m_peak.load() - m_base;
    }

private:
    const qint64 m_base;
    std::atomic<qint64> m_peak;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values.at(values.size() / 2);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    const qint64 mib = args.size() > 1 ? args.at(1).toLongLong() : 256;
    const int rounds = std::max(1, args.size() > 2 ? args.at(2).toInt() : 3);
    const qint64 size = mib * 1024 * 1024;

    QTemporaryDir scratch;
    const QDir root(scratch.path());
    root.mkpath(QStringLiteral("catalog/files"));
    root.mkpath(QStringLiteral("catalog/firmware"));
    {
        QFile big(root.filePath(QStringLiteral("catalog/files/big.dfu")));
        if (!big.open(QIODevice::WriteOnly)) {
            out << "cannot write the test file\n";
            return 1;
        }
        QByteArray block(1024 * 1024, '\0');
        for (qint64 written = 0; written < size; written += block.size()) {
            for (int i = 0; i < block.size(); i += 4096) {
                block[i] = char(written / block.size() + i);
            }
            big.write(block);
        }
    }
    // Offered as a program: firmware is never this large, and a program is checked the most, signature
    // included, so the figure is what the largest download really costs. Signed with a throwaway key.
    root.mkpath(QStringLiteral("catalog/apps"));
    writeFile(root.filePath(QStringLiteral("catalog/apps/linux.json")),
              R"({"apps":[{"latest_app_version":"9.0.0","app_update_url":"{base}/files/big.dfu"}]})");
    QProcess keygen;
    keygen.start(QStringLiteral("minisign"),
                 {QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-f"), QStringLiteral("-p"),
                  root.filePath(QStringLiteral("k.pub")), QStringLiteral("-s"),
                  root.filePath(QStringLiteral("k.key"))});
    keygen.waitForFinished(-1);
    QProcess sign;
    sign.start(QStringLiteral("minisign"),
               {QStringLiteral("-S"), QStringLiteral("-s"), root.filePath(QStringLiteral("k.key")),
                QStringLiteral("-m"), root.filePath(QStringLiteral("catalog/files/big.dfu")),
                QStringLiteral("-t"), QStringLiteral("kind:program version:9.0.0")});
    sign.waitForFinished(-1);
    QFile pub(root.filePath(QStringLiteral("k.pub")));
    const auto key =
        pub.open(QIODevice::ReadOnly) ? Updater::Minisign::PublicKey::fromText(pub.readAll()) : std::nullopt;
    if (!key || sign.exitCode() != 0) {
        out << "bench_download needs minisign to sign its test file\n";
        return 1;
    }

    // The same catalog from two services: at loopback speed, and paced as a real link.
    QString base;
    QString paced_base;
    QProcess service;
    QProcess paced_service;
    for (QProcess* process : {&service, &paced_service}) {
        process->setProgram(QStringLiteral(MELDRA_UPDATESERVICE));
        QStringList service_args{QStringLiteral("--folder"), root.filePath(QStringLiteral("catalog"))};
        if (process == &paced_service) {
            service_args << QStringLiteral("--rate") << QStringLiteral("100");
        }
        process->setArguments(service_args);
        process->start();
        if (!process->waitForReadyRead(10000)) {
            out << "the update service did not start\n";
            return 1;
        }
        const QString banner = QString::fromUtf8(process->readAllStandardOutput());
        (process == &service ? base : paced_base) =
            QRegularExpression(QStringLiteral("http://\\S+")).match(banner).captured(0);
    }
    const QString url = base + QStringLiteral("/files/big.dfu");
    out << "file " << mib << " MiB from " << url << ", " << rounds << " rounds each\n";

    // curl alone, or curl and then minisign -V on what it fetched.
    auto runCurl = [&](const QString& from, bool verify) -> double {
        QElapsedTimer clock;
        clock.start();
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   {QStringLiteral("-s"), QStringLiteral("-o"), root.filePath(QStringLiteral("curl.dfu")),
                    from + QStringLiteral("/files/big.dfu")});
        curl.waitForFinished(-1);
        if (verify) {
            QFile::copy(root.filePath(QStringLiteral("catalog/files/big.dfu.minisig")),
                        root.filePath(QStringLiteral("curl.dfu.minisig")));
            QProcess check;
            check.start(QStringLiteral("minisign"),
                        {QStringLiteral("-V"), QStringLiteral("-q"), QStringLiteral("-p"),
                         root.filePath(QStringLiteral("k.pub")), QStringLiteral("-m"),
                         root.filePath(QStringLiteral("curl.dfu"))});
            check.waitForFinished(-1);
            QFile::remove(root.filePath(QStringLiteral("curl.dfu.minisig")));
            if (check.exitCode() != 0) {
                return 0.0;
            }
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        const qint64 got = QFileInfo(root.filePath(QStringLiteral("curl.dfu"))).size();
        QFile::remove(root.filePath(QStringLiteral("curl.dfu")));
        return got == size ? size / seconds / 1e6 : 0.0;
    };

    qint64 worst_growth = 0;
    qint64 last_growth = 0;
    auto runDownloader = [&](const QString& from) -> double {
        Updater::UpdateDownloader downloader(root.filePath(QStringLiteral("download")));
        downloader.setBaseUrl(from);
        downloader.setPublicKey(key);
        bool done = false;
        QObject::connect(&downloader, &Updater::UpdateDownloader::updateRecordStatusChanged, &app,
                         [&done](Global::Id, Updater::UpdateDownloader::Status status) {
                             done = status != Updater::UpdateDownloader::Status::Checking &&
                                    status != Updater::UpdateDownloader::Status::Downloading;
                         });
        PeakSampler sampler;
        QElapsedTimer clock;
        clock.start();
        Q_UNUSED(downloader.checkSoftware(QStringLiteral("linux"), Global::Version()));
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        last_growth = sampler.stop();
        worst_growth = std::max(worst_growth, last_growth);
        const qint64 got = QFileInfo(root.filePath(QStringLiteral("download/big.dfu"))).size();
        QFile::remove(root.filePath(QStringLiteral("download/big.dfu")));
        return got == size ? size / seconds / 1e6 : 0.0;
    };

    runCurl(base, false);  // warms the page cache for both
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<double> verified;
    std::vector<double> paced_ours;
    std::vector<double> paced_theirs;
    for (int i = 0; i < rounds; ++i) {
        ours.push_back(runDownloader(base));
        theirs.push_back(runCurl(base, false));
        verified.push_back(runCurl(base, true));
        paced_ours.push_back(runDownloader(paced_base));
        paced_theirs.push_back(runCurl(paced_base, false));
        out << "round " << i + 1 << ": downloader " << qRound(ours.back()) << " MB/s, curl "
            << qRound(theirs.back()) << " MB/s, memory growth "
            << QString::number(last_growth / 1048576.0, 'f', 1) << " MiB\n";
        out.flush();
    }
    for (QProcess* process : {&service, &paced_service}) {
        process->terminate();
        process->waitForFinished();
    }

    // The machine is shared: the median shows the typical run, the best of each the unloaded ceiling.
    const double best_ours = *std::max_element(ours.begin(), ours.end());
    const double best_theirs = *std::max_element(theirs.begin(), theirs.end());
    out << "best: downloader " << qRound(best_ours) << " MB/s, curl " << qRound(best_theirs)
        << " MB/s, ratio " << QString::number(best_theirs > 0 ? best_ours / best_theirs : 0.0, 'f', 2)
        << '\n';
    const double ratio = median(theirs) > 0 ? median(ours) / median(theirs) : 0.0;
    out << "median: downloader " << qRound(median(ours)) << " MB/s, curl " << qRound(median(theirs))
        << " MB/s\n";
    out << "throughput ratio downloader/curl: " << QString::number(ratio, 'f', 2) << " (aim >= 0.90)\n";
    const auto ratio_of = [](const std::vector<double>& a, const std::vector<double>& b) {
        return QString::number(median(b) > 0 ? median(a) / median(b) : 0.0, 'f', 2);
    };
    out << "curl then minisign -V: " << qRound(median(verified)) << " MB/s; at 100 MB/s: downloader "
        << qRound(median(paced_ours)) << " MB/s, curl " << qRound(median(paced_theirs)) << " MB/s\n";
    out << "ratio to curl then minisign -V: " << ratio_of(ours, verified) << " (aim >= 1.0)\n";
    out << "ratio to curl at 100 MB/s: " << ratio_of(paced_ours, paced_theirs) << " (aim >= 0.9)\n";
    out << "peak memory growth of the downloader: " << QString::number(worst_growth / 1048576.0, 'f', 1)
        << " MiB (aim <= 16)\n";
    return 0;
}
