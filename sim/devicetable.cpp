#include "sim/devicetable.h"

#include <algorithm>

#include "sim/bus.h"
#include "sim/devicemodel.h"
#include "sim/simdevice.h"

namespace HidSim {

namespace {

using Clock = DeviceTable::Clock;

Clock::time_point after(int ms) {
    return Clock::now() + std::chrono::milliseconds(std::max(0, ms));
}

}  // namespace

DeviceTable::DeviceTable(Bus& bus, Scheduler& scheduler, const Timings& timings)
    : m_bus(bus), m_scheduler(scheduler), m_timings(timings) {}

DeviceTable::~DeviceTable() {
    clear();
}

SimDevice* DeviceTable::find(int id) const {
    for (const auto& device : m_devices) {
        if (device->id() == id)
            return device.get();
    }
    return nullptr;
}

int DeviceTable::plug(const DeviceSetup& setup) {
    const int id = m_nextDeviceId++;
    auto device = std::make_unique<SimDevice>(m_bus, id, setup);
    if (device->setup.product.isEmpty())
        device->setup.product = DeviceModel::defaultProduct(setup.type, setup.mode);
    device->faults[0] = setup.faults;
    device->writesUntilUnplug = setup.faults.unplugAfterWrites;
    SimDevice& ref = *device;
    m_devices.push_back(std::move(device));
    appear(ref);
    if (setup.link.unsolicitedEveryMs > 0)
        scheduleUnsolicited(ref, after(setup.link.unsolicitedEveryMs));
    return id;
}

void DeviceTable::setLink(SimDevice& device, const Link& link) {
    device.setup.link = link;
    ++device.unsolicitedGeneration;
    if (link.unsolicitedEveryMs > 0)
        scheduleUnsolicited(device, after(link.unsolicitedEveryMs));
}

void DeviceTable::scheduleUnsolicited(const SimDevice& device, Clock::time_point at) {
    Scheduler::Event event;
    event.at = at;
    event.deviceId = device.id();
    event.kind = Scheduler::Event::Unsolicited;
    event.generation = device.unsolicitedGeneration;
    m_scheduler.schedule(event);
}

void DeviceTable::sendUnsolicited(const Scheduler::Event& event) {
    SimDevice* device = find(event.deviceId);
    if (!device || event.generation != device->unsolicitedGeneration)
        return;
    const Link& link = device->setup.link;
    if (link.unsolicitedEveryMs <= 0)
        return;
    // A device in update mode or off the bus says nothing, but keeps its rhythm for when it is back.
    if (device->present && device->setup.mode == Mode::Normal && !device->interfaces.empty()) {
        const QByteArray report = link.unsolicitedReport.isEmpty()
                                      ? DeviceModel::statusReport(device->setup.type)
                                      : link.unsolicitedReport;
        m_bus.deliver(*device->interfaces.front(), report, Clock::now());
    }
    // Behind after a long stall of the lock: go on from now rather than send a burst.
    scheduleUnsolicited(
        *device, std::max(event.at + std::chrono::milliseconds(link.unsolicitedEveryMs), Clock::now()));
}

void DeviceTable::remove(int id) {
    m_scheduler.cancel(id);
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
                           [id](const std::unique_ptr<SimDevice>& d) { return d->id() == id; });
    if (it == m_devices.end())
        return;
    leave(**it);
    m_devices.erase(it);
}

void DeviceTable::clear() {
    for (auto& device : m_devices)
        leave(*device);
    m_devices.clear();
}

void DeviceTable::moveTo(SimDevice& device, Mode mode, int afterMs) {
    m_scheduler.cancel(device.id());
    leave(device);
    if (afterMs <= 0) {
        device.setup.mode = mode;
        appear(device);
    } else {
        m_scheduler.schedule(after(afterMs), device.id(), Scheduler::Event::Appear, mode);
    }
}

void DeviceTable::enterUpdate(SimDevice& device) {
    const auto leaveAt = after(m_timings.leaveMs);
    m_scheduler.cancel(device.id());
    if (m_timings.leaveMs <= 0)
        leave(device);
    else
        m_scheduler.schedule(leaveAt, device.id(), Scheduler::Event::Leave);
    m_scheduler.schedule(leaveAt + std::chrono::milliseconds(std::max(0, m_timings.reenumerateMs)),
                         device.id(), Scheduler::Event::Appear, Mode::Update);
}

void DeviceTable::afterHandlerCall(SimDevice& device) {
    if (!device.resetRequested)
        return;
    device.resetRequested = false;
    const UpdateModeDevice::Reset how = device.resetHow;
    leave(device);
    m_scheduler.cancel(device.id());
    if (!how.comeBack) {
        remove(device.id());
        return;
    }
    if (!how.firmware.isEmpty())
        device.setup.firmware = how.firmware;
    if (!how.serial.isNull())
        device.setup.serial = how.serial;
    const int delay = how.delayMs >= 0 ? how.delayMs : m_timings.resetMs;
    m_scheduler.schedule(after(delay), device.id(), Scheduler::Event::Appear, how.mode);
}

void DeviceTable::run(const Scheduler::Event& event) {
    SimDevice* device = find(event.deviceId);
    if (!device)
        return;
    switch (event.kind) {
        case Scheduler::Event::Leave:
            leave(*device);
            break;
        case Scheduler::Event::Appear:
            device->setup.mode = event.mode;
            appear(*device);
            break;
        case Scheduler::Event::Remove:
            remove(event.deviceId);
            break;
        case Scheduler::Event::Unsolicited:
            sendUnsolicited(event);
            break;
    }
}

void DeviceTable::appear(SimDevice& device) {
    leave(device);
    const int busNumber = m_nextBusNumber++;
    const QVector<Interface> ids = DeviceModel::interfacesOf(device.setup);
    for (int i = 0; i < ids.size(); ++i) {
        auto interface = std::make_shared<SimInterface>();
        interface->id = ids[i];
        interface->id.path = QStringLiteral("sim:%1:%2").arg(busNumber).arg(i);
        interface->number = i;
        interface->device = &device;
        device.interfaces.push_back(interface);
    }
    if (device.setup.manufacturer.isEmpty())
        device.setup.manufacturer = DeviceModel::defaultManufacturer(device.setup.type);
    device.present = true;
    ++m_changes;
    if (device.setup.mode == Mode::Update && device.setup.type != DeviceType::Unknown) {
        if (UpdateModeHandlerFactory factory = updateModeHandlerFactory())
            device.handler = factory(device);
        afterHandlerCall(device);
    }
}

void DeviceTable::leave(SimDevice& device) {
    if (device.present || !device.interfaces.empty())
        ++m_changes;
    device.handler.reset();
    for (auto& interface : device.interfaces) {
        interface->device = nullptr;
        interface->inputArrived.notify_all();
    }
    device.interfaces.clear();
    device.present = false;
    device.prepared = false;
    device.pairing = false;
}

}  // namespace HidSim
