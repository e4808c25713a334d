#include "sim/simdevice.h"

#include <algorithm>

#include "sim/bus.h"
#include "sim/devicemodel.h"

namespace HidSim {

// Seeded by the id, so that a run's jitter is the same every time.
SimDevice::SimDevice(Bus& bus, int id, const DeviceSetup& setup)
    : bus(bus), m_id(id), setup(setup), jitter(std::minstd_rand::result_type(id)) {}

SimDevice::~SimDevice() = default;

quint16 SimDevice::productId() const {
    return interfaces.empty() ? 0 : interfaces.front()->id.productId;
}

int SimDevice::reportIntervalUs() const {
    return bus.reportIntervalUs();
}

void SimDevice::queueInputReport(const QByteArray& report, int delayMs) {
    if (!interfaces.empty())
        bus.deliver(*interfaces.front(), report, answerAt(delayMs));
}

std::chrono::steady_clock::time_point SimDevice::answerAt(int delayMs) {
    const Link& link = setup.link;
    int ms = std::max(0, delayMs) + link.ackLatencyMs;
    if (link.ackJitterMs > 0)
        ms += std::uniform_int_distribution<int>(0, link.ackJitterMs)(jitter);
    lastAnswerAt = std::max(lastAnswerAt, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
    return lastAnswerAt;
}

void SimDevice::reset(const Reset& how) {
    resetRequested = true;
    resetHow = how;
}

Faults SimDevice::faultsFor(quint16 usagePage) const {
    Faults merged;
    for (const auto& [page, f] : faults) {
        if (page != 0 && page != usagePage)
            continue;
        merged.openFails |= f.openFails;
        merged.writeFails |= f.writeFails;
        merged.readFails |= f.readFails;
        merged.readTimeout |= f.readTimeout;
    }
    return merged;
}

DeviceState SimDevice::state() const {
    DeviceState s;
    s.id = m_id;
    s.type = setup.type;
    s.mode = setup.mode;
    s.present = present;
    s.serial = setup.serial;
    s.firmware = setup.firmware;
    s.revision = setup.revision;
    for (const auto& interface : interfaces)
        s.interfaces.append(interface->id);
    s.enterUpdateCount = enterUpdateCount;
    s.postUpdateCount = postUpdateCount;
    s.repairStartCount = repairStartCount;
    s.repairPollCount = repairPollCount;
    s.repairEndCount = repairEndCount;
    s.pairing = pairing;
    s.link = setup.link;
    return s;
}

}  // namespace HidSim
