#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

#include "hiddfu/dfusuffix.h"
#include "updater/minisign.h"

namespace OnlineTest {

// A key pair and signatures made by Debian's minisign tool, so that our reader is checked against the
// format's own implementation rather than against itself.
class Signer {
public:
    Signer() {
        m_ok = m_dir.isValid() && run({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-f"),
                                       QStringLiteral("-p"), pubPath(), QStringLiteral("-s"), keyPath()});
    }

    [[nodiscard]] bool isValid() const { return m_ok; }
    [[nodiscard]] QString keyPath() const { return m_dir.filePath(QStringLiteral("k.key")); }
    [[nodiscard]] QString pubPath() const { return m_dir.filePath(QStringLiteral("k.pub")); }
    [[nodiscard]] QByteArray publicKeyText() const { return read(pubPath()); }
    [[nodiscard]] std::optional<Updater::Minisign::PublicKey> publicKey() const {
        return Updater::Minisign::PublicKey::fromText(publicKeyText());
    }

    // The ".minisig" text for these bytes; empty when the tool failed. The comment says what the file is
    // offered as (docs/update-service.md): a program of version 9.0.0 unless told otherwise.
    [[nodiscard]] QByteArray sign(
        const QByteArray& data, const QString& trusted_comment = QStringLiteral("kind:program version:9.0.0"),
        bool legacy = false) const {
        const QString file = m_dir.filePath(QStringLiteral("data"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size()) {
            return {};
        }
        out.close();
        QStringList args{QStringLiteral("-S"), QStringLiteral("-s"), keyPath(), QStringLiteral("-m"), file,
                         QStringLiteral("-t"), trusted_comment};
        if (legacy) {
            args << QStringLiteral("-l");
        }
        QFile::remove(file + QStringLiteral(".minisig"));
        return run(args) ? read(file + QStringLiteral(".minisig")) : QByteArray();
    }

private:
    static QByteArray read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool run(const QStringList& args) const {
        QProcess tool;
        tool.start(QStringLiteral("minisign"), args);
        tool.closeWriteChannel();
        return tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit &&
               tool.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
};

// A whole image for the update-mode identity 046d:product, with a valid suffix stating bcd_device.
inline QByteArray dfuImage(const QByteArray& payload, quint16 product_id = 0x0a92,
                           quint16 bcd_device = 0x0146) {
    std::vector<std::uint8_t> bytes(payload.begin(), payload.end());
    HidDfu::DfuSuffix suffix;
    suffix.vendorId = 0x046d;
    suffix.productId = product_id;
    suffix.bcdDevice = bcd_device;
    suffix.appendTo(bytes);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

}  // namespace OnlineTest
