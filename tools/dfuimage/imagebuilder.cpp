#include "tools/dfuimage/imagebuilder.h"

#include "hiddfu/dfusuffix.h"

namespace HidDfu {

namespace {

// splitmix64: tiny, well mixed and fixed forever, unlike the standard library's distributions.
std::uint64_t next(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

}  // namespace

std::vector<std::uint8_t> ImageBuilder::build(std::size_t totalSize) const {
    if (totalSize <= DfuSuffix::kSize)
        return {};
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kUsed = 1024;
    std::vector<std::uint8_t> image(totalSize - DfuSuffix::kSize, 0xff);
    std::uint64_t state = seed;
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (i % kPage >= kUsed)
            continue;
        if (i % 8 == 0)
            word = next(state);
        image[i] = static_cast<std::uint8_t>(word >> (8 * (i % 8)));
    }
    DfuSuffix suffix;
    suffix.vendorId = vendorId;
    suffix.productId = productId;
    suffix.bcdDevice = bcdDevice;
    suffix.appendTo(image);
    return image;
}

}  // namespace HidDfu
