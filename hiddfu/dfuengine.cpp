#include "hiddfu/dfuengine.h"

#include <hidapi.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "hiddfu/dfuprotocol.h"
#include "hiddfu/dfusuffix.h"
#include "hiddfu/widepath.h"

namespace HidDfu {

using namespace Protocol;

namespace {

void putLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void storeLe16(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
}

void storeLe32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t imageCrc(const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(size)));
}

// 99 at most: the last percent belongs to the device's verification.
int percentOf(std::uint32_t acked, std::uint32_t blocks) {
    return static_cast<int>(std::uint64_t(acked) * 99 / blocks);
}

bool readFile(const char* path, std::vector<std::uint8_t>& out) {
    std::ifstream in;
    openUtf8(in, path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    // The suffix counts too: an image of the largest payload the device takes is still accepted.
    if (size < 0 || static_cast<std::uint64_t>(size) > kMaxImageSize + DfuSuffix::kSize) {
        out.clear();
        return size >= 0;
    }
    out.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(out.data()), size));
}

int readImage(const char* path, int vendor_id, int product_id, std::vector<std::uint8_t>& image,
              std::uint16_t* bcd_device = nullptr) {
    if (path == nullptr || !readFile(path, image))
        return DfuEngine::FileError;
    DfuSuffix suffix;
    if (image.size() <= DfuSuffix::kSize ||
        DfuSuffix::read(image.data(), image.size(), &suffix) != DfuSuffix::Error::None)
        return DfuEngine::BadImage;
    if (suffix.vendorId != vendor_id || suffix.productId != product_id)
        return DfuEngine::ForeignImage;
    if (bcd_device != nullptr)
        *bcd_device = suffix.bcdDevice;
    return DfuEngine::Success;
}

}  // namespace

int DfuEngine::checkImage(const char* path, int vendor_id, int product_id, std::uint16_t* bcd_device) {
    std::vector<std::uint8_t> image;
    return readImage(path, vendor_id, product_id, image, bcd_device);
}

DfuEngine::~DfuEngine() {
    disconnect();
}

DfuEngine& DfuEngine::instance() {
    // Never destroyed: at exit the hidapi behind it may already be torn down, and a transfer still
    // running then simply ends with the process.
    static DfuEngine* engine = new DfuEngine;
    return *engine;
}

int DfuEngine::connect(int vendor_id, int product_id, int usage, int usage_page, std::uint16_t* count) {
    if (vendor_id <= 0 || vendor_id > 0xffff || product_id <= 0 || product_id > 0xffff)
        return BadArgument;
    std::lock_guard<std::mutex> lock(m_mutex);
    // One connection at a time: a caller that connects again gets a fresh one rather than a stale handle.
    m_abandon = true;
    if (m_thread.joinable())
        m_thread.join();
    closeLocked();
    m_progress = 0;
    m_result = Success;

    std::uint16_t found = 0;
    std::string path;
    hid_device_info* list =
        hid_enumerate(static_cast<unsigned short>(vendor_id), static_cast<unsigned short>(product_id));
    for (hid_device_info* it = list; it != nullptr; it = it->next) {
        if (it->usage_page == usage_page && it->usage == usage && it->path != nullptr) {
            if (found < 0xffff)
                ++found;
            path = it->path;
        }
    }
    hid_free_enumeration(list);
    if (count != nullptr)
        *count = found;
    if (found != 1)
        return DeviceCount;

    m_device = hid_open_path(path.c_str());
    if (m_device == nullptr)
        return OpenFailed;
    m_vendorId = static_cast<std::uint16_t>(vendor_id);
    m_productId = static_cast<std::uint16_t>(product_id);
    return Success;
}

int DfuEngine::disconnect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abandon = true;
    if (m_thread.joinable())
        m_thread.join();
    // Only a transfer stopped here leaves a partial image; one that ended by itself, verified or failed,
    // leaves nothing to drop.
    if (m_result.load() == Abandoned && m_device != nullptr) {
        // Best effort: a device that is still there drops its partial image at once instead of waiting
        // for the next Start. It may be gone, so the result does not matter.
        std::uint8_t report[kReportSize] = {Abort};
        writeReport(report);
    }
    closeLocked();
    return Success;
}

void DfuEngine::closeLocked() {
    if (m_device != nullptr) {
        hid_close(m_device);
        m_device = nullptr;
    }
    m_vendorId = 0;
    m_productId = 0;
}

