#include "sim/reportexchange.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "sim/devicemodel.h"
#include "sim/devicetable.h"
#include "sim/handletable.h"
#include "sim/simdevice.h"
#include "sim/simhandle.h"
#include "sim/trafficlog.h"

namespace HidSim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kInputBufferReports = 64;  // what hidraw keeps per open file before it drops the oldest

}  // namespace

ReportExchange::ReportExchange(DeviceTable& devices, TrafficLog& traffic, const Timings& timings,
                               std::function<void()> catchUp)
    : m_devices(devices), m_traffic(traffic), m_timings(timings), m_catchUp(std::move(catchUp)) {}

void ReportExchange::deliver(SimInterface& interface, const QByteArray& report,
                             Clock::time_point readableAt) {
    for (hid_device_* handle : interface.handles) {
        // In the order the device sends them: a late answer comes after the reports sent meanwhile.
        const auto at = std::upper_bound(
            handle->input.begin(), handle->input.end(), readableAt,
            [](Clock::time_point t, const hid_device_::Pending& p) { return t < p.readableAt; });
        handle->input.insert(at, {report, readableAt});
        while (handle->input.size() > kInputBufferReports)
            handle->input.pop_front();
    }
    interface.inputArrived.notify_all();
}

bool ReportExchange::pace(hid_device_* handle, std::unique_lock<std::mutex>& lock) {
    SimDevice& device = *handle->interface->device;
    SimInterface& interface = *handle->interface;
    const int interval = m_timings.updateReportIntervalUs;
    if (device.setup.mode != Mode::Update || device.setup.type == DeviceType::Unknown || interval <= 0)
        return true;
    const auto now = Clock::now();
    const auto slot = std::max(now, interface.nextSlot);
    interface.nextSlot = slot + std::chrono::microseconds(interval);
    if (slot <= now)
        return true;
    lock.unlock();
    std::this_thread::sleep_until(slot);
    lock.lock();
    m_catchUp();
    return HandleTable::alive(handle);
}

int ReportExchange::write(hid_device_* handle, const unsigned char* data, size_t length, TrafficKind kind,
                          std::unique_lock<std::mutex>& lock) {
    if (!data || length == 0) {
        handle->error = L"hidsim: nothing to write";
        return -1;
    }
    if (!HandleTable::alive(handle)) {
        handle->error = L"hidsim: device disconnected";
        return -1;
    }
    const QByteArray report(reinterpret_cast<const char*>(data), int(length));
    const Interface& ids = handle->interface->id;
    const int limit = kind == TrafficKind::Write ? ids.outputReportSize : ids.featureReportSize;
    if (handle->interface->device->setup.link.strictSizes && limit > 0 && int(length) > limit) {
        m_traffic.record(kind, *handle->interface, report, -1);
        handle->error = L"hidsim: report longer than the interface takes";
        return -1;
    }
    if (handle->interface->device->faultsFor(ids.usagePage).writeFails) {
        m_traffic.record(kind, *handle->interface, report, -1);
        handle->error = L"hidsim: write failed by fault";
        return -1;
    }
    if (!pace(handle, lock)) {
        handle->error = L"hidsim: device disconnected";
        return -1;
    }

    SimDevice& device = *handle->interface->device;
    SimInterface& interface = *handle->interface;
    const Faults faults = device.faultsFor(interface.id.usagePage);
    int result = int(length);
    bool switchToUpdate = false;
    if (device.setup.mode == Mode::Update && device.handler) {
        result = kind == TrafficKind::Write ? device.handler->outputReport(report)
                                            : device.handler->featureReport(report);
    } else if (device.setup.mode == Mode::Normal && device.setup.type != DeviceType::Unknown &&
               kind == TrafficKind::Write) {
        const DeviceModel::Reaction reaction = DeviceModel::answer(device, interface.id.usagePage, report);
        if (!reaction.reply.isEmpty() && !faults.readTimeout)
            deliver(interface, reaction.reply, device.answerAt(m_timings.replyDelayMs));
        switchToUpdate = reaction.enterUpdate;
    }
    m_traffic.record(kind, interface, report, result);
    if (result < 0)
        handle->error = L"hidsim: the device refused the report";

    const int id = device.id();
    const bool pull = device.writesUntilUnplug > 0 && --device.writesUntilUnplug == 0;
    if (switchToUpdate)
        m_devices.enterUpdate(device);
    m_devices.afterHandlerCall(device);
    if (pull)
        m_devices.remove(id);
    return result;
}

int ReportExchange::read(hid_device_* handle, unsigned char* data, size_t length, int timeoutMs,
                         std::unique_lock<std::mutex>& lock) {
    if (timeoutMs == kBlockingMode)
        timeoutMs = handle->nonBlocking ? 0 : -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    const std::shared_ptr<SimInterface> interface = handle->interface;
    for (;;) {
        if (!HandleTable::alive(handle)) {
            handle->error = L"hidsim: device disconnected";
            return -1;
        }
        if (!data || length == 0) {
            handle->error = L"hidsim: no buffer";
            return -1;
        }
        if (interface->device->faultsFor(interface->id.usagePage).readFails) {
            m_traffic.record(TrafficKind::Read, *interface, QByteArray(), -1);
            handle->error = L"hidsim: read failed by fault";
            return -1;
        }
        const auto now = Clock::now();
        if (!handle->input.empty() && handle->input.front().readableAt <= now) {
            const QByteArray report = handle->input.front().bytes;
            handle->input.pop_front();
            const int n = std::min(int(length), report.size());
            std::memcpy(data, report.constData(), size_t(n));
            m_traffic.record(TrafficKind::Read, *interface, report.left(n), n);
            return n;
        }
        if (timeoutMs == 0)
            return 0;
        if (timeoutMs > 0 && now >= deadline) {
            m_traffic.record(TrafficKind::Read, *interface, QByteArray(), 0);
            return 0;
        }
        auto wake = timeoutMs > 0 ? deadline : Clock::time_point::max();
        if (!handle->input.empty())
            wake = std::min(wake, handle->input.front().readableAt);
        if (wake == Clock::time_point::max())
            interface->inputArrived.wait(lock);
        else
            interface->inputArrived.wait_until(lock, wake);
        m_catchUp();
    }
}

int ReportExchange::getReport(hid_device_* handle, unsigned char* data, size_t length, TrafficKind kind) {
    if (!data || length == 0) {
        handle->error = L"hidsim: no buffer";
        return -1;
    }
    if (!HandleTable::alive(handle)) {
        handle->error = L"hidsim: device disconnected";
        return -1;
    }
    SimDevice& device = *handle->interface->device;
    SimInterface& interface = *handle->interface;
    const Faults faults = device.faultsFor(interface.id.usagePage);
    QByteArray reply;
    int result = -1;
    if (!faults.readFails && !faults.readTimeout && device.setup.mode == Mode::Update && device.handler) {
        result = kind == TrafficKind::GetFeature ? device.handler->getFeatureReport(data[0], &reply)
                                                 : device.handler->getInputReport(data[0], &reply);
    }
    if (result >= 0) {
        result = std::min(int(length), reply.size());
        std::memcpy(data, reply.constData(), size_t(result));
        reply.truncate(result);
    } else {
        handle->error = L"hidsim: report not supported";
    }
    m_traffic.record(kind, interface, reply, result);
    m_devices.afterHandlerCall(device);
    return result;
}

}  // namespace HidSim
