#include "dfu/imagecheck.h"

#include "hiddfu/hiddfuimage.h"

namespace DFU {

bool checkImage(const QString& path, const Io::DeviceId& update_mode_id, std::uint16_t* bcd_device,
                QString* why) {
    const auto refuse = [why](const char* reason) {
        if (why != nullptr)
            *why = QLatin1String(reason);
        return false;
    };
    if (path.isEmpty())
        return refuse("no file");
    if (!update_mode_id.isValid())
        return refuse("no known device");
    const QByteArray utf8 = path.toUtf8();
    // 5 file, 7 another device's, anything else not a whole image, as docs/dfu-protocol.md lists the codes.
    switch (hidDfuCheckImageVersion(utf8.constData(), update_mode_id.vendorId(), update_mode_id.productId(),
                                    bcd_device)) {
        case 0:
            return true;
        case 5:
            return refuse("the file cannot be read");
        case 7:
            return refuse("it is for another device");
        default:
            return refuse("it is no whole image (suffix, CRC, size)");
    }
}

}  // namespace DFU