bool DfuEngine::settleLocked() {
    if (m_running.load())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

int DfuEngine::upgrade(const char* path) {
    if (path == nullptr)
        return BadArgument;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_device == nullptr)
        return NotConnected;
    if (!settleLocked())
        return Busy;

    // Everything about the image is settled here, before the first report: a refused image leaves the
    // device exactly as it was.
    std::vector<std::uint8_t> image;
    if (int code = readImage(path, m_vendorId, m_productId, image); code != Success)
        return code;

    m_progress = 0;
    m_result = Success;
    m_abandon = false;
    m_running = true;
    try {
        m_thread = std::thread(&DfuEngine::runTransfer, this, std::move(image));
    } catch (const std::system_error&) {
        // No exception may cross the C interface.
        m_running = false;
        return Busy;
    }
    return Success;
}

void DfuEngine::runTransfer(std::vector<std::uint8_t> image) {
    const int code = transfer(image);
    if (code == Success)
        m_progress.store(100, std::memory_order_release);
    else
        m_result.store(code, std::memory_order_release);
    m_running.store(false, std::memory_order_release);
}

int DfuEngine::transfer(const std::vector<std::uint8_t>& image) {
    const auto size = static_cast<std::uint32_t>(image.size());
    std::vector<std::uint8_t> args;
    putLe32(args, size);
    putLe32(args, imageCrc(image.data(), image.size()));
    if (int code = command(Start, args, kAnswerTimeoutMs); code != Success)
        return code;

    const std::uint32_t blocks = (size + kBlockSize - 1) / kBlockSize;
    std::uint32_t sent = 0;
    std::uint32_t acked = 0;
    while (acked < blocks) {
        // Keep the device's pipe full: up to kWindow blocks go out before the first of them must be
        // acknowledged, so an acknowledgement costs no idle time on the link.
        while (sent < blocks && sent - acked < static_cast<std::uint32_t>(kWindow)) {
            if (int code = sendBlock(image, sent); code != Success)
                return code;
            ++sent;
            // Take what has already arrived without waiting, so the window rarely fills.
            if (int code = drainAcks(acked, sent, blocks); code != Success)
                return code;
        }
        if (acked < sent) {
            if (int code = takeAck(acked, blocks, kAnswerTimeoutMs); code != Success)
                return code;
        }
    }
    // Written is not yet flashed: 100 waits for the device's own check of the whole image.
    return command(Verify, {}, kAnswerTimeoutMs);
}

int DfuEngine::sendBlock(const std::vector<std::uint8_t>& image, std::uint32_t block) {
    const auto size = static_cast<std::uint32_t>(image.size());
    const std::uint32_t offset = block * kBlockSize;
    const std::uint32_t length = std::min(kBlockSize, size - offset);
    const std::uint8_t* data = image.data() + offset;
    std::uint8_t report[kReportSize] = {Block};
    storeLe32(report + 1, offset);
    storeLe16(report + 5, length);
    storeLe32(report + 7, imageCrc(data, length));
    if (int code = writeReport(report); code != Success)
        return code;
    std::uint8_t index = 0;
    for (std::uint32_t at = 0; at < length; at += kPayloadPerReport, ++index) {
        if (m_abandon.load(std::memory_order_relaxed))
            return Abandoned;
        const std::uint32_t n = std::min<std::uint32_t>(kPayloadPerReport, length - at);
        report[0] = static_cast<std::uint8_t>(kDataTag | (index & kDataIndexMask));
        std::memcpy(report + 1, data + at, n);
        std::memset(report + 1 + n, 0, kPayloadPerReport - n);
        if (int code = writeReport(report); code != Success)
            return code;
    }
    return Success;
}

int DfuEngine::drainAcks(std::uint32_t& acked, std::uint32_t sent, std::uint32_t blocks) {
    while (acked < sent) {
        const int code = takeAck(acked, blocks, 0);
        if (code == NoAnswer)
            return Success;
        if (code != Success)
            return code;
    }
    return Success;
}

int DfuEngine::takeAck(std::uint32_t& acked, std::uint32_t blocks, int timeout_ms) {
    if (int code = awaitBlockAck(acked, timeout_ms); code != Success)
        return code;
    ++acked;
    m_progress.store(percentOf(acked, blocks), std::memory_order_release);
    return Success;
}

