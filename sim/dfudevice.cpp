#include "sim/dfudevice.h"

#include <QMap>
#include <QMutex>
#include <QMutexLocker>

#include <array>

#include "hiddfu/dfuprotocol.h"

namespace HidSim {

using namespace HidDfu::Protocol;

namespace {

// Every device of the two families shows this vendor id in both modes.
constexpr quint16 kVendorId = 0x046d;
constexpr int kSuffixSize = 16;

struct Store {
    QMutex mutex;
    QMap<int, DfuFaults> faults;
    QMap<int, QByteArray> flash;
};

Store& store() {
    static Store instance;
    return instance;
}

DfuFaults faultsOf(int id) {
    QMutexLocker lock(&store().mutex);
    return store().faults.value(id);
}

std::uint32_t le32(const QByteArray& b, int at) {
    return std::uint32_t(quint8(b[at])) | std::uint32_t(quint8(b[at + 1])) << 8 |
           std::uint32_t(quint8(b[at + 2])) << 16 | std::uint32_t(quint8(b[at + 3])) << 24;
}

std::uint16_t le16(const QByteArray& b, int at) {
    return std::uint16_t(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

void putLe32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

// True when the transfer of bytes [from, to) of an image of size crosses percent.
bool crosses(int percent, std::uint32_t from, std::uint32_t to, std::uint32_t size) {
    if (percent < 0 || size == 0)
        return false;
    const auto threshold = std::uint64_t(size) * std::uint64_t(percent) / 100;
    return std::uint64_t(to) >= threshold && std::uint64_t(from) <= threshold;
}

std::unique_ptr<UpdateModeHandler> makeHandler(UpdateModeDevice& device) {
    return DfuDevice::create(device);
}

const bool registered = (setUpdateModeHandlerFactory(&makeHandler), true);

}  // namespace

void setDfuFaults(int deviceId, const DfuFaults& faults) {
    QMutexLocker lock(&store().mutex);
    store().faults.insert(deviceId, faults);
}

void clearDfuFaults() {
    QMutexLocker lock(&store().mutex);
    store().faults.clear();
    store().flash.clear();
}

QByteArray dfuFlashedImage(int deviceId) {
    QMutexLocker lock(&store().mutex);
    return store().flash.value(deviceId);
}

DfuDevice::DfuDevice(UpdateModeDevice& device) : m_device(device) {
    Q_UNUSED(registered);
}

std::unique_ptr<UpdateModeHandler> DfuDevice::create(UpdateModeDevice& device) {
    return std::make_unique<DfuDevice>(device);
}

std::uint32_t DfuDevice::crc32(const char* data, int size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xffffffffu;
    for (int i = 0; i < size; ++i)
        c = table[(c ^ quint8(data[i])) & 0xff] ^ (c >> 8);
    return ~c;
}

int DfuDevice::outputReport(const QByteArray& report) {
    if (m_gone)
        return -1;
    // hidapi puts the report id in front; the protocol's reports are unnumbered.
    QByteArray body = report.mid(1).left(kReportSize);
    body.append(QByteArray(kReportSize - body.size(), '\0'));
    if ((quint8(body[0]) & kDataTagMask) == kDataTag) {
        dataReport(body);
    } else {
        // A command in the middle of a block ends the block: the host gave it up.
        m_blockLength = 0;
        command(body);
    }
    return report.size();
}

void DfuDevice::command(const QByteArray& report) {
    const auto cmd = std::uint8_t(report[0]);
    if (cmd != Leave)
        m_resetArmed = false;
    switch (cmd) {
        case Start: {
            m_faults = faultsOf(m_device.id());
            const std::uint32_t size = le32(report, 1);
            if (size <= kSuffixSize || size > kMaxImageSize + kSuffixSize) {
                m_state = State::Idle;
                ack(Start, TooLarge);
                return;
            }
            m_size = size;
            m_crc = le32(report, 5);
            m_image.clear();
            m_image.reserve(int(size));
            m_state = State::Receiving;
            ack(Start, Ok, size);
            return;
        }
        case Block: {
            const std::uint32_t offset = le32(report, 1);
            const std::uint32_t length = le16(report, 5);
            if (m_state == State::Failed) {
                // Blocks already on their way after a failure: their data must not be read as commands.
                m_skipBlock = true;
                m_blockOffset = offset;
                m_blockLength = std::min<std::uint32_t>(length, kBlockSize);
                m_block.clear();
                if (m_blockLength == 0)
                    ack(Block, BadCommand, offset);
                return;
            }
            if (m_state != State::Receiving) {
                ack(Block, BadCommand, offset);
                return;
            }
            if (offset != std::uint32_t(m_image.size()) || length == 0 || length > kBlockSize ||
                std::uint64_t(offset) + length > m_size) {
                m_state = State::Failed;
                ack(Block, BadOffset, offset);
                return;
            }
            m_blockOffset = offset;
            m_blockLength = length;
            m_blockCrc = le32(report, 7);
            m_skipBlock = false;
            m_block.clear();
            return;
        }
        case Verify: {
            if (m_state != State::Receiving || std::uint32_t(m_image.size()) != m_size ||
                crc32(m_image.constData(), m_image.size()) != m_crc || !imageIsForMe()) {
                m_state = State::Failed;
                ack(Verify, VerifyFailed);
                return;
            }
            m_state = State::Verified;
            {
                QMutexLocker lock(&store().mutex);
                store().flash.insert(m_device.id(), m_image);
            }
            ack(Verify, Ok, m_size, m_crc);
            return;
        }
        case Reset:
            reset();
            return;
        case Leave:
            if (!m_resetArmed) {
                ack(Leave, BadCommand);
                return;
            }
            leave();
            return;
        case Abort:
            m_state = State::Idle;
            m_image.clear();
            return;
        case Query: {
            const QByteArray held = heldImage();
            ack(Query, Ok, std::uint32_t(held.size()),
                held.isEmpty() ? 0 : crc32(held.constData(), held.size()));
            return;
        }
        case Read: {
            const QByteArray held = heldImage();
            const std::uint32_t offset = le32(report, 1);
            const std::uint32_t length = le16(report, 5);
            if (length == 0 || length > kBlockSize ||
                std::uint64_t(offset) + length > std::uint64_t(held.size())) {
                ack(Read, BadOffset, offset);
                return;
            }
            for (std::uint32_t at = 0; at < length; at += kReportSize) {
                QByteArray out =
                    held.mid(int(offset + at), int(std::min<std::uint32_t>(kReportSize, length - at)));
                out.append(QByteArray(kReportSize - out.size(), '\0'));
                m_device.queueInputReport(out);
            }
            return;
        }
        default:
            ack(cmd, BadCommand);
            return;
    }
}

void DfuDevice::dataReport(const QByteArray& report) {
    if (m_blockLength == 0) {
        // Data outside a block: the block command was lost or never sent.
        if (m_state == State::Receiving) {
            m_state = State::Failed;
            ack(Block, BadCommand, std::uint32_t(m_image.size()));
        }
        return;
    }
    const auto index = std::uint32_t(m_block.size()) / kPayloadPerReport;
    if ((quint8(report[0]) & kDataIndexMask) != (index & kDataIndexMask)) {
        m_blockLength = 0;
        m_state = State::Failed;
        ack(Block, BlockCrc, m_blockOffset);
        return;
    }
    const std::uint32_t missing = m_blockLength - std::uint32_t(m_block.size());
    m_block.append(report.constData() + 1, int(std::min<std::uint32_t>(missing, kPayloadPerReport)));
    if (std::uint32_t(m_block.size()) == m_blockLength)
        finishBlock();
}

void DfuDevice::finishBlock() {
    const std::uint32_t offset = m_blockOffset;
    const std::uint32_t end = offset + m_blockLength;
    m_blockLength = 0;
    if (m_skipBlock) {
        m_skipBlock = false;
        ack(Block, BadCommand, offset);
        return;
    }
    if (crosses(m_faults.lostAtPercent, offset, end, m_size)) {
        // Unplugged: no answer, and the handle fails from now on.
        m_gone = true;
        UpdateModeDevice::Reset how;
        how.comeBack = false;
        m_device.reset(how);
        return;
    }
    if (crc32(m_block.constData(), m_block.size()) != m_blockCrc) {
        m_state = State::Failed;
        ack(Block, BlockCrc, offset);
        return;
    }
    if (crosses(m_faults.errorAtPercent, offset, end, m_size)) {
        m_state = State::Failed;
        ack(Block, WriteError, offset);
        return;
    }
    if (m_faults.corruptStorage && offset == 0)
        m_block[0] = char(~quint8(m_block[0]));
    m_image.append(m_block);
    ack(Block, Ok, offset);
}

bool DfuDevice::imageIsForMe() const {
    const int at = m_image.size() - kSuffixSize;
    if (at <= 0 || m_image.mid(at + 8, 4) != QByteArray("UFD\x10", 4))
        return false;
    if (~crc32(m_image.constData(), m_image.size() - 4) != le32(m_image, m_image.size() - 4))
        return false;
    // The version must have the two BCD bytes the device reports in normal mode.
    const std::uint16_t bcd = le16(m_image, at);
    for (int shift = 0; shift < 16; shift += 4) {
        if ((bcd >> shift & 0xf) > 9)
            return false;
    }
    return le16(m_image, at + 2) == m_device.productId() && le16(m_image, at + 4) == kVendorId;
}

void DfuDevice::reset() {
    m_faults = faultsOf(m_device.id());
    // Half an image, or one that failed, would leave nothing to start: the device stays in update mode
    // and waits for a good one.
    if (m_faults.refuseReset || m_state == State::Receiving || m_state == State::Failed) {
        ack(Reset, Refused);
        return;
    }
    m_resetArmed = true;
    ack(Reset, Ok);
}

void DfuDevice::leave() {
    UpdateModeDevice::Reset how;
    how.delayMs = m_faults.resetDelayMs;
    how.comeBack = !m_faults.noReturnAfterReset;
    how.mode = Mode::Normal;
    how.serial = m_faults.returnSerial;
    if (m_state == State::Verified) {
        const int at = m_image.size() - kSuffixSize;
        const std::uint16_t bcd = le16(m_image, at);
        const int major = (bcd >> 12 & 0xf) * 10 + (bcd >> 8 & 0xf);
        const int minor = (bcd >> 4 & 0xf) * 10 + (bcd & 0xf);
        how.firmware = QStringLiteral("%1.%2.0").arg(major).arg(minor);
    }
    m_gone = true;
    m_device.reset(how);
}

QByteArray DfuDevice::heldImage() const {
    if (m_state == State::Verified)
        return m_image;
    return dfuFlashedImage(m_device.id());
}

void DfuDevice::ack(std::uint8_t command, std::uint8_t status, std::uint32_t value, std::uint32_t crc) {
    if (m_faults.silent)
        return;
    QByteArray out(kReportSize, '\0');
    out[0] = char(kAckTag);
    out[kAckCommand] = char(command);
    out[kAckStatus] = char(status);
    putLe32(out, kAckValue, value);
    putLe32(out, kAckCrc, crc);
    m_device.queueInputReport(out);
}

}  // namespace HidSim
