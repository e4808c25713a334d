#pragma once

#include <QString>
#include <mutex>
#include <string>

#include "sim/devicetable.h"
#include "sim/handletable.h"
#include "sim/hidsim.h"
#include "sim/reportexchange.h"
#include "sim/scheduler.h"
#include "sim/servicethread.h"
#include "sim/simdevice.h"
#include "sim/simhandle.h"
#include "sim/trafficlog.h"

namespace HidSim {

// The simulated bus: one mutex in front of its parts (devices, handles, reports, timed changes, traffic log,
// service thread). Every entry point takes the lock and first carries out the timed changes that fell
// due, so a caller sees the bus as it is now even when the service thread has not woken yet. A blocking
// read waits on its interface's condition variable, which releases the mutex, so a read that waits never
// holds up the rest of the bus.
class Bus {
public:
    using Clock = Scheduler::Clock;

    static constexpr int kBlockingMode = ReportExchange::kBlockingMode;

    static Bus& instance();
    ~Bus();

    // hidapi
    hid_device_info* enumerate(quint16 vendorId, quint16 productId);
    hid_device* open(const char* path, std::wstring* error);
    hid_device* open(quint16 vendorId, quint16 productId, const wchar_t* serial, std::wstring* error);
    void close(hid_device* handle);
    int write(hid_device* handle, const unsigned char* data, size_t length, TrafficKind kind);
    int read(hid_device* handle, unsigned char* data, size_t length, int timeoutMs);
    int getReport(hid_device* handle, unsigned char* data, size_t length, TrafficKind kind);
    int setNonBlocking(hid_device* handle, bool enabled);
    int string(hid_device* handle, int which, wchar_t* out, size_t maxlen);
    hid_device_info* deviceInfo(hid_device* handle);
    void setError(hid_device* handle, const wchar_t* error);
    const wchar_t* error(hid_device* handle);

    // control
    void reset();
    bool load(const QVector<DeviceSetup>& devices, const Timings& timings);
    int plug(const DeviceSetup& setup);
    bool unplug(int id);
    bool replug(int id, int afterMs);
    bool setMode(int id, Mode mode, int afterMs, bool keepMode = false);
    bool setLink(int id, const Link& link);
    template <typename F>
    bool withDevice(int id, F&& change) {
        std::lock_guard<std::mutex> lock(m_mutex);
        SimDevice* device = m_devices.find(id);
        if (!device)
            return false;
        change(*device);
        return true;
    }
    void setTimings(const Timings& timings);
    [[nodiscard]] Timings timings();
    [[nodiscard]] QVector<DeviceState> devices();
    [[nodiscard]] QVector<TrafficEntry> traffic(const TrafficFilter& filter);
    [[nodiscard]] int count(const TrafficFilter& filter);
    void clearTraffic();
    void setTrafficLimit(int entries);
    // -1 while the bus is told to announce nothing, as where a system has no device notifications.
    [[nodiscard]] long long announcedChanges();
    void setAnnouncing(bool announcing);
    [[nodiscard]] int enumerations();
    bool startControl(const QString& path, QString* error);

    // For the device objects, with the lock held.
    // The report reaches the handles open now and becomes readable at readableAt, after what is readable
    // earlier.
    void deliver(SimInterface& interface, const QByteArray& report, Clock::time_point readableAt);
    [[nodiscard]] int reportIntervalUs() const { return m_timings.updateReportIntervalUs; }

private:
    Bus();
    void processDue();

    std::mutex m_mutex;
    Timings m_timings;
    bool m_announcing = true;
    int m_enumerations = 0;
    TrafficLog m_traffic;
    Scheduler m_scheduler;
    DeviceTable m_devices;
    HandleTable m_handles;
    ReportExchange m_reports;
    ServiceThread m_service;
};

}  // namespace HidSim
