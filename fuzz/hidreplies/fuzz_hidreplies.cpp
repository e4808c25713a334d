#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "io/devicereply.h"

// The bytes are used in place (no copy), so a decoder reading past the reply trips the address sanitizer.
// Beyond memory safety, a reply too short for its bytes must never yield a value.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray reply = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));

    const Global::Version headset = Io::DeviceReply::headsetVersion(reply);
    const Global::Version receiver = Io::DeviceReply::receiverVersion(reply);
    const Global::Version revision = Io::DeviceReply::headsetRevision(reply);
    const std::optional<quint8> state = Io::DeviceReply::repairState(reply);

    if ((size < 6 && headset.isValid()) || (size < 4 && receiver.isValid()) ||
        (size < 7 && revision.isValid()) || (size < 3 && state.has_value())) {
        std::abort();
    }
    // BCD of one byte is at most 15 * 10 + 15.
    if (headset.major() > 165 || headset.minor() > 165 || headset.build() > 165 || receiver.major() > 165 ||
        receiver.build() > 165 || headset.patch() != 0 || receiver.patch() != 0) {
        std::abort();
    }
    if (state) {
        (void)Io::DeviceReply::repairProgress(*state);
    }
    return 0;
}
