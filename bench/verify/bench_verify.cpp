// Checking a downloaded installer's signature, against Debian's minisign -V on the same file in the same
// run. Two figures of ours: the signature check over the file as it lies on disk (what the downloader does
// before it publishes a record) and the check as the launch makes it, pinning a private copy first.
//   bench_verify [MiB] [rounds]     defaults: 256 MiB, 5 rounds; prints medians and ratios

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <vector>

#include "platform/pinnedprogram.h"
#include "updater/minisign.h"

namespace {

namespace Minisign = Updater::Minisign;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool minisign(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral("minisign"), args);
    tool.closeWriteChannel();
    return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
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
    const int rounds = std::max(1, args.size() > 2 ? args.at(2).toInt() : 5);

    QTemporaryDir scratch;
    const QString file = scratch.filePath(QStringLiteral("installer.run"));
    {
        QFile big(file);
        if (!big.open(QIODevice::WriteOnly)) {
            out << "cannot write the test file\n";
            return 1;
        }
        QByteArray block(1024 * 1024, '\0');
        for (qint64 i = 0; i < mib; ++i) {
            for (int j = 0; j < block.size(); j += 512)
                block[j] = char(i * 31 + j / 512);
            big.write(block);
        }
    }
    const QString pub = scratch.filePath(QStringLiteral("k.pub"));
    const QString key = scratch.filePath(QStringLiteral("k.key"));
    if (!minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-f"), QStringLiteral("-p"), pub,
                   QStringLiteral("-s"), key}) ||
        !minisign({QStringLiteral("-S"), QStringLiteral("-s"), key, QStringLiteral("-m"), file})) {
        out << "bench_verify needs minisign\n";
        return 1;
    }
    const auto public_key = Minisign::PublicKey::fromText(readAll(pub));
    const auto signature = Minisign::Signature::fromText(readAll(file + QStringLiteral(".minisig")));
    if (!public_key || !signature) {
        out << "cannot read the key or signature minisign made\n";
        return 1;
    }

    std::vector<double> mapped;
    std::vector<double> pinned;
    std::vector<double> tool;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        {
            QFile in(file);
            if (!in.open(QIODevice::ReadOnly))
                return 1;
            const uchar* data = in.map(0, in.size());
            if (!Minisign::verify(*public_key, *signature, data, std::size_t(in.size()))) {
                out << "our check refused a good signature\n";
                return 1;
            }
        }
        mapped.push_back(clock.nsecsElapsed() / 1e6);

        clock.restart();
        {
            const Platform::PinnedProgram program(file);
            if (!program.isOpen() ||
                !Minisign::verify(*public_key, *signature, program.data(), std::size_t(program.size()))) {
                out << "the pinned check refused a good signature\n";
                return 1;
            }
        }
        pinned.push_back(clock.nsecsElapsed() / 1e6);

        clock.restart();
        if (!minisign({QStringLiteral("-V"), QStringLiteral("-q"), QStringLiteral("-p"), pub, QStringLiteral("-m"),
                       file})) {
            out << "minisign -V refused its own signature\n";
            return 1;
        }
        tool.push_back(clock.nsecsElapsed() / 1e6);
        out << "round " << i + 1 << ": ours " << qRound(mapped.back()) << " ms, pinned " << qRound(pinned.back())
            << " ms, minisign -V " << qRound(tool.back()) << " ms\n";
        out.flush();
    }
    out << "file: " << mib << " MiB, prehashed signature\n";
    out << "median verify: " << QString::number(median(mapped), 'f', 0) << " ms\n";
    out << "median pinned verify: " << QString::number(median(pinned), 'f', 0) << " ms\n";
    out << "median minisign -V: " << QString::number(median(tool), 'f', 0) << " ms\n";
    out << "ratio verify/minisign: " << QString::number(median(mapped) / median(tool), 'f', 2) << " (aim <= 1.20)\n";
    out << "ratio pinned/minisign: " << QString::number(median(pinned) / median(tool), 'f', 2) << '\n';
    return 0;
}
