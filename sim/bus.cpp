#include "sim/bus.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "sim/controlserver.h"
#include "sim/devicemodel.h"
#include "sim/scenario.h"

namespace HidSim {

namespace {

constexpr size_t kInputBufferReports = 64;  // what hidraw keeps per open file before it drops the oldest

wchar_t* copyWide(const QString& text) {
    const std::wstring wide = text.toStdWString();
    auto* out = static_cast<wchar_t*>(std::malloc((wide.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(out, wide.c_str(), wide.size() + 1);
    return out;
}

hid_device_info* makeInfo(const SimDevice& device, const SimInterface& interface) {
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    info->path = strdup(interface.id.path.toUtf8().constData());
    info->vendor_id = interface.id.vendorId;
    info->product_id = interface.id.productId;
    info->serial_number = device.setup.serial.isNull() ? nullptr : copyWide(device.setup.serial);
    DeviceModel::Firmware fw;
    QString ignored;
    if (DeviceModel::parseFirmware(device.setup.firmware, &fw, &ignored))
        info->release_number = quint16(DeviceModel::bcd(fw.major) << 8 | DeviceModel::bcd(fw.minor));
    info->manufacturer_string = copyWide(device.setup.manufacturer);
    info->product_string = copyWide(device.setup.product);
    info->usage_page = interface.id.usagePage;
    info->usage = interface.id.usage;
    info->interface_number = interface.number;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

void freeInfo(hid_device_info* info) {
    while (info) {
        hid_device_info* next = info->next;
        std::free(info->path);
        std::free(info->serial_number);
        std::free(info->manufacturer_string);
        std::free(info->product_string);
        std::free(info);
        info = next;
    }
}

QVector<DeviceSetup> defaultScenario() {
    DeviceSetup receiver;
    receiver.type = DeviceType::SorrelReceiver;
    receiver.serial = QStringLiteral("R-0001");
    receiver.firmware = QStringLiteral("1.45.0");
    DeviceSetup headset;
    headset.type = DeviceType::SorrelHeadset;
    headset.serial = QStringLiteral("H-0001");
    headset.firmware = QStringLiteral("1.44.0");
    headset.revision = 3;
    return {receiver, headset};
}

}  // namespace

Bus& Bus::instance() {
    static Bus bus;
    return bus;
}

Bus::Bus() {
    if (::pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wakeFds[0] = m_wakeFds[1] = -1;

    const QByteArray scenarioPath = qgetenv("HIDSIM_SCENARIO");
    if (scenarioPath.isEmpty()) {
        load(defaultScenario(), Timings());
    } else {
        QVector<DeviceSetup> devices;
        Timings timings;
        QString error;
        QStringList warnings;
        const bool ok =
            Scenario::parseFile(QString::fromLocal8Bit(scenarioPath), &devices, &timings, &error, &warnings);
        for (const QString& warning : qAsConst(warnings))
            std::fprintf(stderr, "hidsim: %s\n", qPrintable(warning));
        if (!ok) {
            std::fprintf(stderr, "hidsim: %s; the bus starts empty\n", qPrintable(error));
            devices.clear();
        }
        load(devices, timings);
    }

    m_service = std::thread([this] { serviceLoop(); });

    const QByteArray controlPath = qgetenv("HIDSIM_CONTROL");
    if (!controlPath.isEmpty()) {
        QString error;
        if (!startControl(QString::fromLocal8Bit(controlPath), &error))
            std::fprintf(stderr, "hidsim: control socket: %s\n", qPrintable(error));
    }
}

Bus::~Bus() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    wakeService();
    if (m_service.joinable())
        m_service.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& device : m_devices)
        leave(*device);
    m_devices.clear();
    if (m_pendingListenFd >= 0)
        ::close(m_pendingListenFd);
    for (int fd : m_wakeFds) {
        if (fd >= 0)
            ::close(fd);
    }
}

void Bus::wakeService() {
    if (m_wakeFds[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wakeFds[1], &byte, 1);
    }
}

void Bus::serviceLoop() {
    ControlServer control;
    for (;;) {
        int timeoutMs = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                break;
            processDue();
            if (m_controlChanged) {
                control.adopt(m_pendingListenFd, m_pendingListenPath);
                m_pendingListenFd = -1;
                m_pendingListenPath.clear();
                m_controlChanged = false;
            }
            if (!m_events.empty()) {
                const auto next =
                    std::min_element(m_events.begin(), m_events.end(), [](const Event& a, const Event& b) {
                        return a.at < b.at;
                    })->at;
                const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
                timeoutMs = int(std::max<qint64>(0, wait.count() + 1));
            }
        }
        // Requests call back into the bus, so they run with the lock released.
        control.poll(m_wakeFds[0], timeoutMs);
    }
    control.adopt(-1, std::string());
}

bool Bus::startControl(const QString& path, QString* error) {
    int fd = -1;
    if (!path.isEmpty()) {
        fd = ControlServer::listen(path, error);
        if (fd < 0)
            return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pendingListenFd >= 0)
            ::close(m_pendingListenFd);
        m_pendingListenFd = fd;
        // A plain byte string: the service thread keeps it, and a QString shared with this thread would be
        // released inside Qt, where the race detector cannot see the reference count.
        m_pendingListenPath = QFile::encodeName(path).toStdString();
        m_controlChanged = true;
    }
    wakeService();
    return true;
}

void Bus::processDue() {
    for (;;) {
        const auto now = Clock::now();
        auto due = m_events.end();
        for (auto it = m_events.begin(); it != m_events.end(); ++it) {
            if (it->at <= now && (due == m_events.end() || it->at < due->at))
                due = it;
        }
        if (due == m_events.end())
            return;
        const Event event = *due;
        m_events.erase(due);
        runEvent(event);
    }
}

void Bus::runEvent(const Event& event) {
    SimDevice* device = find(event.deviceId);
    if (!device)
        return;
    switch (event.kind) {
        case Event::Leave:
            leave(*device);
            break;
        case Event::Appear:
            device->setup.mode = event.mode;
            appear(*device);
            break;
        case Event::Remove:
            remove(event.deviceId);
            break;
    }
}

void Bus::schedule(Clock::time_point at, int deviceId, Event::Kind kind, Mode mode) {
    m_events.push_back(Event{at, deviceId, kind, mode});
    wakeService();
}

void Bus::cancelEvents(int deviceId) {
    m_events.erase(std::remove_if(m_events.begin(), m_events.end(),
                                  [deviceId](const Event& e) { return e.deviceId == deviceId; }),
                   m_events.end());
}

SimDevice* Bus::find(int id) {
    for (auto& device : m_devices) {
        if (device->id() == id)
            return device.get();
    }
    return nullptr;
}

void Bus::appear(SimDevice& device) {
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
    if (device.setup.mode == Mode::Update && device.setup.type != DeviceType::Unknown) {
        if (UpdateModeHandlerFactory factory = updateModeHandlerFactory())
            device.handler = factory(device);
        afterHandlerCall(device);
    }
}

void Bus::leave(SimDevice& device) {
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

void Bus::remove(int id) {
    cancelEvents(id);
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
                           [id](const std::unique_ptr<SimDevice>& d) { return d->id() == id; });
    if (it == m_devices.end())
        return;
    leave(**it);
    m_devices.erase(it);
}

void Bus::enterUpdate(SimDevice& device) {
    const auto leaveAt = Clock::now() + std::chrono::milliseconds(m_timings.leaveMs);
    cancelEvents(device.id());
    if (m_timings.leaveMs <= 0)
        leave(device);
    else
        schedule(leaveAt, device.id(), Event::Leave, Mode::Normal);
    schedule(leaveAt + std::chrono::milliseconds(std::max(0, m_timings.reenumerateMs)), device.id(),
             Event::Appear, Mode::Update);
}

void Bus::afterHandlerCall(SimDevice& device) {
    if (!device.resetRequested)
        return;
    device.resetRequested = false;
    const UpdateModeDevice::Reset how = device.resetHow;
    leave(device);
    cancelEvents(device.id());
    if (!how.comeBack) {
        remove(device.id());
        return;
    }
    if (!how.firmware.isEmpty())
        device.setup.firmware = how.firmware;
    if (!how.serial.isNull())
        device.setup.serial = how.serial;
    const int delay = how.delayMs >= 0 ? how.delayMs : m_timings.resetMs;
    schedule(Clock::now() + std::chrono::milliseconds(delay), device.id(), Event::Appear, how.mode);
}

bool Bus::alive(const hid_device* handle) {
    return handle && handle->interface && handle->interface->device;
}

void Bus::log(TrafficKind kind, const SimInterface& interface, const QByteArray& bytes, int result) {
    TrafficEntry entry;
    entry.sequence = ++m_sequence;
    entry.kind = kind;
    if (interface.device) {
        entry.deviceId = interface.device->id();
        entry.serial = interface.device->setup.serial;
    }
    entry.path = interface.id.path;
    entry.vendorId = interface.id.vendorId;
    entry.productId = interface.id.productId;
    entry.usagePage = interface.id.usagePage;
    entry.bytes = bytes;
    entry.result = result;
    m_traffic.push_back(std::move(entry));
    while (int(m_traffic.size()) > m_trafficLimit)
        m_traffic.pop_front();
}

void Bus::deliver(SimInterface& interface, const QByteArray& report, int delayMs) {
    const auto at = Clock::now() + std::chrono::milliseconds(std::max(0, delayMs));
    for (hid_device* handle : interface.handles) {
        handle->input.push_back({report, at});
        while (handle->input.size() > kInputBufferReports)
            handle->input.pop_front();
    }
    interface.inputArrived.notify_all();
}

hid_device_info* Bus::enumerate(quint16 vendorId, quint16 productId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    processDue();
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const auto& device : m_devices) {
        for (const auto& interface : device->interfaces) {
            if ((vendorId && interface->id.vendorId != vendorId) ||
                (productId && interface->id.productId != productId))
                continue;
            *tail = makeInfo(*device, *interface);
            tail = &(*tail)->next;
        }
    }
    return head;
}

hid_device* Bus::open(const char* path, std::wstring* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    processDue();
    const QString wanted = QString::fromUtf8(path ? path : "");
    for (const auto& device : m_devices) {
        for (const auto& interface : device->interfaces) {
            if (interface->id.path != wanted)
                continue;
            if (device->faultsFor(interface->id.usagePage).openFails) {
                log(TrafficKind::OpenRefused, *interface, QByteArray(), -1);
                *error = L"hidsim: open refused by fault";
                return nullptr;
            }
            auto* handle = new hid_device_;
            handle->interface = interface;
            interface->handles.push_back(handle);
            log(TrafficKind::Open, *interface, QByteArray(), 0);
            return handle;
        }
    }
    *error = L"hidsim: no such device path";
    return nullptr;
}

hid_device* Bus::open(quint16 vendorId, quint16 productId, const wchar_t* serial, std::wstring* error) {
    QByteArray path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        processDue();
        for (const auto& device : m_devices) {
            if (serial &&
                (device->setup.serial.isNull() || device->setup.serial.toStdWString() != std::wstring(serial)))
                continue;
            for (const auto& interface : device->interfaces) {
                // Zero matches any id, as hidapi's own hid_open does through its enumeration.
                if ((!vendorId || interface->id.vendorId == vendorId) &&
                    (!productId || interface->id.productId == productId)) {
                    path = interface->id.path.toUtf8();
                    break;
                }
            }
            if (!path.isEmpty())
                break;
        }
    }
    if (path.isEmpty()) {
        *error = L"hidsim: no matching device";
        return nullptr;
    }
    return open(path.constData(), error);
}

