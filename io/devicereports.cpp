#include "io/devicereports.h"

#include <array>

#include "io/devicereply.h"

namespace Io::DeviceReports {

namespace {

template <std::size_t N>
using Report = std::array<unsigned char, N>;

constexpr Report<3> kHeadsetVersionQuery{0x00, 0x01, 0x00};
constexpr Report<3> kReceiverVersionQueryFirst{0x02, 0x01, 0x00};
constexpr Report<3> kReceiverVersionQuerySecond{0x02, 0x00, 0x80};
constexpr Report<6> kHeadsetRevisionQuery{0x00, 0xf1, 0x03, 0x00, 0x02, 0x0f};
constexpr Report<5> kHeadsetEnterUpdate{0x00, 0xce, 0x02, 0x02, 0x00};
constexpr Report<3> kReceiverEnterUpdate{0x02, 0x02, 0x00};
constexpr Report<5> kHeadsetPostUpdate{0x00, 0xce, 0x02, 0x2d, 0x00};
constexpr Report<3> kRepairStartFirst{0x02, 0x01, 0x00};
constexpr Report<3> kRepairStartSecond{0x02, 0x08, 0x00};
constexpr Report<3> kRepairPoll{0x02, 0x80, 0x00};
constexpr Report<5> kRepairEnd{0x03, 0xce, 0x02, 0x22, 0x00};

constexpr std::size_t kHeadsetVersionReply = 7;
constexpr std::size_t kReceiverVersionReply = 4;
constexpr std::size_t kHeadsetRevisionReply = 13;
constexpr std::size_t kRepairPollReply = 3;

bool ensureOpen(IIoDevice& device) {
    return device.isOpen() || device.open();
}

template <std::size_t N>
bool send(IIoDevice& device, const Report<N>& report) {
    return device.write(report.data(), report.size()) >= 1;
}

// The reply as far as it arrived; empty when nothing did. The decoders reject what is too short.
template <std::size_t N>
QByteArray receive(IIoDevice& device) {
    std::array<unsigned char, N> buffer{};
    const int count = device.read(buffer.data(), buffer.size(), kReplyTimeoutMs);
    if (count <= 0) {
        return {};
    }
    return QByteArray(reinterpret_cast<const char*>(buffer.data()), qMin(count, int(N)));
}

}  // namespace

Global::Version readHeadsetVersion(IIoDevice& device) {
    if (!ensureOpen(device) || !send(device, kHeadsetVersionQuery)) {
        return {};
    }
    return DeviceReply::headsetVersion(receive<kHeadsetVersionReply>(device));
}

Global::Version readReceiverVersion(IIoDevice& device) {
    if (!ensureOpen(device) || !send(device, kReceiverVersionQueryFirst) ||
        !send(device, kReceiverVersionQuerySecond)) {
        return {};
    }
    return DeviceReply::receiverVersion(receive<kReceiverVersionReply>(device));
}

Global::Version readHeadsetRevision(IIoDevice& device) {
    if (!ensureOpen(device) || !send(device, kHeadsetRevisionQuery)) {
        return {};
    }
    return DeviceReply::headsetRevision(receive<kHeadsetRevisionReply>(device));
}

Global::Version readReceiverRevision(IIoDevice& device) {
    if (!ensureOpen(device)) {
        return {};
    }
    return Global::Version(Global::Version::compose(2, 0, 0), 0);
}

Global::Version readRevision(IIoDevice& device) {
    switch (device.id().usagePage()) {
        case kHeadsetUsagePage:
            return readHeadsetRevision(device);
        case kReceiverUsagePage:
            return readReceiverRevision(device);
        default:
            return {};
    }
}

bool enterHeadsetUpdate(IIoDevice& device) {
    return ensureOpen(device) && send(device, kHeadsetEnterUpdate);
}

bool enterReceiverUpdate(IIoDevice& device) {
    return ensureOpen(device) && send(device, kReceiverEnterUpdate);
}

bool sendHeadsetPostUpdate(IIoDevice& device) {
    return ensureOpen(device) && send(device, kHeadsetPostUpdate);
}

bool startRepair(IIoDevice& device) {
    return ensureOpen(device) && send(device, kRepairStartFirst) && send(device, kRepairStartSecond);
}

std::optional<quint8> pollRepair(IIoDevice& device) {
    if (!ensureOpen(device) || !send(device, kRepairPoll)) {
        return std::nullopt;
    }
    return DeviceReply::repairState(receive<kRepairPollReply>(device));
}

bool endRepair(IIoDevice& device) {
    return ensureOpen(device) && send(device, kRepairEnd);
}

}  // namespace Io::DeviceReports
