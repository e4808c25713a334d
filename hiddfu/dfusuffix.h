#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace HidDfu {

// The 16-byte file suffix that ends every firmware image, as the USB DFU class defines it. The image's
// payload before it is opaque to us; the suffix names the device the image is for and guards the file
// with a CRC, so a damaged or foreign image is refused before any byte of it reaches a device.
class DfuSuffix {
public:
    static constexpr std::size_t kSize = 16;
    static constexpr std::uint16_t kDfuRelease = 0x0100;

    enum class Error {
        None,
        TooShort,     // fewer bytes than a suffix
        NoSignature,  // no "UFD" where the suffix says it is
        BadLength,    // the suffix claims a length other than 16
        BadCrc,       // the file does not match its CRC
    };

    std::uint16_t bcdDevice = 0xffff;
    std::uint16_t productId = 0xffff;
    std::uint16_t vendorId = 0xffff;
    std::uint16_t bcdDfu = kDfuRelease;

    // Reads and checks the suffix at the end of an image. *out is written only when the result is None.
    [[nodiscard]] static Error read(const std::uint8_t* image, std::size_t size, DfuSuffix* out);

    // Appends this suffix to a payload, CRC included, turning it into a complete image.
    void appendTo(std::vector<std::uint8_t>& payload) const;

    // The suffix CRC of the first size bytes: reflected CRC-32 without the final inversion, which is
    // the bitwise complement of what zlib's crc32 returns.
    [[nodiscard]] static std::uint32_t crc(const std::uint8_t* data, std::size_t size);

    // bcdDevice of a version major.minor, both 0..99 (1.46 becomes 0x0146). Returns false when a number
    // has no two-digit BCD form.
    [[nodiscard]] static bool toBcd(unsigned major, unsigned minor, std::uint16_t* bcd);
    // The reverse; false when a nibble is not a decimal digit.
    [[nodiscard]] static bool fromBcd(std::uint16_t bcd, unsigned* major, unsigned* minor);

    [[nodiscard]] static const char* errorText(Error error);
};

}  // namespace HidDfu
