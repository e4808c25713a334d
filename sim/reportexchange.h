#pragma once

#include <QByteArray>
#include <chrono>
#include <climits>
#include <functional>
#include <mutex>

#include "sim/hidsim.h"

struct hid_device_;

namespace HidSim {

class DeviceTable;
class TrafficLog;
struct SimInterface;

// Reports between the open handles and the devices: writes reach the device model or the update-mode
// handler, replies land in the input buffers of the handles open at that moment, reads take them out in
// order. Every call comes with the bus lock held; a read or a paced write lets it go while it waits.
class ReportExchange {
public:
    // A read time-out that waits as hid_set_nonblocking last said, as hid_read does.
    static constexpr int kBlockingMode = INT_MIN;

    // catchUp carries out the bus's timed changes that fell due while the lock was let go.
    ReportExchange(DeviceTable& devices, TrafficLog& traffic, const Timings& timings,
                   std::function<void()> catchUp);

    int write(hid_device_* handle, const unsigned char* data, size_t length, TrafficKind kind,
              std::unique_lock<std::mutex>& lock);
    int read(hid_device_* handle, unsigned char* data, size_t length, int timeoutMs,
             std::unique_lock<std::mutex>& lock);
    int getReport(hid_device_* handle, unsigned char* data, size_t length, TrafficKind kind);
    void deliver(SimInterface& interface, const QByteArray& report,
                 std::chrono::steady_clock::time_point readableAt);

private:
    // Holds a write on an update-mode interface to the link's pace; false when the device left meanwhile.
    bool pace(hid_device_* handle, std::unique_lock<std::mutex>& lock);

    DeviceTable& m_devices;
    TrafficLog& m_traffic;
    const Timings& m_timings;
    std::function<void()> m_catchUp;
};

}  // namespace HidSim
