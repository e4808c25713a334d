#include "tests/support/localupdateservice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QUrl>
#include <memory>

#include "hiddfu/dfusuffix.h"
#include "io/version.h"
#include "tests/support/files.h"
#include "tests/support/offers.h"
#include "tools/updateservice/catalog.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool write(const QString& path, const QByteArray& document, QString* error) {
    if (!TestSupport::writeFile(path, document)) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

// An image states its version in its suffix and the program keeps it only when that is the offered one:
// a copy of a whole image is restamped with the version it is offered as. Anything else is copied as is.
bool copyImage(const QString& source, const QString& target, const QString& version) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = in.readAll();
    std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
    HidDfu::DfuSuffix suffix;
    const Global::Version parsed = Global::Version::fromString(version, 10);
    std::uint16_t bcd = 0;
    if (HidDfu::DfuSuffix::read(image.data(), image.size(), &suffix) != HidDfu::DfuSuffix::Error::None ||
        !HidDfu::DfuSuffix::toBcd(parsed.major(), parsed.minor(), &bcd)) {
        return QFile::copy(source, target);
    }
    image.resize(image.size() - HidDfu::DfuSuffix::kSize);
    suffix.bcdDevice = bcd;
    suffix.appendTo(image);
    return TestSupport::writeFile(target,
                                  QByteArray(reinterpret_cast<const char*>(image.data()), int(image.size())));
}

}  // namespace

LocalUpdateService::LocalUpdateService() {
    auto catalog = std::make_shared<Catalog>(m_folder.path());
    m_server.setHandler(
        [this, catalog](const QByteArray& target) { return catalog->answer(target, m_server.baseUrl()); });
}

quint16 LocalUpdateService::freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool LocalUpdateService::listen(quint16 port, QString* error) {
    if (!m_folder.isValid()) {
        *error = QStringLiteral("no temporary folder for the catalog");
        return false;
    }
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("cannot listen on port %1").arg(port);
        return false;
    }
    return true;
}

QString LocalUpdateService::copyIn(const QString& source, const QString& name, QString* error,
                                   const QString& image_version) {
    const QString unique = QStringLiteral("%1-%2").arg(++m_serial).arg(name);
    const QString target = m_folder.filePath(QStringLiteral("files/") + unique);
    if (!QDir().mkpath(QFileInfo(target).path()) ||
        !(image_version.isEmpty() ? QFile::copy(source, target) : copyImage(source, target, image_version))) {
        *error = QStringLiteral("cannot copy %1 into the catalog").arg(source);
        return {};
    }
    return QStringLiteral("{base}/files/") + QString::fromLatin1(QUrl::toPercentEncoding(unique));
}

bool LocalUpdateService::offerFirmware(const QString& model, const QString& receiver_version,
                                       const QString& receiver_image, const QString& headset_version,
                                       const QString& headset_image, QString* error) {
    QJsonObject offer;
    if (!receiver_version.isEmpty()) {
        const QString url =
            copyIn(receiver_image, QStringLiteral("%1_Dongle_T%2.dfu").arg(model, receiver_version), error,
                   receiver_version);
        if (url.isEmpty()) {
            return false;
        }
        TestSupport::addFirmwareOffer(&offer, QStringLiteral("dongle"), receiver_version, url);
    }
    if (!headset_version.isEmpty()) {
        const QString url =
            copyIn(headset_image, QStringLiteral("%1_Headset_T%2.dfu").arg(model, headset_version), error,
                   headset_version);
        if (url.isEmpty()) {
            return false;
        }
        TestSupport::addFirmwareOffer(&offer, QStringLiteral("headset"), headset_version, url);
    }
    return write(m_folder.filePath(QStringLiteral("firmware/%1.json").arg(model)),
                 TestSupport::firmwareList(offer), error);
}

bool LocalUpdateService::offerProgram(const QString& platform, const QString& version, const QString& file,
                                      QString* error, const QByteArray& signature) {
    const QString url = copyIn(file, QFileInfo(file).fileName(), error);
    if (url.isEmpty()) {
        return false;
    }
    // Beside the copy under its unique name, where the program looks for it.
    const QString served = QUrl::fromPercentEncoding(url.section(QLatin1Char('/'), -1).toLatin1());
    const QString signature_path =
        m_folder.filePath(QStringLiteral("files/") + served + QStringLiteral(".minisig"));
    QFile::remove(signature_path);
    if (!signature.isEmpty()) {
        QFile out(signature_path);
        if (!out.open(QIODevice::WriteOnly) || out.write(signature) != signature.size()) {
            *error = QStringLiteral("cannot write the signature");
            return false;
        }
    }
    return write(m_folder.filePath(QStringLiteral("apps/%1.json").arg(platform)),
                 TestSupport::softwareOffers({{version, url}}), error);
}

void LocalUpdateService::withdrawAll() {
    QDir(m_folder.filePath(QStringLiteral("firmware"))).removeRecursively();
    QDir(m_folder.filePath(QStringLiteral("apps"))).removeRecursively();
}

int LocalUpdateService::countRequests(const QByteArray& part) const {
    int n = 0;
    for (const QByteArray& target : m_server.requests()) {
        if (target.contains(part)) {
            ++n;
        }
    }
    return n;
}
