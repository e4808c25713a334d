#pragma once

#include <QString>
#include <cstdint>

#include "io/deviceid.h"

namespace DFU {

// Asks the engine whether the file is a whole image for the device that shows update_mode_id. The
// program never reads inside an image itself; this is how it refuses one before any device is touched.
// bcd_device, when given, receives the version the image's suffix states (0xffff: any) if it passes.
// why, when given, receives the reason of a refusal, for the log.
[[nodiscard]] bool checkImage(const QString& path, const Io::DeviceId& update_mode_id,
                              std::uint16_t* bcd_device = nullptr, QString* why = nullptr);

}  // namespace DFU
