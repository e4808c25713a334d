// libFuzzer target for reading an offer out of a metadata reply of the update service.
// Input: one byte choosing receiver, headset or program reply; four bytes of the caller's version
// (packed major.minor.patch, then a build byte); the rest is the reply body as it came off the wire.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "updater/offer.h"

using Updater::Offer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const int mode = data[0] % 3;
    const Global::Version current(quint32(data[1]) << 16 | quint32(data[2]) << 8 | data[3], data[4]);
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data + 5), int(size - 5));

    const Offer offer =
        mode == 2 ? Offer::readSoftware(body, current)
                  : Offer::readFirmware(
                        body, mode == 0 ? QStringLiteral("dongle") : QStringLiteral("headset"), current);
    switch (offer.decision()) {
        case Offer::Decision::None:
            if (offer.version().isValid() || !offer.url().isEmpty()) {
                std::abort();
            }
            break;
        case Offer::Decision::UpToDate:
            if (!offer.version().isValid() || current < offer.version() || !offer.url().isEmpty()) {
                std::abort();
            }
            break;
        case Offer::Decision::Accepted:
            if (!offer.version().isValid() || !(current < offer.version())) {
                std::abort();
            }
            break;
    }
    return 0;
}