void Bus::close(hid_device* handle) {
    if (!handle)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& handles = handle->interface->handles;
        handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
        if (alive(handle))
            log(TrafficKind::Close, *handle->interface, QByteArray(), 0);
    }
    freeInfo(handle->info);
    delete handle;
}

int Bus::write(hid_device* handle, const unsigned char* data, size_t length, TrafficKind kind) {
    std::unique_lock<std::mutex> lock(m_mutex);
    processDue();
    if (!data || length == 0) {
        handle->error = L"hidsim: nothing to write";
        return -1;
    }
    if (!alive(handle)) {
        handle->error = L"hidsim: device disconnected";
        return -1;
    }
    const QByteArray report(reinterpret_cast<const char*>(data), int(length));
    {
        SimDevice& device = *handle->interface->device;
        SimInterface& interface = *handle->interface;
        if (device.faultsFor(interface.id.usagePage).writeFails) {
            log(kind, interface, report, -1);
            handle->error = L"hidsim: write failed by fault";
            return -1;
        }
        const int interval = m_timings.updateReportIntervalUs;
        if (device.setup.mode == Mode::Update && device.setup.type != DeviceType::Unknown && interval > 0) {
            const auto now = Clock::now();
            const auto slot = std::max(now, interface.nextSlot);
            interface.nextSlot = slot + std::chrono::microseconds(interval);
            if (slot > now) {
                lock.unlock();
                std::this_thread::sleep_until(slot);
                lock.lock();
                processDue();
                if (!alive(handle)) {
                    handle->error = L"hidsim: device disconnected";
                    return -1;
                }
            }
        }
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
            deliver(interface, reaction.reply, m_timings.replyDelayMs);
        switchToUpdate = reaction.enterUpdate;
    }
    log(kind, interface, report, result);
    if (result < 0)
        handle->error = L"hidsim: the device refused the report";

    const int id = device.id();
    const bool pull = device.writesUntilUnplug > 0 && --device.writesUntilUnplug == 0;
    if (switchToUpdate)
        enterUpdate(device);
    afterHandlerCall(device);
    if (pull)
        remove(id);
    return result;
}

