#include "mediator/uifirmwareupdatemediator.h"

#include <algorithm>
#include <utility>

#include <QDir>

#include "base/logging.h"
#include "dfu/imagecheck.h"
#include "mediator/devicerules.h"
#include "mediator/firmwareimage.h"
#include "mediator/firmwaresession.h"
#include "mediator/knowndevicetable.h"
#include "mediator/repairworker.h"
#include "mediator/stagedimage.h"
#include "mediator/updateworker.h"

namespace UIMediator {

namespace {

using Rules = DeviceRules;

void startThread(QThread& thread) {
    thread.start(QThread::InheritPriority);
}

}  // namespace

UIFirmwareUpdateMediator::UIFirmwareUpdateMediator(Io::IIoContext::Shared context,
                                                   Io::IoDeviceScanner::Shared scanner, QObject* parent)
    : IUIMediator(parent),
      m_session(std::make_unique<FirmwareSession>(std::move(context), std::move(scanner), listener())),
      m_threadStarter(&startThread) {}

UIFirmwareUpdateMediator::~UIFirmwareUpdateMediator() {
    if (m_thread && m_thread->isRunning())
        m_session->cancel();
    if (m_thread)
        joinWorker();
    m_thread.reset();
}

void UIFirmwareUpdateMediator::setTimings(const Timings& timings) {
    if (isRunning())
        return;
    m_session->setTimings(timings);
}

UIFirmwareUpdateMediator::Timings UIFirmwareUpdateMediator::timings() const {
    return m_session->timings();
}

void UIFirmwareUpdateMediator::setUpdaterFactory(UpdaterFactory factory) {
    if (isRunning())
        return;
    m_session->setUpdaterFactory(std::move(factory));
}

void UIFirmwareUpdateMediator::setThreadStarter(ThreadStarter starter) {
    m_threadStarter = starter ? std::move(starter) : ThreadStarter(&startThread);
}

void UIFirmwareUpdateMediator::setClosing() {
    m_session->setClosing();
}

void UIFirmwareUpdateMediator::setOperationLockKey(const QString& key) {
    if (isRunning())
        return;
    m_operationLock = key.isEmpty() ? nullptr : std::make_unique<Platform::OperationLock>(key);
}

QString UIFirmwareUpdateMediator::defaultOperationLockKey() {
    // Beside the window's single-instance lock, named after its key.
    return QStringLiteral("a81c9c8e-efeb-4781-a362-26ddd6d15b74-devices");
}

bool UIFirmwareUpdateMediator::acceptsImage(const QString& path, DeviceType type) {
    // The engine reads files only, so a carried image is judged on the same kind of copy it later flashes.
    StagedImage judged;
    QString refusal;
    const bool staged = judged.stage(path);
    if (staged && DFU::checkImage(judged.fileName(), KnownDeviceTable::updateModeId(toFirmware(type)),
                                  nullptr, &refusal)) {
        return true;
    }
    qCWarning(lcFirmware).noquote() << "image" << QDir::toNativeSeparators(path) << "for"
                                    << KnownDeviceTable::describe(toFirmware(type), {})
                                    << "refused:" << (staged ? refusal : judged.errorString());
    return false;
}

bool UIFirmwareUpdateMediator::claimDevices() {
    m_refusedAsBusy = false;
    if (isRunning())
        return false;
    if (m_operationLock && !m_operationLock->tryLock()) {
        m_refusedAsBusy = true;
        qCWarning(lcFirmware)
            << "Refused an update or repair: another process is updating or repairing a device";
        return false;
    }
    return true;
}

void UIFirmwareUpdateMediator::releaseDevices() {
    if (m_operationLock && !isRunning())
        m_operationLock->unlock();
}

int UIFirmwareUpdateMediator::count(DeviceType _device_type, bool _from_cache) {
    return Rules::ofType(refreshCache(_from_cache), toFirmware(_device_type)).size();
}

bool UIFirmwareUpdateMediator::update(DeviceType _device_type, QString _firmware_path) {
    if (!claimDevices())
        return false;
    const bool started = startUpdate(_device_type, _firmware_path);
    if (!started)
        releaseDevices();
    return started;
}

bool UIFirmwareUpdateMediator::startUpdate(DeviceType type, const QString& firmware_path) {
    const Rules::Choice choice = Rules::one(m_session->rescan(), toFirmware(type));
    if (choice.match != Rules::Match::One) {
        qCWarning(lcFirmware).noquote()
            << "update of" << KnownDeviceTable::describe(toFirmware(type), {})
            << "refused:" << choice.devices.size() << "such devices connected, not one";
        return false;
    }
    const Rules::Device& device = choice.devices.first();

    // The engine judges the image before the device is switched: a refused image leaves the device as it
    // was. It still ends as an operation of its own, Started then FileError, so the page shows the error.
    const Io::DeviceId u = KnownDeviceTable::updateModeId(device.type);
    if (!acceptsImage(firmware_path.isEmpty() ? firmwarePath(u) : firmware_path, type)) {
        // Whoever put the file there (a download) may drop it; a carried image is no one's to drop.
        if (!firmware_path.isEmpty() && m_imageRefused) {
            m_imageRefused(firmware_path);
        }
        std::unique_ptr<QThread> thread(
            QThread::create([this] { m_session->storeStatus(Firmware::Status::FileError); }));
        startWorker(std::move(thread), Operation::Update, type);
        return true;
    }

    if (!device.updateMode && !m_session->enterUpdateMode(device.id(), device.info.path(device.id())))
        return false;
    return startUpdateWorker(u, device.info.serialNumber(), firmware_path);
}

bool UIFirmwareUpdateMediator::repair(DeviceType _device_type) {
    if (!claimDevices())
        return false;
    const Rules::Choice choice = Rules::one(m_session->rescan(), toFirmware(_device_type));
    if (choice.match != Rules::Match::One || choice.devices.first().updateMode) {
        const auto normal = std::count_if(choice.devices.cbegin(), choice.devices.cend(),
                                          [](const Rules::Device& device) { return !device.updateMode; });
        qCWarning(lcFirmware).noquote()
            << "repair of" << KnownDeviceTable::describe(toFirmware(_device_type), {}) << "refused:" << normal
            << "of" << choice.devices.size() << "such devices in normal mode, not one of one";
        releaseDevices();
        return false;
    }
    const Rules::Device& device = choice.devices.first();
    return startRepairWorker(device.id(), device.info.path(device.id()), device.info.serialNumber());
}

bool UIFirmwareUpdateMediator::cancel() {
    if (!isRunning())
        return false;
    m_session->cancel();
    joinWorker();
    return true;
}

bool UIFirmwareUpdateMediator::canUpdate(DeviceType _device_type, bool _from_cache) {
    if (isRunning())
        return false;
    const Io::DeviceId u = KnownDeviceTable::updateModeId(toFirmware(_device_type));
    const Global::Version available = firmwareVersion(firmwarePath(u));
    const Global::Version current = readVersion(_device_type, _from_cache);
    const bool in_update_mode = Rules::anyInUpdateMode(refreshCache(_from_cache), toFirmware(_device_type));
    return available.isValid() && (current.isValid() || in_update_mode) && available > current;
}

bool UIFirmwareUpdateMediator::isDFU(DeviceType _device_type, bool _from_cache) {
    return Rules::anyInUpdateMode(refreshCache(_from_cache), toFirmware(_device_type));
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
    const Io::DeviceId u = KnownDeviceTable::updateModeId(toFirmware(_device_type));
    return firmwareVersion(firmwarePath(u)).toString(_format, 10);
}

QString UIFirmwareUpdateMediator::getModelName(DeviceType _device_type) {
    return KnownDeviceTable::familyName(toFirmware(_device_type));
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
    return m_session->devices(from_cache);
}

Global::Version UIFirmwareUpdateMediator::readVersion(DeviceType type, bool from_cache) {
    const Rules::Choice choice = Rules::one(refreshCache(from_cache), toFirmware(type));
    return choice.match == Rules::Match::One ? deviceVersion(choice.devices.first()) : Global::Version();
}

Global::Version UIFirmwareUpdateMediator::readRevision(DeviceType type, bool from_cache) {
    const Rules::Choice choice = Rules::one(refreshCache(from_cache), toFirmware(type));
    return choice.match == Rules::Match::One ? deviceRevision(choice.devices.first()) : Global::Version();
}

Global::Version UIFirmwareUpdateMediator::deviceVersion(const DeviceRules::Device& device) {
    if (device.updateMode)
        return {};
    return m_session->readVersion(device.id(), device.info.path(device.id()));
}

Global::Version UIFirmwareUpdateMediator::deviceRevision(const DeviceRules::Device& device) {
    // In update mode the device answers no reports; the update protocol it speaks there is revision 2.
    if (device.updateMode)
        return Global::Version(Global::Version::compose(2, 0, 0), 0);
    return m_session->readRevision(device.id(), device.info.path(device.id()));
}

Io::IoDeviceInfoList UIFirmwareUpdateMediator::deviceList(bool from_cache) {
    return refreshCache(from_cache);
}

bool UIFirmwareUpdateMediator::startUpdateWorker(const Io::DeviceId& update_mode_id,
                                                 const QString& serial_number, const QString& firmware_path) {
    const Firmware::DeviceType type = KnownDeviceTable::deviceTypeOf(update_mode_id);
    std::unique_ptr<QThread> thread(
        QThread::create(UpdateWorker(*m_session, type, update_mode_id, serial_number, firmware_path)));
    startWorker(std::move(thread), Operation::Update, fromFirmware(type));
    return true;
}

bool UIFirmwareUpdateMediator::startRepairWorker(const Io::DeviceId& normal_mode_id, const QByteArray& path,
                                                 const QString& serial_number) {
    const Firmware::DeviceType type = KnownDeviceTable::deviceTypeOf(normal_mode_id);
    std::unique_ptr<QThread> thread(
        QThread::create(RepairWorker(*m_session, type, normal_mode_id, path, serial_number)));
    startWorker(std::move(thread), Operation::Repair, fromFirmware(type));
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
    m_session->storeStatus(Firmware::Status::Started);
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
    connect(m_thread.get(), &QThread::finished, this, [this, operation, type, final_status] {
        releaseDevices();
        signalStatus(operation, final_status->load(), type);
    });
    m_threadStarter(*m_thread);
    // A thread that was created runs now or has already passed its finished handler. One that could not
    // be created is left by Qt with neither signal to come (and, on Windows, marked finished).
    if (!m_thread->isRunning() && !m_workerDone.load(std::memory_order_acquire))
        endUnstartedWorker(operation, type);
}

void UIFirmwareUpdateMediator::endUnstartedWorker(Operation operation, DeviceType type) {
    const Firmware::Status failure =
        operation == Operation::Update ? Firmware::Status::Failed : Firmware::Status::DeviceError;
    qCWarning(lcFirmware).noquote() << (operation == Operation::Update ? "update of" : "repair of")
                                    << KnownDeviceTable::describe(toFirmware(type), {})
                                    << "failed: its worker thread could not be started";
    m_session->storeStatus(failure);
    m_workerDone.store(true, std::memory_order_release);
    // Queued like the handlers of a thread that ran, so the caller learns the outcome after update() or
    // repair() has returned, Started first.
    QMetaObject::invokeMethod(
        this,
        [this, operation, type, failed = fromFirmware(failure)] {
            releaseDevices();
            signalStatus(operation, Status::Started, type);
            signalStatus(operation, failed, type);
        },
        Qt::QueuedConnection);
}

void UIFirmwareUpdateMediator::joinWorker() {
    m_thread->wait();
    // wait() returns only once the thread is past its finished handler, so the flag is set by now, also
    // for a thread that never ran. The acquire pairs with the handler's release for ThreadSanitizer, which
    // does not see Qt's own synchronisation.
    (void)m_workerDone.load(std::memory_order_acquire);
}

FirmwareSession::Listener UIFirmwareUpdateMediator::listener() {
    FirmwareSession::Listener listener;
    listener.progress = [this](int percents, Firmware::DeviceType type) {
        emit updateProgressChanged(percents, fromFirmware(type));
    };
    listener.updateStatus = [this](Firmware::Status status, Firmware::DeviceType type) {
        emit updateStatusChanged(fromFirmware(status), fromFirmware(type));
    };
    listener.repairStatus = [this](Firmware::Status status, Firmware::DeviceType type) {
        emit repairStatusChanged(fromFirmware(status), fromFirmware(type));
    };
    return listener;
}

void UIFirmwareUpdateMediator::signalStatus(Operation operation, Status status, DeviceType type) {
    if (operation == Operation::Update)
        emit updateStatusChanged(status, type);
    else
        emit repairStatusChanged(status, type);
}

UIFirmwareUpdateMediator::Status UIFirmwareUpdateMediator::loadStatus() const {
    return fromFirmware(m_session->status());
}

namespace {

// The two sets of enums carry the same values; QML and the signals see the mediator's.
template <typename A, typename B>
constexpr bool same(A a, B b) {
    return static_cast<int>(a) == static_cast<int>(b);
}
using Mediator = UIFirmwareUpdateMediator;
static_assert(same(Mediator::DeviceType::Unknown, Firmware::DeviceType::Unknown) &&
              same(Mediator::DeviceType::SorrelHeadset, Firmware::DeviceType::SorrelHeadset) &&
              same(Mediator::DeviceType::SorrelReceiver, Firmware::DeviceType::SorrelReceiver) &&
              same(Mediator::DeviceType::SorrelPlusHeadset, Firmware::DeviceType::SorrelPlusHeadset) &&
              same(Mediator::DeviceType::SorrelPlusReceiver, Firmware::DeviceType::SorrelPlusReceiver));
static_assert(same(Mediator::Status::None, Firmware::Status::None) &&
              same(Mediator::Status::Started, Firmware::Status::Started) &&
              same(Mediator::Status::Updating, Firmware::Status::Updating) &&
              same(Mediator::Status::Repairing, Firmware::Status::Repairing) &&
              same(Mediator::Status::Rebooting, Firmware::Status::Rebooting) &&
              same(Mediator::Status::Finished, Firmware::Status::Finished) &&
              same(Mediator::Status::Canceled, Firmware::Status::Canceled) &&
              same(Mediator::Status::Timeout, Firmware::Status::Timeout) &&
              same(Mediator::Status::Failed, Firmware::Status::Failed) &&
              same(Mediator::Status::DeviceError, Firmware::Status::DeviceError) &&
              same(Mediator::Status::FileError, Firmware::Status::FileError));

}  // namespace

Firmware::DeviceType UIFirmwareUpdateMediator::toFirmware(DeviceType type) {
    return static_cast<Firmware::DeviceType>(type);
}

UIFirmwareUpdateMediator::DeviceType UIFirmwareUpdateMediator::fromFirmware(Firmware::DeviceType type) {
    return static_cast<DeviceType>(type);
}

UIFirmwareUpdateMediator::Status UIFirmwareUpdateMediator::fromFirmware(Firmware::Status status) {
    return static_cast<Status>(status);
}

}  // namespace UIMediator
