#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace HidDfu {

// Makes firmware images for tests, the simulator and the carried resources. The payload is
// pseudo-random from a seed, so an image is the same on every build, and it is laid out like flash: each
// 4 KiB page holds 1 KiB of data and is erased (0xff) after it. That keeps images as compressible as real
// ones, which matters where they are stored.
class ImageBuilder {
public:
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0;
    std::uint64_t seed = 1;

    // A complete image of exactly totalSize bytes, suffix included; empty when totalSize leaves no room
    // for a payload.
    [[nodiscard]] std::vector<std::uint8_t> build(std::size_t totalSize) const;
};

}  // namespace HidDfu
