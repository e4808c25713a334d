#pragma once

#include <cstdint>

// The update-mode report protocol shared by the engine and the device model of the simulator. The
// layout, the order of commands and the meaning of every status are described in docs/dfu-protocol.md.
namespace HidDfu::Protocol {

// Every report, in and out, is 64 bytes on the update-mode interface; reports are unnumbered, so hidapi
// carries a leading report id byte of 0 on writes.
constexpr int kReportSize = 64;

// Image bytes go in blocks: one Block command, then the block's bytes in data reports. A data report is
// tagged in its first byte with kDataTag and the report's index in the block (low six bits), so that a
// command can never be mistaken for data, even after a transfer was abandoned half-way through a block;
// the other 63 bytes are payload. The device acknowledges each block; the host keeps up to kWindow blocks
// unacknowledged, so acknowledgements cost no idle time on the link.
constexpr int kPayloadPerReport = kReportSize - 1;
constexpr int kReportsPerBlock = 128;
constexpr std::uint32_t kBlockSize = kPayloadPerReport * kReportsPerBlock;
constexpr int kWindow = 4;
constexpr std::uint8_t kDataTag = 0x40;
constexpr std::uint8_t kDataTagMask = 0xc0;
constexpr std::uint8_t kDataIndexMask = 0x3f;

// Largest image the engine or the device accepts, well above any image of this device line.
constexpr std::uint32_t kMaxImageSize = 16u * 1024u * 1024u;

enum Command : std::uint8_t {
    Start = 0x01,   // u32 image size, u32 CRC-32 of the whole image
    Block = 0x02,   // u32 offset, u16 length, u32 CRC-32 of the block; the data reports follow
    Verify = 0x03,  // none
    Reset = 0x04,   // none; the device answers whether it can restart, then waits for Leave
    Abort = 0x05,   // none; the device drops a partial image
    Query = 0x06,   // none; answered with the size and CRC of the image the device holds
    Read = 0x07,    // u32 offset, u16 length (at most kMaxReadLength); answered with raw data reports
    Leave = 0x08,   // none, right after an acknowledged Reset; the device restarts without answering
};

// A Read is answered at once with all its reports; the host's input buffer must hold them. hidraw keeps
// 64 reports per open file and drops the oldest beyond that.
constexpr std::uint32_t kMaxReadLength = 32 * kReportSize;

// Input report tag of an acknowledgement; the data reports that answer Read are raw, 64 bytes of image each.
constexpr std::uint8_t kAckTag = 0x80;

enum Status : std::uint8_t {
    Ok = 0x00,
    BadCommand = 0x01,    // unknown command, or a command out of order
    BadOffset = 0x02,     // a block not at the next expected offset, or outside the image
    BlockCrc = 0x03,      // the block's data does not match its CRC, or a data report is missing
    WriteError = 0x04,    // the device could not store the block
    VerifyFailed = 0x05,  // image incomplete, CRC mismatch, bad suffix or an image for another device
    Refused = 0x06,       // the device will not do this now
    TooLarge = 0x07,      // the image does not fit the device
};

// Acknowledgement layout: [0] kAckTag, [1] the command answered, [2] status, [3..6] u32 value
// (Block: offset of the block; Query: image size), [7..10] u32 CRC-32 (Query: of the held image).
constexpr int kAckCommand = 1;
constexpr int kAckStatus = 2;
constexpr int kAckValue = 3;
constexpr int kAckCrc = 7;

}  // namespace HidDfu::Protocol
