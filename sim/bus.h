#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/hidsim.h"
#include "sim/simdevice.h"
#include "sim/simhandle.h"

namespace HidSim {

class ControlServer;

// The simulated bus: every device, every open handle and the traffic log, all under one mutex. A blocking
// read waits on its interface's condition variable, which releases the mutex, so a read that waits never
// holds up the rest of the bus. A service thread carries out timed changes (re-enumeration) and the
// control socket.
class Bus {
public:
    using Clock = std::chrono::steady_clock;

    // hid_read: wait as hid_set_nonblocking last said.
    static constexpr int kBlockingMode = INT_MIN;

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
    template <typename F>
    bool withDevice(int id, F&& change) {
        std::lock_guard<std::mutex> lock(m_mutex);
        SimDevice* device = find(id);
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
    bool startControl(const QString& path, QString* error);

    // For the device objects, with the lock held.
    void deliver(SimInterface& interface, const QByteArray& report, int delayMs);
    [[nodiscard]] int reportIntervalUs() const { return m_timings.updateReportIntervalUs; }

private:
    struct Event {
        Clock::time_point at;
        int deviceId;
        enum Kind { Leave, Appear, Remove } kind;
        Mode mode;
    };

    Bus();
    void serviceLoop();
    void wakeService();
    void processDue();
    void runEvent(const Event& event);
    SimDevice* find(int id);
    void appear(SimDevice& device);
    void leave(SimDevice& device);
    void remove(int id);
    void schedule(Clock::time_point at, int deviceId, Event::Kind kind, Mode mode);
    void cancelEvents(int deviceId);
    void afterHandlerCall(SimDevice& device);
    void enterUpdate(SimDevice& device);
    void log(TrafficKind kind, const SimInterface& interface, const QByteArray& bytes, int result);
    [[nodiscard]] static bool matches(const TrafficEntry& entry, const TrafficFilter& filter);
    [[nodiscard]] static bool alive(const hid_device* handle);

    std::mutex m_mutex;
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    std::vector<Event> m_events;
    std::deque<TrafficEntry> m_traffic;
    int m_trafficLimit = 10000;
    quint64 m_sequence = 0;
    int m_nextDeviceId = 1;
    int m_nextBusNumber = 1;
    Timings m_timings;

    int m_wakeFds[2] = {-1, -1};
    int m_pendingListenFd = -1;
    std::string m_pendingListenPath;
    bool m_controlChanged = false;
    bool m_stopping = false;
    std::thread m_service;
};

}  // namespace HidSim
