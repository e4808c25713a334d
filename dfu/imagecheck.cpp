#include "dfu/imagecheck.h"

#include "hiddfu/hiddfuimage.h"

namespace DFU {

bool checkImage(const QString& path, const Io::DeviceId& update_mode_id, std::uint16_t* bcd_device) {
    if (path.isEmpty() || !update_mode_id.isValid())
        return false;
    const QByteArray utf8 = path.toUtf8();
    return hidDfuCheckImageVersion(utf8.constData(), update_mode_id.vendorId(), update_mode_id.productId(),
                                   bcd_device) == 0;
}

}  // namespace DFU