int Bus::read(hid_device* handle, unsigned char* data, size_t length, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    processDue();
    if (timeoutMs == kBlockingMode)
        timeoutMs = handle->nonBlocking ? 0 : -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    const std::shared_ptr<SimInterface> interface = handle->interface;
    for (;;) {
        if (!alive(handle)) {
            handle->error = L"hidsim: device disconnected";
            return -1;
        }
        if (!data || length == 0) {
            handle->error = L"hidsim: no buffer";
            return -1;
        }
        if (interface->device->faultsFor(interface->id.usagePage).readFails) {
            log(TrafficKind::Read, *interface, QByteArray(), -1);
            handle->error = L"hidsim: read failed by fault";
            return -1;
        }
        const auto now = Clock::now();
        if (!handle->input.empty() && handle->input.front().readableAt <= now) {
            const QByteArray report = handle->input.front().bytes;
            handle->input.pop_front();
            const int n = std::min(int(length), report.size());
            std::memcpy(data, report.constData(), size_t(n));
            log(TrafficKind::Read, *interface, report.left(n), n);
            return n;
        }
        if (timeoutMs == 0)
            return 0;
        if (timeoutMs > 0 && now >= deadline) {
            log(TrafficKind::Read, *interface, QByteArray(), 0);
            return 0;
        }
        auto wake = timeoutMs > 0 ? deadline : Clock::time_point::max();
        if (!handle->input.empty())
            wake = std::min(wake, handle->input.front().readableAt);
        if (wake == Clock::time_point::max())
            interface->inputArrived.wait(lock);
        else
            interface->inputArrived.wait_until(lock, wake);
        processDue();
    }
}

