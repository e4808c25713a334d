#pragma once

#include <memory>
#include <vector>

#include "sim/hidsim.h"
#include "sim/scheduler.h"

namespace HidSim {

class Bus;
class SimDevice;

// The devices on the bus and their changes of identity: plugged, leaving, coming back under the other
// identity or with new paths, pulled for good. Each appearance gets interfaces of its own, so a handle of
// an earlier one stays dead. Lives under the bus lock.
class DeviceTable {
public:
    using Clock = Scheduler::Clock;

    DeviceTable(Bus& bus, Scheduler& scheduler, const Timings& timings);
    ~DeviceTable();
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    [[nodiscard]] const std::vector<std::unique_ptr<SimDevice>>& all() const { return m_devices; }
    [[nodiscard]] SimDevice* find(int id) const;
    // Counts the arrivals and departures so far: what a system's device notifications would announce.
    [[nodiscard]] quint64 changes() const { return m_changes; }

    int plug(const DeviceSetup& setup);
    void remove(int id);
    void clear();
    // Off the bus now, back under the mode's identity after afterMs (at once for 0 or less).
    void moveTo(SimDevice& device, Mode mode, int afterMs);
    // The device obeyed an enter-update command: it leaves after the bus's timings and comes back in
    // update mode.
    void enterUpdate(SimDevice& device);
    // Carries out a reset that an update-mode handler asked for during its callback.
    void afterHandlerCall(SimDevice& device);
    void setLink(SimDevice& device, const Link& link);
    void run(const Scheduler::Event& event);

private:
    void appear(SimDevice& device);
    void leave(SimDevice& device);
    void scheduleUnsolicited(const SimDevice& device, Clock::time_point at);
    void sendUnsolicited(const Scheduler::Event& event);

    Bus& m_bus;
    Scheduler& m_scheduler;
    const Timings& m_timings;
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    int m_nextDeviceId = 1;
    int m_nextBusNumber = 1;
    quint64 m_changes = 0;
};

}  // namespace HidSim
