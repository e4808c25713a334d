#include "mediator/firmwaresession.h"

#include <QElapsedTimer>
#include <QThread>
#include <utility>

#include "base/logging.h"
#include "dfu/updater.h"
#include "io/devicereports.h"
#include "io/hiddevice.h"
#include "mediator/knowndevicetable.h"
#include "platform/driverinfo.h"

namespace UIMediator {

namespace {

using Scanner = Io::IoDeviceScanner;
using Reports = KnownDeviceTable::Reports;

// How often a read in the background looks for its reply, holding the HID lock only for each look.
constexpr int kBackgroundReadSliceMs = 10;

}  // namespace

FirmwareSession::FirmwareSession(Io::IIoContext::Shared context, Io::IoDeviceScanner::Shared scanner,
                                 Listener listener)
    : m_context(std::move(context)),
      m_scanner(std::move(scanner)),
      m_notifications(Platform::DeviceNotifications::create()),
      m_listener(std::move(listener)),
      m_updaterFactory(&DFU::createUpdater),
      m_readings([this](DeviceReadCache::Query query, const Io::DeviceId& id, const QByteArray& path,
                        const std::atomic<bool>* give_up) { return exchange(query, id, path, give_up); }) {
    m_readings.setRetryPause(m_timings.readRetryMs);
}

FirmwareSession::~FirmwareSession() = default;

void FirmwareSession::setTimings(const FirmwareTimings& timings) {
    m_timings = timings;
    m_readings.setRetryPause(timings.readRetryMs);
}

const FirmwareTimings& FirmwareSession::timings() const {
    return m_timings;
}

void FirmwareSession::setUpdaterFactory(UpdaterFactory factory) {
    m_updaterFactory = factory ? std::move(factory) : UpdaterFactory(&DFU::createUpdater);
}

std::unique_ptr<DFU::IUpdater> FirmwareSession::createUpdater() const {
    return std::unique_ptr<DFU::IUpdater>(m_updaterFactory());
}

Io::IoDeviceInfoList FirmwareSession::rescan() {
    // Asked before the enumeration: a change announced while it runs brings the next rescan back to the bus.
    if (m_notifications && !m_notifications->changed()) {
        return cachedDevices();
    }
    // The scan itself stays outside the cache lock: it waits for the HID lock, which a worker may hold for
    // a whole report read. It shares the records that have not changed since the last result.
    Io::IoDeviceInfoList devices = m_scanner->scan(cachedDevices());
    {
        const std::lock_guard<std::mutex> locker(m_cacheMutex);
        m_cache = devices;
    }
    m_readings.keepOnly(devices);
    return devices;
}

Io::IoDeviceInfoList FirmwareSession::cachedDevices() const {
    const std::lock_guard<std::mutex> locker(m_cacheMutex);
    return m_cache;
}

Io::IoDeviceInfoList FirmwareSession::devices(bool from_cache) {
    return from_cache ? cachedDevices() : rescan();
}

std::unique_ptr<Io::IIoDevice> FirmwareSession::device(const Io::DeviceId& id, const QByteArray& path) const {
    return std::make_unique<Io::HIDDevice>(m_context, id, path);
}

Global::Version FirmwareSession::readVersion(const Io::DeviceId& normal_mode_id, const QByteArray& path) {
    return m_readings.read(DeviceReadCache::Query::Version, normal_mode_id, path);
}

Global::Version FirmwareSession::readRevision(const Io::DeviceId& normal_mode_id, const QByteArray& path) {
    return m_readings.read(DeviceReadCache::Query::Revision, normal_mode_id, path);
}

Global::Version FirmwareSession::exchange(DeviceReadCache::Query query, const Io::DeviceId& normal_mode_id,
                                          const QByteArray& path, const std::atomic<bool>* give_up) const {
    Io::HIDDevice device(m_context, normal_mode_id, path);
    if (give_up != nullptr) {
        device.waitOutsideLock(kBackgroundReadSliceMs, give_up);
    }
    const bool version = query == DeviceReadCache::Query::Version;
    Global::Version value;
    if (device.open()) {
        switch (KnownDeviceTable::reportsOf(normal_mode_id)) {
            case Reports::Headset:
                value = version ? Io::DeviceReports::readHeadsetVersion(device)
                                : Io::DeviceReports::readHeadsetRevision(device);
                break;
            case Reports::Receiver:
                value = version ? Io::DeviceReports::readReceiverVersion(device)
                                : Io::DeviceReports::readReceiverRevision(device);
                break;
            case Reports::None:
                break;
        }
    }
    if (!value.isValid()) {
        // A device is read once per appearance; only its retries in the background stay quiet.
        const QString why =
            device.errorString().isEmpty() ? QStringLiteral("no valid reply") : device.errorString();
        if (give_up == nullptr)
            qCWarning(lcFirmware).noquote()
                << "reading the" << (version ? "version" : "revision") << "of"
                << KnownDeviceTable::describe(normal_mode_id, {}) << "at" << path << "failed:" << why;
        else
            qCDebug(lcFirmware).noquote()
                << "retry of the" << (version ? "version" : "revision") << "of"
                << KnownDeviceTable::describe(normal_mode_id, {}) << "at" << path << "failed:" << why;
    }
    return value;
}

bool FirmwareSession::enterUpdateMode(const Io::DeviceId& normal_mode_id, const QByteArray& path) {
    Io::HIDDevice device(m_context, normal_mode_id, path);
    if (!device.open()) {
        qCWarning(lcFirmware).noquote() << "switching" << KnownDeviceTable::describe(normal_mode_id, {})
                                        << "at" << path << "to update mode failed:" << device.errorString();
        return false;
    }
    switch (KnownDeviceTable::reportsOf(normal_mode_id)) {
        case Reports::Headset:
            if (!Io::DeviceReports::enterHeadsetUpdate(device)) {
                qCWarning(lcFirmware).noquote()
                    << "switching" << KnownDeviceTable::describe(normal_mode_id, {}) << "at" << path
                    << "to update mode failed:" << device.errorString();
                return false;
            }
            break;
        case Reports::Receiver:
            (void)Io::DeviceReports::enterReceiverUpdate(device);
            break;
        case Reports::None:
            return false;
    }
    device.close();
    return true;
}

void FirmwareSession::setClosing() {
    m_closing.store(true);
}

bool FirmwareSession::waitForDevice(const Io::DeviceId& id, const QString& serial_number, int timeout_ms) {
    if (!id.isValid())
        return false;
    QElapsedTimer clock;
    clock.start();
    const int poll_ms = m_timings.scanPollMs;
    for (;;) {
        const Io::IoDeviceInfoList matching =
            Scanner::filterBySerialNumber(Scanner::filterByIds(rescan(), {id}), serial_number);
        if (!matching.isEmpty())
            return true;
        QThread::msleep(static_cast<unsigned long>(poll_ms));
        if (clock.elapsed() > timeout_ms || m_closing.load())
            return false;
    }
}

bool FirmwareSession::isDriverInstalled(const Io::DeviceId& id) const {
    return Platform::DriverInfo::isInstalled(id.vendorId(), id.productId());
}

bool FirmwareSession::sendPostUpdateCommand(const Io::DeviceId& normal_mode_id,
                                            const QString& serial_number) {
    return sendCommand(KnownDeviceTable::postUpdateTargetOf(normal_mode_id), serial_number,
                       &Io::DeviceReports::sendHeadsetPostUpdate);
}

bool FirmwareSession::sendRepairEndCommand(const Io::DeviceId& normal_mode_id, const QString& serial_number) {
    return sendCommand(KnownDeviceTable::repairEndTargetOf(normal_mode_id), serial_number,
                       &Io::DeviceReports::endRepair);
}

bool FirmwareSession::sendCommand(const Io::DeviceId& target, const QString& serial_number,
                                  bool (*command)(Io::IIoDevice&)) {
    const Io::IoDeviceInfoList matching =
        Scanner::filterBySerialNumber(Scanner::filterByIds(rescan(), {target}), serial_number);
    if (matching.isEmpty())
        return false;
    Io::HIDDevice device(m_context, target, matching.first().path(target));
    if (!device.open())
        return false;
    return command(device);
}

FirmwareSession::Status FirmwareSession::status() const {
    return m_status.load();
}

FirmwareSession::Status FirmwareSession::storeStatus(Status status) {
    return m_status.exchange(status);
}

void FirmwareSession::cancel() {
    const std::lock_guard<std::mutex> locker(m_statusMutex);
    m_status.store(Status::Canceled);
}

bool FirmwareSession::storeAndSignalUpdateStatus(Status status, DeviceType type) {
    const std::lock_guard<std::mutex> locker(m_statusMutex);
    if (m_status.load() == Status::Canceled)
        return false;
    m_status.store(status);
    signalUpdateStatus(status, type);
    return true;
}

bool FirmwareSession::storeAndSignalRepairStatus(Status status, DeviceType type) {
    const std::lock_guard<std::mutex> locker(m_statusMutex);
    if (m_status.load() == Status::Canceled)
        return false;
    m_status.store(status);
    if (m_listener.repairStatus)
        m_listener.repairStatus(status, type);
    return true;
}

void FirmwareSession::signalProgress(int percents, DeviceType type) const {
    const std::lock_guard<std::mutex> locker(m_statusMutex);
    if (m_listener.progress && m_status.load() != Status::Canceled)
        m_listener.progress(percents, type);
}

void FirmwareSession::signalUpdateStatus(Status status, DeviceType type) const {
    if (m_listener.updateStatus)
        m_listener.updateStatus(status, type);
}

}  // namespace UIMediator