int Bus::getReport(hid_device* handle, unsigned char* data, size_t length, TrafficKind kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    processDue();
    if (!data || length == 0) {
        handle->error = L"hidsim: no buffer";
        return -1;
    }
    if (!alive(handle)) {
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
    log(kind, interface, reply, result);
    afterHandlerCall(device);
    return result;
}

int Bus::setNonBlocking(hid_device* handle, bool enabled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    handle->nonBlocking = enabled;
    return 0;
}

int Bus::string(hid_device* handle, int which, wchar_t* out, size_t maxlen) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!out || maxlen == 0) {
        handle->error = L"hidsim: no buffer";
        return -1;
    }
    if (!alive(handle)) {
        handle->error = L"hidsim: device disconnected";
        return -1;
    }
    const DeviceSetup& setup = handle->interface->device->setup;
    const QString text = which == 0 ? setup.manufacturer : which == 1 ? setup.product : setup.serial;
    const std::wstring wide = text.toStdWString();
    const size_t n = std::min(wide.size(), maxlen - 1);
    std::wmemcpy(out, wide.c_str(), n);
    out[n] = L'\0';
    return 0;
}

hid_device_info* Bus::deviceInfo(hid_device* handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!alive(handle)) {
        handle->error = L"hidsim: device disconnected";
        return nullptr;
    }
    if (!handle->info)
        handle->info = makeInfo(*handle->interface->device, *handle->interface);
    return handle->info;
}

