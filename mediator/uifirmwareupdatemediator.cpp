#include "mediator/uifirmwareupdatemediator.h"

#include <QElapsedTimer>
#include <utility>

#include "dfu/updater.h"
#include "io/devicereports.h"
#include "io/hiddevice.h"
#include "mediator/firmwareimage.h"
#include "mediator/knowndevicetable.h"
#include "mediator/repairworker.h"
#include "mediator/updateworker.h"
#include "platform/driverinfo.h"

namespace UIMediator {

namespace {

using Scanner = Io::IoDeviceScanner;

}  // namespace

UIFirmwareUpdateMediator::UIFirmwareUpdateMediator(Io::IIoContext::Shared context,
                                                   Io::IoDeviceScanner::Shared scanner, QObject* parent)
    : IUIMediator(parent),
      m_context(std::move(context)),
      m_scanner(std::move(scanner)),
      m_updaterFactory(&DFU::createUpdater) {}

UIFirmwareUpdateMediator::~UIFirmwareUpdateMediator() {
    if (m_thread && m_thread->isRunning())
        storeStatus(Status::Canceled);
    if (m_thread)
        joinWorker();
    m_thread.reset();
}

void UIFirmwareUpdateMediator::setTimings(const Timings& timings) {
    if (isRunning())
        return;
    m_timings = timings;
}

UIFirmwareUpdateMediator::Timings UIFirmwareUpdateMediator::timings() const {
    return m_timings;
}

void UIFirmwareUpdateMediator::setUpdaterFactory(UpdaterFactory factory) {
    if (isRunning())
        return;
    m_updaterFactory = factory ? std::move(factory) : UpdaterFactory(&DFU::createUpdater);
}

void UIFirmwareUpdateMediator::setClosing() {
    m_closing.store(true);
}

int UIFirmwareUpdateMediator::count(DeviceType _device_type, bool _from_cache) {
    const Io::IoDeviceInfoList devices = refreshCache(_from_cache);
    const Io::DeviceId u = KnownDeviceTable::updateModeId(_device_type);
    const Io::DeviceId n = KnownDeviceTable::normalModeId(u, 0);
    return Scanner::filterByIds(devices, {u, n}).size();
}

bool UIFirmwareUpdateMediator::update(DeviceType _device_type, QString _firmware_path) {
    if (isRunning())
        return false;
    const Io::IoDeviceInfoList devices = rescan();
    const Io::DeviceId u = KnownDeviceTable::updateModeId(_device_type);
    const Io::DeviceId n = KnownDeviceTable::normalModeId(u, 0);
    const Io::IoDeviceInfoList found = Scanner::filterByIds(devices, {u, n});
    if (found.size() != 1)
        return false;

    const Io::IoDeviceInfoList normal = Scanner::filterByIds(found, {n});
    if (normal.size() == 1) {
        const Io::IoDeviceInfo& device_info = normal.first();
        Io::HIDDevice device(m_context, n, device_info.path(n));
        if (!device.open())
            return false;
        switch (KnownDeviceTable::modelIndexOf(n)) {
            case 1:
            case 6:
                if (!Io::DeviceReports::enterHeadsetUpdate(device))
                    return false;
                break;
            case 3:
            case 8:
                // The receiver drops off the bus as it switches; its write result says nothing.
                (void)Io::DeviceReports::enterReceiverUpdate(device);
                break;
            default:
                return false;
        }
        device.close();
        return startUpdateWorker(u, device_info.serialNumber(), _firmware_path);
    }

    const Io::IoDeviceInfoList waiting = Scanner::filterByIds(found, {u});
    if (waiting.size() == 1)
        return startUpdateWorker(u, waiting.first().serialNumber(), _firmware_path);
    return false;
}

bool UIFirmwareUpdateMediator::repair(DeviceType _device_type) {
    if (isRunning())
        return false;
    const Io::IoDeviceInfoList devices = rescan();
    const Io::DeviceId u = KnownDeviceTable::updateModeId(_device_type);
    const Io::DeviceId n = KnownDeviceTable::normalModeId(u, 0);
    const Io::IoDeviceInfoList found = Scanner::filterByIds(devices, {u, n});
    if (found.size() != 1)
        return false;
    const Io::IoDeviceInfoList normal = Scanner::filterByIds(found, {n});
    if (normal.size() != 1)
        return false;
    return startRepairWorker(n, normal.first().path(n), normal.first().serialNumber());
}

bool UIFirmwareUpdateMediator::cancel() {
    if (!isRunning())
        return false;
    storeStatus(Status::Canceled);
    joinWorker();
    return true;
}

bool UIFirmwareUpdateMediator::canUpdate(DeviceType _device_type, bool _from_cache) {
    if (isRunning())
        return false;
    const Io::DeviceId u = KnownDeviceTable::updateModeId(_device_type);
    const Global::Version available = firmwareVersion(firmwarePath(u));
    const Global::Version current = readVersion(_device_type, _from_cache);
    const int in_update_mode = Scanner::filterByIds(refreshCache(_from_cache), {u}).size();
    return available.isValid() && (current.isValid() || in_update_mode != 0) && available > current;
}

bool UIFirmwareUpdateMediator::isDFU(DeviceType _device_type, bool _from_cache) {
    const Io::DeviceId u = KnownDeviceTable::updateModeId(_device_type);
    return !Scanner::filterByIds(refreshCache(_from_cache), {u}).isEmpty();
}

bool UIFirmwareUpdateMediator::isRunning() {
    return m_thread && m_thread->isRunning();
}

QString UIFirmwareUpdateMediator::getRevisionString(DeviceType _device_type, QString _format,
                                                    bool _from_cache) {
    return readRevision(_device_type, _from_cache).toString(_format, 10);
}

QString UIFirmwareUpdateMediator::getVersionString(DeviceType _device_type, QString _format,
                                                   bool _from_cache) {
    return readVersion(_device_type, _from_cache).toString(_format, 10);
}

QString UIFirmwareUpdateMediator::getAvailableVersionString(DeviceType _device_type, QString _format) {
    const Io::DeviceId u = KnownDeviceTable::updateModeId(_device_type);
    return firmwareVersion(firmwarePath(u)).toString(_format, 10);
}

QString UIFirmwareUpdateMediator::getModelName(DeviceType _device_type) {
    return KnownDeviceTable::familyName(_device_type);
}

UIFirmwareUpdateMediator::Status UIFirmwareUpdateMediator::getLastStatus() {
    return loadStatus();
}

QString UIFirmwareUpdateMediator::firmwarePath(const Io::DeviceId& id) const {
    return FirmwareImage::find(id, FirmwareImage::searchDirectories());
}

Global::Version UIFirmwareUpdateMediator::firmwareVersion(const QString& path) const {
    return FirmwareImage::version(path);
}

Io::IoDeviceInfoList UIFirmwareUpdateMediator::refreshCache(bool from_cache) {
    return from_cache ? cachedDevices() : rescan();
}

Io::IoDeviceInfoList UIFirmwareUpdateMediator::rescan() {
    // The scan itself stays outside the cache lock: it waits for the HID lock, which a worker may hold for
    // a whole report read.
    Io::IoDeviceInfoList devices = m_scanner->scan();
    const std::lock_guard<std::mutex> locker(m_cacheMutex);
    m_cache = devices;
    return devices;
}

Io::IoDeviceInfoList UIFirmwareUpdateMediator::cachedDevices() const {
    const std::lock_guard<std::mutex> locker(m_cacheMutex);
    return m_cache;
}

Global::Version UIFirmwareUpdateMediator::readVersion(DeviceType type, bool from_cache) {
    const Io::DeviceId u = KnownDeviceTable::updateModeId(type);
    const Io::DeviceId n = KnownDeviceTable::normalModeId(u, 0);
    const Io::IoDeviceInfoList found = Scanner::filterByIds(refreshCache(from_cache), {u, n});
    if (found.size() != 1)
        return {};
    const Io::IoDeviceInfoList normal = Scanner::filterByIds(found, {n});
    if (normal.size() != 1)
        return {};
    Io::HIDDevice device(m_context, n, normal.first().path(n));
    if (!device.open())
        return {};
    switch (KnownDeviceTable::modelIndexOf(n)) {
        case 1:
        case 6:
            return Io::DeviceReports::readHeadsetVersion(device);
        case 3:
        case 8:
            return Io::DeviceReports::readReceiverVersion(device);
        default:
            return {};
    }
}

Global::Version UIFirmwareUpdateMediator::readRevision(DeviceType type, bool from_cache) {
    const Io::DeviceId u = KnownDeviceTable::updateModeId(type);
    const Io::DeviceId n = KnownDeviceTable::normalModeId(u, 0);
    const Io::IoDeviceInfoList found = Scanner::filterByIds(refreshCache(from_cache), {u, n});
    if (found.size() != 1)
        return {};
    const Io::IoDeviceInfoList normal = Scanner::filterByIds(found, {n});
    if (normal.size() == 1) {
        Io::HIDDevice device(m_context, n, normal.first().path(n));
        if (!device.open())
            return {};
        switch (KnownDeviceTable::modelIndexOf(n)) {
            case 1:
            case 6:
                return Io::DeviceReports::readHeadsetRevision(device);
            case 3:
            case 8:
                return Io::DeviceReports::readReceiverRevision(device);
            default:
                return {};
        }
    }
    if (Scanner::filterByIds(found, {u}).size() == 1)
        return Global::Version(Global::Version::compose(2, 0, 0), 0);
    return {};
}

bool UIFirmwareUpdateMediator::startUpdateWorker(const Io::DeviceId& update_mode_id,
                                                 const QString& serial_number, const QString& firmware_path) {
    const DeviceType type = KnownDeviceTable::deviceTypeOf(update_mode_id);
    std::unique_ptr<QThread> thread(
        QThread::create(UpdateWorker(*this, type, update_mode_id, serial_number, firmware_path, m_timings)));
    startWorker(std::move(thread), Operation::Update, type);
    return true;
}

bool UIFirmwareUpdateMediator::startRepairWorker(const Io::DeviceId& normal_mode_id, const QByteArray& path,
                                                 const QString& serial_number) {
    const DeviceType type = KnownDeviceTable::deviceTypeOf(normal_mode_id);
    std::unique_ptr<QThread> thread(
        QThread::create(RepairWorker(*this, type, normal_mode_id, path, serial_number, m_timings)));
    startWorker(std::move(thread), Operation::Repair, type);
    return true;
}

void UIFirmwareUpdateMediator::startWorker(std::unique_ptr<QThread> thread, Operation operation,
                                           DeviceType type) {
    // Both callers refuse while a worker runs, so the previous thread has finished; the wait only lets it
    // leave its finishing code before the object goes.
    if (m_thread)
        joinWorker();
    m_thread = std::move(thread);
    m_workerDone.store(false);

    // Stored before the thread exists in the scheduler's eyes, so a worker that fails at once can never
    // have its final status overwritten by Started.
    storeStatus(Status::Started);
    connect(m_thread.get(), &QThread::started, this,
            [this, operation, type] { signalStatus(operation, Status::Started, type); });
    // Read on the worker thread as it finishes, not later on ours: by the time the queued handler runs, a
    // new worker could already have stored its own Started.
    const auto final_status = std::make_shared<std::atomic<Status>>(Status::None);
    connect(
        m_thread.get(), &QThread::finished, m_thread.get(),
        [this, final_status] {
            final_status->store(loadStatus());
            m_workerDone.store(true, std::memory_order_release);
        },
        Qt::DirectConnection);
    // Connected after the direct one, so it is queued after the status was read.
    connect(m_thread.get(), &QThread::finished, this,
            [this, operation, type, final_status] { signalStatus(operation, final_status->load(), type); });
    m_thread->start(QThread::InheritPriority);
}

void UIFirmwareUpdateMediator::joinWorker() {
    m_thread->wait();
    // The finished handler's release store is the last thing the worker thread does in our code.
    while (!m_workerDone.load(std::memory_order_acquire))
        QThread::yieldCurrentThread();
}

void UIFirmwareUpdateMediator::signalStatus(Operation operation, Status status, DeviceType type) {
    if (operation == Operation::Update)
        emit updateStatusChanged(status, type);
    else
        emit repairStatusChanged(status, type);
}

bool UIFirmwareUpdateMediator::waitForDevice(const Io::DeviceId& id, const QString& serial_number,
                                             int timeout_ms) {
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

bool UIFirmwareUpdateMediator::isDriverInstalled(const Io::DeviceId& id) const {
    return Platform::DriverInfo::isInstalled(id.vendorId(), id.productId());
}

bool UIFirmwareUpdateMediator::sendPostUpdateCommand(const Io::DeviceId& normal_mode_id,
                                                     const QString& serial_number) {
    Io::DeviceId target;
    switch (KnownDeviceTable::deviceTypeOf(normal_mode_id)) {
        case DeviceType::SorrelHeadset:
            target = KnownDeviceTable::knownId(1);
            break;
        case DeviceType::SorrelPlusHeadset:
            target = KnownDeviceTable::knownId(6);
            break;
        default:
            break;
    }
    return sendCommand(target, serial_number, &Io::DeviceReports::sendHeadsetPostUpdate);
}

bool UIFirmwareUpdateMediator::sendRepairEndCommand(const Io::DeviceId& normal_mode_id,
                                                    const QString& serial_number) {
    Io::DeviceId target;
    switch (KnownDeviceTable::deviceTypeOf(normal_mode_id)) {
        case DeviceType::SorrelReceiver:
            target = KnownDeviceTable::knownId(4);
            break;
        case DeviceType::SorrelPlusReceiver:
            target = KnownDeviceTable::knownId(9);
            break;
        default:
            break;
    }
    return sendCommand(target, serial_number, &Io::DeviceReports::endRepair);
}

bool UIFirmwareUpdateMediator::sendCommand(const Io::DeviceId& target, const QString& serial_number,
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

DFU::IUpdater* UIFirmwareUpdateMediator::createUpdater() const {
    return m_updaterFactory();
}

UIFirmwareUpdateMediator::Status UIFirmwareUpdateMediator::storeStatus(Status status) {
    return m_status.exchange(status);
}

bool UIFirmwareUpdateMediator::storeStatusUnlessCanceled(Status status) {
    Status current = m_status.load();
    while (current != Status::Canceled) {
        if (m_status.compare_exchange_weak(current, status))
            return true;
    }
    return false;
}

UIFirmwareUpdateMediator::Status UIFirmwareUpdateMediator::loadStatus() const {
    return m_status.load();
}

}  // namespace UIMediator

// Compiled here rather than in the core's shared moc unit, which the installer links without the engine.
#include "moc_uifirmwareupdatemediator.cpp"
