#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hiddfu/dfusuffix.h"

using HidDfu::DfuSuffix;

// Whatever the input, reading must not overrun it, and whatever is accepted must be exactly what our
// writer makes of the same payload and fields: the reader takes no file the writer could not have made.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DfuSuffix suffix;
    if (DfuSuffix::read(data, size, &suffix) != DfuSuffix::Error::None)
        return 0;
    std::vector<std::uint8_t> rebuilt(data, data + size - DfuSuffix::kSize);
    suffix.appendTo(rebuilt);
    if (rebuilt.size() != size || std::memcmp(rebuilt.data(), data, size) != 0)
        std::abort();
    unsigned major = 0;
    unsigned minor = 0;
    std::uint16_t bcd = 0;
    if (DfuSuffix::fromBcd(suffix.bcdDevice, &major, &minor) &&
        (!DfuSuffix::toBcd(major, minor, &bcd) || bcd != suffix.bcdDevice))
        std::abort();
    return 0;
}