void Bus::setError(hid_device* handle, const wchar_t* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    handle->error = error;
}

const wchar_t* Bus::error(hid_device* handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return handle->error.empty() ? nullptr : handle->error.c_str();
}

void Bus::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& device : m_devices)
        leave(*device);
    m_devices.clear();
    m_events.clear();
    m_traffic.clear();
    m_timings = Timings();
}

bool Bus::load(const QVector<DeviceSetup>& devices, const Timings& timings) {
    reset();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_timings = timings;
    }
    for (const DeviceSetup& setup : devices)
        plug(setup);
    return true;
}

int Bus::plug(const DeviceSetup& setup) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int id = m_nextDeviceId++;
    auto device = std::make_unique<SimDevice>(*this, id, setup);
    if (device->setup.product.isEmpty())
        device->setup.product = DeviceModel::defaultProduct(setup.type, setup.mode);
    device->faults[0] = setup.faults;
    device->writesUntilUnplug = setup.faults.unplugAfterWrites;
    SimDevice& ref = *device;
    m_devices.push_back(std::move(device));
    appear(ref);
    return id;
}

bool Bus::unplug(int id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!find(id))
        return false;
    remove(id);
    return true;
}

bool Bus::replug(int id, int afterMs) {
    return setMode(id, Mode::Normal, afterMs, true);
}

bool Bus::setMode(int id, Mode mode, int afterMs, bool keepMode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimDevice* device = find(id);
    if (!device)
        return false;
    const Mode target = keepMode ? device->setup.mode : mode;
    cancelEvents(id);
    leave(*device);
    if (afterMs <= 0) {
        device->setup.mode = target;
        appear(*device);
    } else {
        schedule(Clock::now() + std::chrono::milliseconds(afterMs), id, Event::Appear, target);
    }
    return true;
}

void Bus::setTimings(const Timings& timings) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timings = timings;
}

Timings Bus::timings() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timings;
}

QVector<DeviceState> Bus::devices() {
    std::lock_guard<std::mutex> lock(m_mutex);
    processDue();
    QVector<DeviceState> out;
    for (const auto& device : m_devices)
        out.append(device->state());
    return out;
}

bool Bus::matches(const TrafficEntry& entry, const TrafficFilter& filter) {
    if (filter.kind >= 0 && int(entry.kind) != filter.kind)
        return false;
    if (!filter.serial.isNull() && entry.serial != filter.serial)
        return false;
    if (filter.usagePage && entry.usagePage != filter.usagePage)
        return false;
    return filter.prefix.isEmpty() || entry.bytes.startsWith(filter.prefix);
}

QVector<TrafficEntry> Bus::traffic(const TrafficFilter& filter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    QVector<TrafficEntry> out;
    for (const TrafficEntry& entry : m_traffic) {
        if (matches(entry, filter))
            out.append(entry);
    }
    return out;
}

int Bus::count(const TrafficFilter& filter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(std::count_if(m_traffic.begin(), m_traffic.end(),
                             [&filter](const TrafficEntry& e) { return matches(e, filter); }));
}

void Bus::clearTraffic() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_traffic.clear();
}

void Bus::setTrafficLimit(int entries) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trafficLimit = std::max(1, entries);
    while (int(m_traffic.size()) > m_trafficLimit)
        m_traffic.pop_front();
}

}  // namespace HidSim