int DfuEngine::writeReport(const std::uint8_t* report) {
    // Unnumbered reports: hidapi wants the report id 0 in front.
    std::uint8_t buffer[kReportSize + 1];
    buffer[0] = 0;
    std::memcpy(buffer + 1, report, kReportSize);
    return hid_write(m_device, buffer, sizeof buffer) < 0 ? IoError : Success;
}

int DfuEngine::awaitAck(std::uint8_t command, int timeout_ms, std::uint32_t* value, std::uint32_t* crc) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::uint8_t in[kReportSize];
    for (;;) {
        // Short slices, so that a disconnect does not wait out a silent device.
        if (m_abandon.load(std::memory_order_relaxed))
            return Abandoned;
        const int n = hid_read_timeout(m_device, in, sizeof in, timeout_ms == 0 ? 0 : 20);
        if (n < 0)
            return IoError;
        if (n > 0) {
            if (n < kAckCrc + 4 || in[0] != kAckTag || in[kAckCommand] != command || in[kAckStatus] != Ok)
                return DeviceError;
            if (value != nullptr)
                *value = le32(in + kAckValue);
            if (crc != nullptr)
                *crc = le32(in + kAckCrc);
            return Success;
        }
        if (Clock::now() >= deadline)
            return NoAnswer;
    }
}

int DfuEngine::awaitBlockAck(std::uint32_t block, int timeout_ms) {
    std::uint32_t offset = 0;
    if (int code = awaitAck(Block, timeout_ms, &offset); code != Success)
        return code;
    // Blocks are acknowledged in order; anything else means the device lost track of the image.
    return offset == block * kBlockSize ? Success : DeviceError;
}

int DfuEngine::command(std::uint8_t cmd, const std::vector<std::uint8_t>& args, int timeout_ms,
                       std::uint32_t* value, std::uint32_t* crc) {
    std::uint8_t report[kReportSize] = {cmd};
    std::copy_n(args.begin(), std::min<std::size_t>(args.size(), kReportSize - 1), report + 1);
    if (int code = writeReport(report); code != Success)
        return code;
    return awaitAck(cmd, timeout_ms, value, crc);
}

int DfuEngine::resetDevice() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_device == nullptr)
        return NotConnected;
    // Restarting in the middle of a transfer would leave the device with half an image.
    if (!settleLocked())
        return Busy;
    m_abandon = false;
    if (int code = command(Reset, {}, kAnswerTimeoutMs); code != Success)
        return code;
    // Two steps, because a device that left the bus right after its answer could not be sure the answer
    // was read. After Leave it restarts at once; the handle can only fail from then on.
    std::uint8_t report[kReportSize] = {Leave};
    const int code = writeReport(report);
    closeLocked();
    return code;
}

int DfuEngine::backup(const char* path) {
    if (path == nullptr)
        return BadArgument;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_device == nullptr)
        return NotConnected;
    if (!settleLocked())
        return Busy;
    m_abandon = false;
    std::vector<std::uint8_t> image;
    if (int code = readBack(image); code != Success)
        return code;
    std::ofstream out;
    openUtf8(out, path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    return out ? Success : FileError;
}

int DfuEngine::readBack(std::vector<std::uint8_t>& image) {
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
    if (int code = command(Query, {}, kAnswerTimeoutMs, &size, &crc); code != Success)
        return code;
    if (size == 0 || size > kMaxImageSize + DfuSuffix::kSize)
        return DeviceError;
    image.resize(size);
    std::vector<std::uint8_t> args;
    for (std::uint32_t offset = 0; offset < size; offset += kMaxReadLength) {
        const std::uint32_t length = std::min(kMaxReadLength, size - offset);
        std::uint8_t report[kReportSize] = {Read};
        args.clear();
        putLe32(args, offset);
        putLe16(args, length);
        std::copy(args.begin(), args.end(), report + 1);
        if (int code = writeReport(report); code != Success)
            return code;
        for (std::uint32_t at = 0; at < length; at += kReportSize) {
            std::uint8_t in[kReportSize];
            const int n = hid_read_timeout(m_device, in, sizeof in, kAnswerTimeoutMs);
            if (n < 0)
                return IoError;
            if (n == 0)
                return NoAnswer;
            if (n != kReportSize)
                return DeviceError;
            std::memcpy(image.data() + offset + at, in, std::min<std::uint32_t>(kReportSize, length - at));
        }
    }
    return imageCrc(image.data(), image.size()) == crc ? Success : DeviceError;
}

}  // namespace HidDfu
