#pragma once

#include <QByteArray>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "sim/hidsim.h"
#include "sim/siminterface.h"
#include "sim/updatemodedevice.h"
#include "sim/updatemodehandler.h"

namespace HidSim {

class Bus;

// One physical device on the bus, across its changes of identity. Lives under the bus lock.
class SimDevice : public UpdateModeDevice {
public:
    SimDevice(Bus& bus, int id, const DeviceSetup& setup);
    ~SimDevice() override;

    [[nodiscard]] int id() const override { return m_id; }
    [[nodiscard]] DeviceType type() const override { return setup.type; }
    [[nodiscard]] QString serial() const override { return setup.serial; }
    [[nodiscard]] QString firmware() const override { return setup.firmware; }
    [[nodiscard]] quint16 productId() const override;
    [[nodiscard]] int reportIntervalUs() const override;
    void queueInputReport(const QByteArray& report, int delayMs) override;
    void reset(const Reset& how) override;

    [[nodiscard]] Faults faultsFor(quint16 usagePage) const;
    // When an answer given now with this delay of its own becomes readable, after the link's latency and
    // jitter, and never before the device's previous answer.
    [[nodiscard]] std::chrono::steady_clock::time_point answerAt(int delayMs);
    [[nodiscard]] DeviceState state() const;

    Bus& bus;
    const int m_id;
    DeviceSetup setup;
    std::map<quint16, Faults> faults;  // key 0: every interface
    int writesUntilUnplug = 0;
    bool present = false;
    std::vector<std::shared_ptr<SimInterface>> interfaces;
    std::unique_ptr<UpdateModeHandler> handler;
    // Bumped by every new unsolicited rate, so that the reports of an older rate stop.
    int unsolicitedGeneration = 0;
    std::minstd_rand jitter;
    std::chrono::steady_clock::time_point lastAnswerAt;
    bool resetRequested = false;
    Reset resetHow;

    bool prepared = false;  // the receiver's "01" command came last, which both exchanges start with
    bool pairing = false;
    int pollsWhilePairing = 0;
    int enterUpdateCount = 0;
    int postUpdateCount = 0;
    int repairStartCount = 0;
    int repairPollCount = 0;
    int repairEndCount = 0;
};

}  // namespace HidSim
