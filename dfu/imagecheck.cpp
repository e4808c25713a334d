#include "dfu/imagecheck.h"

#include "hiddfu/hiddfuimage.h"

namespace DFU {

bool checkImage(const QString& path, const Io::DeviceId& update_mode_id) {
    if (path.isEmpty() || !update_mode_id.isValid())
        return false;
    const QByteArray utf8 = path.toUtf8();
    return hidDfuCheckImage(utf8.constData(), update_mode_id.vendorId(), update_mode_id.productId()) == 0;
}

}  // namespace DFU
