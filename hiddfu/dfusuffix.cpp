#include "hiddfu/dfusuffix.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace HidDfu {

namespace {

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

std::uint32_t DfuSuffix::crc(const std::uint8_t* data, std::size_t size) {
    // zlib takes a uInt length; images are far below that, but a fuzzer or a caller need not be.
    uLong value = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
        value = crc32(value, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return ~static_cast<std::uint32_t>(value);
}

DfuSuffix::Error DfuSuffix::read(const std::uint8_t* image, std::size_t size, DfuSuffix* out) {
    if (image == nullptr || size < kSize)
        return Error::TooShort;
    const std::uint8_t* s = image + size - kSize;
    if (s[8] != 'U' || s[9] != 'F' || s[10] != 'D')
        return Error::NoSignature;
    if (s[11] != kSize)
        return Error::BadLength;
    if (crc(image, size - 4) != le32(s + 12))
        return Error::BadCrc;
    if (out != nullptr) {
        out->bcdDevice = le16(s);
        out->productId = le16(s + 2);
        out->vendorId = le16(s + 4);
        out->bcdDfu = le16(s + 6);
    }
    return Error::None;
}

void DfuSuffix::appendTo(std::vector<std::uint8_t>& payload) const {
    putLe16(payload, bcdDevice);
    putLe16(payload, productId);
    putLe16(payload, vendorId);
    putLe16(payload, bcdDfu);
    payload.push_back('U');
    payload.push_back('F');
    payload.push_back('D');
    payload.push_back(static_cast<std::uint8_t>(kSize));
    const std::uint32_t value = crc(payload.data(), payload.size());
    for (int shift = 0; shift < 32; shift += 8)
        payload.push_back(static_cast<std::uint8_t>(value >> shift));
}

bool DfuSuffix::toBcd(unsigned major, unsigned minor, std::uint16_t* bcd) {
    if (major > 99 || minor > 99)
        return false;
    *bcd =
        static_cast<std::uint16_t>((major / 10) << 12 | (major % 10) << 8 | (minor / 10) << 4 | (minor % 10));
    return true;
}

bool DfuSuffix::fromBcd(std::uint16_t bcd, unsigned* major, unsigned* minor) {
    for (int shift = 0; shift < 16; shift += 4) {
        if (((bcd >> shift) & 0xf) > 9)
            return false;
    }
    *major = ((bcd >> 12) & 0xf) * 10 + ((bcd >> 8) & 0xf);
    *minor = ((bcd >> 4) & 0xf) * 10 + (bcd & 0xf);
    return true;
}

const char* DfuSuffix::errorText(Error error) {
    switch (error) {
        case Error::None:
            return "valid";
        case Error::TooShort:
            return "shorter than a DFU suffix";
        case Error::NoSignature:
            return "no DFU suffix signature";
        case Error::BadLength:
            return "DFU suffix length is not 16";
        case Error::BadCrc:
            return "CRC does not match";
    }
    return "unknown";
}

}  // namespace HidDfu
