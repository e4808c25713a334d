#include "sim/bus.h"

#include <QMap>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "sim/devicemodel.h"
#include "sim/scenario.h"

namespace HidSim {

namespace {

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

Bus::Bus()
    : m_scheduler([this] { m_service.wake(); }),
      m_devices(*this, m_scheduler, m_timings),
      m_handles(m_devices, m_traffic),
      m_reports(m_devices, m_traffic, m_timings, [this] { processDue(); }),
      m_service(m_mutex, [this] {
          processDue();
          return m_scheduler.waitMs(Clock::now());
      }) {
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

    m_service.start();

    const QByteArray controlPath = qgetenv("HIDSIM_CONTROL");
    if (!controlPath.isEmpty()) {
        QString error;
        if (!startControl(QString::fromLocal8Bit(controlPath), &error))
            std::fprintf(stderr, "hidsim: control socket: %s\n", qPrintable(error));
    }
}

Bus::~Bus() {
    m_service.stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    // HIDSIM_TRAFFIC_SUMMARY=<path>: the writes and feature reports each serial took, one "serial count" a
    // line, written as the process ends: an end-to-end test looks after the program has gone.
    const QByteArray summaryPath = qgetenv("HIDSIM_TRAFFIC_SUMMARY");
    if (!summaryPath.isEmpty()) {
        QMap<QString, int> writes;
        for (const TrafficEntry& entry : m_traffic.entries(TrafficFilter())) {
            if (entry.kind == TrafficKind::Write || entry.kind == TrafficKind::SendFeature)
                ++writes[entry.serial];
        }
        if (FILE* file = std::fopen(summaryPath.constData(), "w")) {
            for (auto it = writes.cbegin(); it != writes.cend(); ++it)
                std::fprintf(file, "%s %d\n", qPrintable(it.key()), it.value());
            std::fclose(file);
        }
    }
    m_devices.clear();
}

void Bus::processDue() {
    while (const std::optional<Scheduler::Event> event = m_scheduler.takeDue(Clock::now()))
        m_devices.run(*event);
}

bool Bus::startControl(const QString& path, QString* error) {
    return m_service.startControl(path, error);
}

void Bus::deliver(SimInterface& interface, const QByteArray& report, Clock::time_point readableAt) {
    m_reports.deliver(interface, report, readableAt);
}

hid_device_info* Bus::enumerate(quint16 vendorId, quint16 productId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    processDue();
    ++m_enumerations;
    return m_handles.enumerate(vendorId, productId);
}

hid_device* Bus::open(const char* path, std::wstring* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    processDue();
    return m_handles.open(QString::fromUtf8(path ? path : ""), error);
}

hid_device* Bus::open(quint16 vendorId, quint16 productId, const wchar_t* serial, std::wstring* error) {
    QByteArray path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        processDue();
        path = m_handles.pathOf(vendorId, productId, serial);
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.close(handle);
}

int Bus::write(hid_device* handle, const unsigned char* data, size_t length, TrafficKind kind) {
    std::unique_lock<std::mutex> lock(m_mutex);
    processDue();
    return m_reports.write(handle, data, length, kind, lock);
}

int Bus::read(hid_device* handle, unsigned char* data, size_t length, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    processDue();
    return m_reports.read(handle, data, length, timeoutMs, lock);
}

int Bus::getReport(hid_device* handle, unsigned char* data, size_t length, TrafficKind kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    processDue();
    return m_reports.getReport(handle, data, length, kind);
}

int Bus::setNonBlocking(hid_device* handle, bool enabled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.setNonBlocking(handle, enabled);
}

int Bus::string(hid_device* handle, int which, wchar_t* out, size_t maxlen) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.string(handle, which, out, maxlen);
}

hid_device_info* Bus::deviceInfo(hid_device* handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.deviceInfo(handle);
}

void Bus::setError(hid_device* handle, const wchar_t* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.setError(handle, error);
}

const wchar_t* Bus::error(hid_device* handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.error(handle);
}

void Bus::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.clear();
    m_scheduler.clear();
    m_traffic.clear();
    m_enumerations = 0;
    m_announcing = qEnvironmentVariableIsEmpty("HIDSIM_SILENT_BUS");
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
    return m_devices.plug(setup);
}

bool Bus::unplug(int id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_devices.find(id))
        return false;
    m_devices.remove(id);
    return true;
}

bool Bus::replug(int id, int afterMs) {
    return setMode(id, Mode::Normal, afterMs, true);
}

bool Bus::setMode(int id, Mode mode, int afterMs, bool keepMode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimDevice* device = m_devices.find(id);
    if (!device)
        return false;
    m_devices.moveTo(*device, keepMode ? device->setup.mode : mode, afterMs);
    return true;
}

bool Bus::setLink(int id, const Link& link) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimDevice* device = m_devices.find(id);
    if (!device)
        return false;
    m_devices.setLink(*device, link);
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
    for (const auto& device : m_devices.all())
        out.append(device->state());
    return out;
}

QVector<TrafficEntry> Bus::traffic(const TrafficFilter& filter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_traffic.entries(filter);
}

int Bus::count(const TrafficFilter& filter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_traffic.count(filter);
}

void Bus::clearTraffic() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_traffic.clear();
    m_enumerations = 0;
}

long long Bus::announcedChanges() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_announcing)
        return -1;
    // A change that fell due is announced now, as the system would have announced it on time.
    processDue();
    return static_cast<long long>(m_devices.changes());
}

void Bus::setAnnouncing(bool announcing) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announcing = announcing;
}

int Bus::enumerations() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_enumerations;
}

void Bus::setTrafficLimit(int entries) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_traffic.setLimit(entries);
}

}  // namespace HidSim
