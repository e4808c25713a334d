#pragma once

#include <QtGlobal>
#include <optional>

#include "io/iiodevice.h"
#include "io/version.h"

// The report exchanges with the headset (its 0xffc0 interface) and the receiver (0xffa0, and 0xffa1 for the
// end of a repair). Each opens the device when it is not open yet and leaves it open; a failed open, a
// write or read of 0 bytes or less, or a reply too short for what it should carry is the failure result.
// Replies are awaited for up to kReplyTimeoutMs, holding the HID lock meanwhile; a reply is known by its
// first bytes, and the reports a device sends on its own are passed over meanwhile.
namespace Io::DeviceReports {

inline constexpr int kReplyTimeoutMs = 1000;
inline constexpr quint16 kHeadsetUsagePage = 0xffc0;
inline constexpr quint16 kReceiverUsagePage = 0xffa0;
inline constexpr quint16 kReceiverSecondUsagePage = 0xffa1;

[[nodiscard]] Global::Version readHeadsetVersion(IIoDevice& device);
[[nodiscard]] Global::Version readReceiverVersion(IIoDevice& device);

[[nodiscard]] Global::Version readHeadsetRevision(IIoDevice& device);
// The receiver has no revision query: 2.0.0 whenever the interface opens.
[[nodiscard]] Global::Version readReceiverRevision(IIoDevice& device);
// Chooses by the device's usage page; any interface other than the two above has no revision.
[[nodiscard]] Global::Version readRevision(IIoDevice& device);

// Both report whether the command was written; the receiver's result is not looked at by the caller.
bool enterHeadsetUpdate(IIoDevice& device);
bool enterReceiverUpdate(IIoDevice& device);

bool sendHeadsetPostUpdate(IIoDevice& device);

// Both start reports; false when the open or either write failed.
bool startRepair(IIoDevice& device);
// One poll: the state byte of the reply, nothing when the write or the read failed.
[[nodiscard]] std::optional<quint8> pollRepair(IIoDevice& device);
// Goes to the receiver's second interface (0xffa1) after a failed or cancelled repair.
bool endRepair(IIoDevice& device);

}  // namespace Io::DeviceReports
