#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>

#include "sim/dfufaults.h"
#include "sim/updatemodehandler.h"

namespace HidSim {

// The device side of the update protocol (docs/dfu-protocol.md): takes an image in blocks, checks each
// block and then the whole image with its suffix, and on reset leaves the bus to come back in normal mode
// with the version the image names. Its checks are its own, written apart from the engine's, so that a
// fault on one side is not mirrored on the other.
class DfuDevice : public UpdateModeHandler {
public:
    explicit DfuDevice(UpdateModeDevice& device);

    int outputReport(const QByteArray& report) override;

    [[nodiscard]] static std::unique_ptr<UpdateModeHandler> create(UpdateModeDevice& device);

    // CRC-32 as zlib computes it (final inversion included); the suffix CRC is its complement.
    [[nodiscard]] static std::uint32_t crc32(const char* data, int size);

private:
    enum class State { Idle, Receiving, Failed, Verified };

    void command(const QByteArray& report);
    void dataReport(const QByteArray& report);
    void finishBlock();
    void ack(std::uint8_t command, std::uint8_t status, std::uint32_t value = 0, std::uint32_t crc = 0);
    [[nodiscard]] bool imageIsForMe() const;
    void reset();
    void leave();
    [[nodiscard]] QByteArray heldImage() const;

    UpdateModeDevice& m_device;
    DfuFaults m_faults;
    State m_state = State::Idle;
    bool m_gone = false;
    bool m_resetArmed = false;
    QByteArray m_image;
    std::uint32_t m_size = 0;
    std::uint32_t m_crc = 0;
    // The block whose data reports are coming in.
    std::uint32_t m_blockOffset = 0;
    std::uint32_t m_blockLength = 0;
    std::uint32_t m_blockCrc = 0;
    bool m_skipBlock = false;
    QByteArray m_block;
};

}  // namespace HidSim
