#include "dfu/updater.h"

#include <QByteArray>

#include "hiddfu/hiddfu.h"

namespace DFU {

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
    return result == 0 && count == 1;
}

bool Updater::upgrade(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    return hidDfuUpgrade(utf8.constData(), 0) == 0;
}

bool Updater::backup(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    return hidDfuBackup(utf8.constData(), 0) == 0;
}

bool Updater::resetDevice() {
    return hidDfuResetDevice() == 0;
}

bool Updater::disconnect() {
    return hidDfuDisconnect() == 0;
}

bool Updater::getProgress(quint8& percent) {
    const int progress = hidDfuGetProgress();
    if (hidDfuGetResult() != 0)
        return false;
    percent = static_cast<quint8>(progress & 0xff);
    return true;
}

IUpdater* createUpdater() {
    return new Updater();
}

}  // namespace DFU
