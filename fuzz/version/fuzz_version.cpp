// libFuzzer target for Global::Version's text forms.
// Input: one byte choosing the base (10 or 16, the two the program uses), then a NUL-separated pair: the
// text to parse and a format to print the result with.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "io/version.h"

using Global::Version;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int base = (data[0] & 1) != 0 ? 16 : 10;
    const QByteArray rest = QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const int split = rest.indexOf('\0');
    const QString text = QString::fromUtf8(split < 0 ? rest : rest.left(split));
    const QString format = split < 0 ? QStringLiteral("M.m.p-b") : QString::fromUtf8(rest.mid(split + 1));

    const Version version = Version::fromString(text, base);
    const QString printed = version.toString(format, base);
    if (!version.isValid()) {
        // Nothing to print: callers test for a null string.
        check(printed.isNull());
        return 0;
    }
    // Only the four letters grow the text; a field takes at most 32 binary digits (the build in base 10
    // takes 10).
    check(printed.size() <= format.size() * 10);

    // Whatever came in, the canonical form reads back as the same version in the same base.
    const QString canonical = version.toString(QStringLiteral("M.m.p-b"), base);
    check(Version::fromString(canonical, base) == version);
    // And the order agrees with the packed fields.
    const Version next(version.packed(), version.build() + 1);
    check(version.build() == 0xffffffffu || version < next);
    check(version.major() <= 0xff && version.minor() <= 0xff && version.patch() <= 0xff);
    return 0;
}
