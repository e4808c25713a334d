#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

#include "io/version.h"

// Decoders of the replies of the headset and the receiver. A reply may be any bytes: one that is shorter
// than the byte a decoder needs is a failed exchange (the invalid version, or no value), never a read
// beyond its end.
namespace Io::DeviceReply {

// Version bytes are BCD. Nibbles above 9 are passed through as the device sent them, in 8 bits.
[[nodiscard]] constexpr quint8 bcd(quint8 byte) {
    return static_cast<quint8>((byte >> 4) * 10 + (byte & 0x0f));
}

// Byte 3 major, byte 4 minor, byte 5 build, all BCD.
[[nodiscard]] Global::Version headsetVersion(const QByteArray& reply);
// Byte 1 major, byte 2 minor, byte 3 build, all BCD.
[[nodiscard]] Global::Version receiverVersion(const QByteArray& reply);
// Byte 6 as a plain number is the major part.
[[nodiscard]] Global::Version headsetRevision(const QByteArray& reply);
// Byte 2 of a repair poll reply.
[[nodiscard]] std::optional<quint8> repairState(const QByteArray& reply);

enum class RepairProgress { Pending, Finished, Failed };
[[nodiscard]] RepairProgress repairProgress(quint8 state);

}  // namespace Io::DeviceReply
