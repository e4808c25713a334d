#include "io/devicereply.h"

namespace Io::DeviceReply {

namespace {

quint8 byteAt(const QByteArray& reply, int index) {
    return static_cast<quint8>(reply.at(index));
}

Global::Version bcdVersion(const QByteArray& reply, int first) {
    if (reply.size() < first + 3) {
        return {};
    }
    const quint8 major = bcd(byteAt(reply, first));
    const quint8 minor = bcd(byteAt(reply, first + 1));
    const quint8 build = bcd(byteAt(reply, first + 2));
    return Global::Version(Global::Version::compose(major, minor, 0), build);
}

}  // namespace

Global::Version headsetVersion(const QByteArray& reply) {
    return bcdVersion(reply, 3);
}

Global::Version receiverVersion(const QByteArray& reply) {
    return bcdVersion(reply, 1);
}

Global::Version headsetRevision(const QByteArray& reply) {
    constexpr int kRevisionByte = 6;
    if (reply.size() <= kRevisionByte) {
        return {};
    }
    return Global::Version(Global::Version::compose(byteAt(reply, kRevisionByte), 0, 0), 0);
}

std::optional<quint8> repairState(const QByteArray& reply) {
    constexpr int kStateByte = 2;
    if (reply.size() <= kStateByte) {
        return std::nullopt;
    }
    return byteAt(reply, kStateByte);
}

RepairProgress repairProgress(quint8 state) {
    switch (state) {
        case 0x40:
            return RepairProgress::Finished;
        case 0x08:
        case 0x20:
            return RepairProgress::Failed;
        default:
            return RepairProgress::Pending;
    }
}

}  // namespace Io::DeviceReply
