#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct hid_device_;

namespace HidDfu {

// The state behind the C interface: one connection to one device in update mode and at most one
// transfer, run on a thread of the engine's own. The public calls may come from any thread; progress and
// result are read without a lock so that polling never waits behind a transfer.
class DfuEngine {
public:
    // Non-zero results of the C interface. Callers only tell zero from non-zero; the codes exist for the
    // protocol document and for tests that need to know which check refused.
    enum Code : int {
        Success = 0,
        NotConnected = 1,
        DeviceCount = 2,  // not exactly one device with the identity
        OpenFailed = 3,
        Busy = 4,          // a transfer runs
        FileError = 5,     // the image or backup file could not be read or written
        BadImage = 6,      // no suffix, bad CRC, empty payload or too large
        ForeignImage = 7,  // the suffix names another device
        IoError = 8,       // a report could not be written or read: the device is gone
        DeviceError = 9,   // the device answered with an error status
        NoAnswer = 10,     // the device did not answer in time
        Abandoned = 11,    // the transfer was stopped by a disconnect
        BadArgument = 12,
    };

    DfuEngine() = default;
    ~DfuEngine();
    DfuEngine(const DfuEngine&) = delete;
    DfuEngine& operator=(const DfuEngine&) = delete;

    [[nodiscard]] static DfuEngine& instance();

    int connect(int vendor_id, int product_id, int usage, int usage_page, std::uint16_t* count);
    int disconnect();
    int upgrade(const char* path);
    // Everything upgrade checks about an image before its first report, for the device with these ids.
    // Needs no connection and touches no device.
    // bcd_device, when given, receives the suffix's version of an image that passes.
    [[nodiscard]] static int checkImage(const char* path, int vendor_id, int product_id,
                                        std::uint16_t* bcd_device = nullptr);
    int backup(const char* path);
    int resetDevice();
    [[nodiscard]] int progress() const { return m_progress.load(std::memory_order_acquire); }
    [[nodiscard]] int result() const { return m_result.load(std::memory_order_acquire); }

    // How long the engine waits for one acknowledgement before it gives the device up.
    static constexpr int kAnswerTimeoutMs = 3000;

private:
    void closeLocked();
    // Joins a transfer thread that has ended; false when one is still running.
    bool settleLocked();
    void runTransfer(std::vector<std::uint8_t> image);
    int transfer(const std::vector<std::uint8_t>& image);
    // One block: its Block command and its data reports.
    int sendBlock(const std::vector<std::uint8_t>& image, std::uint32_t block);
    // Counts in, without waiting, the acknowledgements that have already arrived for blocks sent.
    int drainAcks(std::uint32_t& acked, std::uint32_t sent, std::uint32_t blocks);
    // Waits for the acknowledgement of block acked, then counts it and moves the progress on.
    int takeAck(std::uint32_t& acked, std::uint32_t blocks, int timeout_ms);
    int readBack(std::vector<std::uint8_t>& image);

    int writeReport(const std::uint8_t* report);
    // Waits for the next acknowledgement; *value and *crc receive its fields when given.
    int awaitAck(std::uint8_t command, int timeout_ms, std::uint32_t* value = nullptr,
                 std::uint32_t* crc = nullptr);
    int awaitBlockAck(std::uint32_t block, int timeout_ms);
    int command(std::uint8_t command, const std::vector<std::uint8_t>& args, int timeout_ms,
                std::uint32_t* value = nullptr, std::uint32_t* crc = nullptr);

    std::mutex m_mutex;  // serialises the public calls
    hid_device_* m_device = nullptr;
    std::uint16_t m_vendorId = 0;
    std::uint16_t m_productId = 0;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_abandon{false};
    std::atomic<int> m_progress{0};
    std::atomic<int> m_result{Success};
};

}  // namespace HidDfu
