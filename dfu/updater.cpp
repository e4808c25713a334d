#include "dfu/updater.h"

#include <QByteArray>
#include <QDir>

#include "base/logging.h"
#include "hiddfu/hiddfu.h"

namespace DFU {

namespace {

// The engine's result codes as docs/dfu-protocol.md lists them; the engine itself has no words.
const char* engineError(int code) {
    switch (code) {
        case 1:
            return "not connected";
        case 2:
            return "not exactly one device in update mode";
        case 3:
            return "the device could not be opened";
        case 4:
            return "a transfer is still running";
        case 5:
            return "the file could not be read or written";
        case 6:
            return "no valid image (suffix, CRC, size)";
        case 7:
            return "the image is for another device";
        case 8:
            return "a report could not be written or read, the device is gone";
        case 9:
            return "the device answered with an error status";
        case 10:
            return "the device did not answer in time";
        case 11:
            return "abandoned by a disconnect";
        case 12:
            return "bad argument";
        default:
            return "unknown engine code";
    }
}

QString described(int code) {
    return QStringLiteral("%1 (engine code %2)").arg(QLatin1String(engineError(code))).arg(code);
}

}  // namespace

Updater::~Updater() {
    // The engine has no abort call: disconnecting is also how a running transfer is abandoned.
    hidDfuDisconnect();
}

bool Updater::connect(quint16 vendor_id, quint16 product_id, quint16 usage_page, quint16 usage) {
    return connect(Io::DeviceId(vendor_id, product_id, usage_page, usage));
}

bool Updater::connect(const Io::DeviceId& id) {
    uint16_t count = 0;
    // The engine takes the usage before the usage page.
    const int result = hidDfuConnect(id.vendorId(), id.productId(), id.usage(), id.usagePage(), &count);
    if (result != 0 || count != 1) {
        qCWarning(lcDfu).noquote() << "connecting to the update-mode device" << id.toString()
                                   << "failed:" << described(result) << "with" << count << "matching";
        return false;
    }
    m_id = id;
    return true;
}

bool Updater::upgrade(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    const int result = hidDfuUpgrade(utf8.constData(), 0);
    if (result != 0) {
        qCWarning(lcDfu).noquote() << "the engine refused" << QDir::toNativeSeparators(path) << "for"
                                   << m_id.toString() << described(result);
        return false;
    }
    qCInfo(lcDfu).noquote() << "transfer to" << m_id.toString() << "started";
    return true;
}

bool Updater::backup(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    const int result = hidDfuBackup(utf8.constData(), 0);
    if (result != 0) {
        qCWarning(lcDfu).noquote() << "reading the image of" << m_id.toString() << "into"
                                   << QDir::toNativeSeparators(path) << "failed:" << described(result);
        return false;
    }
    return true;
}

bool Updater::resetDevice() {
    const int result = hidDfuResetDevice();
    if (result != 0) {
        qCWarning(lcDfu).noquote() << "restarting" << m_id.toString() << "failed:" << described(result);
        return false;
    }
    return true;
}

bool Updater::disconnect() {
    return hidDfuDisconnect() == 0;
}

bool Updater::getProgress(quint8& percent) {
    const int progress = hidDfuGetProgress();
    if (const int result = hidDfuGetResult(); result != 0) {
        qCWarning(lcDfu).noquote() << "transfer to" << m_id.toString() << "failed at" << progress
                                   << "%:" << described(result);
        return false;
    }
    percent = static_cast<quint8>(progress & 0xff);
    return true;
}

IUpdater* createUpdater() {
    return new Updater();
}

}  // namespace DFU
