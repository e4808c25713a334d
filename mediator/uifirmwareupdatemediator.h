#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

#include "io/deviceid.h"
#include "io/iiocontext.h"
#include "io/iodeviceinfo.h"
#include "io/iodevicescanner.h"
#include "io/version.h"
#include "mediator/devicerules.h"
#include "mediator/firmwaresession.h"
#include "mediator/firmwaretimings.h"
#include "mediator/firmwaretypes.h"
#include "mediator/iuimediator.h"
#include "platform/instancelock.h"

namespace DFU {
class IUpdater;
}

namespace UIMediator {

// What QML knows about the headset and the receiver, and the firmware update and receiver repair, each run
// on a worker thread of its own.
class UIFirmwareUpdateMediator : public IUIMediator {
    Q_OBJECT

public:
    enum class DeviceType {
        Unknown = 0,
        SorrelHeadset = 1,
        SorrelReceiver = 2,
        SorrelPlusHeadset = 3,
        SorrelPlusReceiver = 4,
    };
    Q_ENUM(DeviceType)

    enum class Status {
        None = 0,
        Started = 1,
        Updating = 2,
        Repairing = 3,
        Rebooting = 4,
        Finished = 5,
        Canceled = 6,
        Timeout = 7,
        Failed = 8,
        DeviceError = 9,
        FileError = 10,
    };
    Q_ENUM(Status)

    using Timings = FirmwareTimings;

    using UpdaterFactory = std::function<DFU::IUpdater*()>;
    // Starts a worker's thread. Tests stand in one that fails as thread creation can; null restores
    // QThread::start.
    using ThreadStarter = std::function<void(QThread&)>;

    UIFirmwareUpdateMediator(Io::IIoContext::Shared context, Io::IoDeviceScanner::Shared scanner,
                             QObject* parent = nullptr);
    ~UIFirmwareUpdateMediator() override;

    // The worker reads both as it goes, so they are ignored while one runs.
    void setTimings(const Timings& timings);
    [[nodiscard]] Timings timings() const;
    void setUpdaterFactory(UpdaterFactory factory);
    void setThreadStarter(ThreadStarter starter);
    // The program is closing: waits for a device end at once, so the running operation ends promptly.
    void setClosing();
    // Every process that updates or repairs (the window, the command line) holds this lock while it does,
    // so the other refuses instead of talking to a device in the middle of a transfer. An empty key (the
    // default, for tests that run side by side) takes no lock.
    void setOperationLockKey(const QString& key);
    [[nodiscard]] static QString defaultOperationLockKey();
    // Whether the last update(), repair() or claimDevices() was refused because another process held the
    // lock.
    [[nodiscard]] bool refusedAsBusy() const { return m_refusedAsBusy; }
    // Takes the lock ahead of an update or repair, for a caller that must know it owns the devices before
    // it looks at them; false while a worker runs or another process holds it. update() and repair() take
    // it themselves, and a worker's end lets it go; releaseDevices() lets it go when no worker runs.
    bool claimDevices();
    void releaseDevices();
    // The check an image passes before the device is switched; a refused one leaves the device untouched.
    [[nodiscard]] static bool acceptsImage(const QString& path, DeviceType type);

    Q_INVOKABLE int count(DeviceType _device_type, bool _from_cache = false);
    Q_INVOKABLE bool update(DeviceType _device_type, QString _firmware_path = QString());
    Q_INVOKABLE bool repair(DeviceType _device_type);
    Q_INVOKABLE bool cancel();
    Q_INVOKABLE bool canUpdate(DeviceType _device_type, bool _from_cache = false);
    Q_INVOKABLE bool isDFU(DeviceType _device_type, bool _from_cache = false);
    Q_INVOKABLE bool isRunning();
    Q_INVOKABLE QString getRevisionString(DeviceType _device_type, QString _format = QStringLiteral("M.m"),
                                          bool _from_cache = false);
    Q_INVOKABLE QString getVersionString(DeviceType _device_type, QString _format = QStringLiteral("M.m"),
                                         bool _from_cache = false);
    Q_INVOKABLE QString getAvailableVersionString(DeviceType _device_type,
                                                  QString _format = QStringLiteral("M.m"));
    Q_INVOKABLE QString getModelName(DeviceType _device_type);
    Q_INVOKABLE Status getLastStatus();

    // Every known device with its readings, for a program that addresses them one by one (the command
    // line). The readings are those the window shows: read once while the device stays on the bus.
    [[nodiscard]] Io::IoDeviceInfoList deviceList(bool from_cache);
    [[nodiscard]] Global::Version deviceVersion(const DeviceRules::Device& device);
    [[nodiscard]] Global::Version deviceRevision(const DeviceRules::Device& device);

signals:
    void updateProgressChanged(int percents, DeviceType deviceType);
    void updateStatusChanged(Status status, DeviceType deviceType);
    void repairStatusChanged(Status status, DeviceType deviceType);

public:
    // Called on the GUI thread when the engine refused the image at a given path as damaged or foreign
    // before the device was touched, so that whoever put the file there may drop it. Native only: the
    // window learns the outcome from the status as before.
    void setImageRefusedHandler(std::function<void(const QString& path)> handler) {
        m_imageRefused = std::move(handler);
    }

private:
    enum class Operation { Update, Repair };

    bool startUpdate(DeviceType type, const QString& firmware_path);

    [[nodiscard]] QString firmwarePath(const Io::DeviceId& id) const;
    [[nodiscard]] Global::Version firmwareVersion(const QString& path) const;

    Io::IoDeviceInfoList refreshCache(bool from_cache);

    Global::Version readVersion(DeviceType type, bool from_cache);
    Global::Version readRevision(DeviceType type, bool from_cache);
    bool startUpdateWorker(const Io::DeviceId& update_mode_id, const QString& serial_number,
                           const QString& firmware_path);
    bool startRepairWorker(const Io::DeviceId& normal_mode_id, const QByteArray& path,
                           const QString& serial_number);
    void startWorker(std::unique_ptr<QThread> thread, Operation operation, DeviceType type);

    // QThread::wait plus the handshake with the thread's last act, after which the thread object may go.
    void joinWorker();
    // The thread could not be created: the operation ends with its failure status, signalled as a worker
    // that fails at once would have it.
    void endUnstartedWorker(Operation operation, DeviceType type);

    [[nodiscard]] Status loadStatus() const;
    // The worker's signals, emitted on its thread.
    [[nodiscard]] FirmwareSession::Listener listener();
    void signalStatus(Operation operation, Status status, DeviceType type);

    static Firmware::DeviceType toFirmware(DeviceType type);
    static DeviceType fromFirmware(Firmware::DeviceType type);
    static Status fromFirmware(Firmware::Status status);

    const std::unique_ptr<FirmwareSession> m_session;
    std::function<void(const QString& path)> m_imageRefused;
    ThreadStarter m_threadStarter;
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_workerDone{true};
    std::unique_ptr<Platform::OperationLock> m_operationLock;
    bool m_refusedAsBusy = false;
};

}  // namespace UIMediator
