#include "tools/updateservice/catalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace {

const QRegularExpression kFirmwarePath(QStringLiteral(
    R"(^/api/pc_headsets/([^/]+)/([^/]*)/1\.0\.13/1\.0\.13/dfu_firmware/meldra/1\.0\.24/ios/11\.4/en$)"));
const QRegularExpression kSoftwarePath(
    QStringLiteral(R"(^/api/pc_headsets/SorrelPlus/SonellaDesktop/1\.38\.0/app_info/([^/]+)/11\.4/en$)"));
const QRegularExpression kFilePath(QStringLiteral(R"(^/files/([^/]+)$)"));

// A decoded path segment that names one entry inside a folder and nothing else.
bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

HttpServer::Response notFound() {
    HttpServer::Response response;
    response.status = 404;
    response.contentType = "text/plain";
    response.body = "not found\n";
    return response;
}

// The suffix of a USB DFU image: bcdDevice, idProduct, idVendor, bcdDFU, "UFD", length 16, then the
// CRC-32 of everything before the CRC, reflected and without the final inversion.
QByteArray withDfuSuffix(QByteArray payload, quint16 bcd_device, quint16 product_id, quint16 vendor_id) {
    auto le16 = [&payload](quint16 value) {
        payload.append(char(value & 0xff));
        payload.append(char(value >> 8));
    };
    le16(bcd_device);
    le16(product_id);
    le16(vendor_id);
    le16(0x0100);
    payload.append("UFD", 3);
    payload.append(char(16));
    quint32 crc = 0xffffffffu;
    for (const char byte : qAsConst(payload)) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    for (int i = 0; i < 4; ++i) {
        payload.append(char((crc >> (8 * i)) & 0xff));
    }
    return payload;
}

}  // namespace

Catalog::Catalog(const QString& folder) : m_folder(folder) {}

HttpServer::Response Catalog::answer(const QByteArray& target, const QString& base_url) const {
    const QString path = QString::fromLatin1(target);
    const QDir folder(m_folder);
    if (const auto match = kFirmwarePath.match(path); match.hasMatch()) {
        const QString model = QUrl::fromPercentEncoding(match.captured(1).toLatin1());
        const QString revision = QUrl::fromPercentEncoding(match.captured(2).toLatin1());
        if (!isPlainName(model)) {
            return notFound();
        }
        const QString specific = folder.filePath(QStringLiteral("firmware/%1/%2.json").arg(model, revision));
        if (isPlainName(revision) && QFileInfo(specific).isFile()) {
            return json(specific, base_url);
        }
        return json(folder.filePath(QStringLiteral("firmware/%1.json").arg(model)), base_url);
    }
    if (const auto match = kSoftwarePath.match(path); match.hasMatch()) {
        const QString platform = QUrl::fromPercentEncoding(match.captured(1).toLatin1());
        if (!isPlainName(platform)) {
            return notFound();
        }
        return json(folder.filePath(QStringLiteral("apps/%1.json").arg(platform)), base_url);
    }
    if (const auto match = kFilePath.match(path); match.hasMatch()) {
        const QString name = QUrl::fromPercentEncoding(match.captured(1).toLatin1());
        const QString file = folder.filePath(QStringLiteral("files/") + name);
        if (!isPlainName(name) || !QFileInfo(file).isFile()) {
            return notFound();
        }
        HttpServer::Response response;
        response.filePath = file;
        return response;
    }
    return notFound();
}

HttpServer::Response Catalog::json(const QString& path, const QString& base_url) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return notFound();
    }
    HttpServer::Response response;
    response.contentType = "application/json";
    response.body = file.readAll().replace("{base}", base_url.toUtf8());
    return response;
}

bool Catalog::writeDemo(const QString& folder, const QString& model, const QString& version,
                        const QString& image, QString* error) {
    const QDir root(folder);
    if (!root.mkpath(QStringLiteral("firmware")) || !root.mkpath(QStringLiteral("files"))) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    const QString name = QStringLiteral("%1_Dongle_T%2.dfu").arg(model, version);
    const QString target = root.filePath(QStringLiteral("files/") + name);
    QFile::remove(target);
    if (!image.isEmpty()) {
        if (!QFile::copy(image, target)) {
            *error = QStringLiteral("cannot copy %1 to %2").arg(image, target);
            return false;
        }
    } else {
        // A stand-in image for the receiver's update-mode identity (46d.a92), version in bcdDevice.
        const QStringList parts = version.split(QLatin1Char('.'));
        const uint major = parts.value(0).toUInt() % 100;
        const uint minor = parts.value(1).toUInt() % 100;
        const quint16 bcd =
            quint16((major / 10) << 12 | (major % 10) << 8 | (minor / 10) << 4 | (minor % 10));
        QByteArray payload(64 * 1024, '\0');
        for (int i = 0; i < payload.size(); ++i) {
            payload[i] = char((i * 131 + 7) & 0xff);
        }
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly) || out.write(withDfuSuffix(payload, bcd, 0x0a92, 0x046d)) < 0) {
            *error = QStringLiteral("cannot write %1").arg(target);
            return false;
        }
    }
    QJsonObject offer;
    offer.insert(QStringLiteral("fw_version_dongle"), version);
    offer.insert(QStringLiteral("fw_download_url_dongle"), QStringLiteral("{base}/files/") + name);
    QJsonObject document;
    document.insert(QStringLiteral("firmwares"), QJsonArray{offer});
    QFile catalog(root.filePath(QStringLiteral("firmware/%1.json").arg(model)));
    if (!catalog.open(QIODevice::WriteOnly) || catalog.write(QJsonDocument(document).toJson()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(catalog.fileName());
        return false;
    }
    return true;
}
