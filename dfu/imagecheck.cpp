#include "dfu/imagecheck.h"

#include <QDir>

#include "base/logging.h"
#include "hiddfu/hiddfuimage.h"

namespace DFU {

bool checkImage(const QString& path, const Io::DeviceId& update_mode_id, std::uint16_t* bcd_device) {
    if (path.isEmpty() || !update_mode_id.isValid())
        return false;
    const QByteArray utf8 = path.toUtf8();
    const int result = hidDfuCheckImageVersion(utf8.constData(), update_mode_id.vendorId(),
                                               update_mode_id.productId(), bcd_device);
    if (result != 0) {
        // 5 file, 6 not a whole image, 7 another device's, as docs/dfu-protocol.md lists the codes.
        const char* const why = result == 5   ? "the file cannot be read"
                                : result == 7 ? "it is for another device"
                                              : "it is no whole image (suffix, CRC, size)";
        qCWarning(lcDfu).noquote() << "image" << QDir::toNativeSeparators(path) << "refused for"
                                   << update_mode_id.toString() << "because" << why;
        return false;
    }
    return true;
}

}  // namespace DFU
