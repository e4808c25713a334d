#pragma once

#include <QString>

#include "io/deviceid.h"

namespace DFU {

// Asks the engine whether the file is a whole image for the device that shows update_mode_id. The
// program never reads inside an image itself; this is how it refuses one before any device is touched.
[[nodiscard]] bool checkImage(const QString& path, const Io::DeviceId& update_mode_id);

}  // namespace DFU
