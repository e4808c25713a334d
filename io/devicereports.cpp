#include "io/devicereports.h"

#include <QDeadlineTimer>
#include <algorithm>
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

// What an open hidraw file keeps of a device's input reports.
constexpr int kMaxBufferedReports = 64;

// The first bytes by which each reply is told apart from the reports the devices send on their own.
constexpr Report<2> kHeadsetVersionLead{0x01, 0x00};
constexpr Report<5> kHeadsetRevisionLead{0xf1, 0x03, 0x00, 0x02, 0x0f};
constexpr Report<1> kReceiverVersionLead{0x02};
constexpr Report<2> kRepairPollLead{0x02, 0x80};

bool ensureOpen(IIoDevice& device) {
    return device.isOpen() || device.open();
}

template <std::size_t N>
bool send(IIoDevice& device, const Report<N>& report) {
    return device.write(report.data(), report.size()) >= 1;
}

// The reply as far as it arrived; empty when nothing did. A headset or receiver also sends reports of
// its own, so the reply is the first report that starts with lead, and others are passed over until the
// time-out, which bounds the whole wait rather than each report. The decoders reject what is too short.
template <std::size_t N, std::size_t L>
QByteArray receive(IIoDevice& device, const Report<L>& lead) {
    static_assert(L <= N, "the lead is part of the reply");
    std::array<unsigned char, N> buffer{};
    const QDeadlineTimer deadline(kReplyTimeoutMs);
    int overdue = 0;
    for (;;) {
        const int count = device.read(buffer.data(), buffer.size(),
                                      static_cast<int>(qMax<qint64>(0, deadline.remainingTime())));
        if (count <= 0) {
            return {};
        }
        if (std::size_t(count) >= L && std::equal(lead.begin(), lead.end(), buffer.begin())) {
            return QByteArray(reinterpret_cast<const char*>(buffer.data()), qMin(count, int(N)));
        }
        // Past the time-out only what is already buffered is looked at, at most what an input buffer holds,
        // so that the exchange ends with the empty read of a time-out.
        if (deadline.hasExpired() && ++overdue > kMaxBufferedReports) {
            return {};
        }
    }
}

}  // namespace

Global::Version readHeadsetVersion(IIoDevice& device) {
    if (!ensureOpen(device) || !send(device, kHeadsetVersionQuery)) {
        return {};
    }
    return DeviceReply::headsetVersion(receive<kHeadsetVersionReply>(device, kHeadsetVersionLead));
}

Global::Version readReceiverVersion(IIoDevice& device) {
    if (!ensureOpen(device) || !send(device, kReceiverVersionQueryFirst) ||
        !send(device, kReceiverVersionQuerySecond)) {
        return {};
    }
    return DeviceReply::receiverVersion(receive<kReceiverVersionReply>(device, kReceiverVersionLead));
}

Global::Version readHeadsetRevision(IIoDevice& device) {
    if (!ensureOpen(device) || !send(device, kHeadsetRevisionQuery)) {
        return {};
    }
    return DeviceReply::headsetRevision(receive<kHeadsetRevisionReply>(device, kHeadsetRevisionLead));
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
    return DeviceReply::repairState(receive<kRepairPollReply>(device, kRepairPollLead));
}

bool endRepair(IIoDevice& device) {
    return ensureOpen(device) && send(device, kRepairEnd);
}

}  // namespace Io::DeviceReports
