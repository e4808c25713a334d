#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "base/nocopyable.h"
#include "io/deviceid.h"
#include "io/iiocontext.h"
#include "io/iiodevice.h"
#include "io/iodeviceinfo.h"
#include "io/iodevicescanner.h"
#include "io/version.h"
#include "mediator/devicereadcache.h"
#include "mediator/firmwaretimings.h"
#include "mediator/firmwaretypes.h"
#include "platform/devicenotifications.h"

namespace DFU {
class IUpdater;
}

namespace UIMediator {

// What the firmware mediator and its workers share: the device cache, the way to the devices and their
// reports, the status of the running operation and where its signals go. The mediator owns it and
// outlives every worker, which gets it by reference; the queries of the GUI thread and one worker use it
// at the same time.
class FirmwareSession : private Utils::NoCopyable {
public:
    using DeviceType = Firmware::DeviceType;
    using Status = Firmware::Status;
    using UpdaterFactory = std::function<DFU::IUpdater*()>;

    // Called on the worker thread as the operation goes.
    struct Listener {
        std::function<void(int percents, DeviceType type)> progress;
        std::function<void(Status status, DeviceType type)> updateStatus;
        std::function<void(Status status, DeviceType type)> repairStatus;
    };

    FirmwareSession(Io::IIoContext::Shared context, Io::IoDeviceScanner::Shared scanner, Listener listener);
    ~FirmwareSession();

    // Only to be changed while no worker runs: the worker reads both as it goes.
    void setTimings(const FirmwareTimings& timings);
    [[nodiscard]] const FirmwareTimings& timings() const;
    void setUpdaterFactory(UpdaterFactory factory);
    [[nodiscard]] std::unique_ptr<DFU::IUpdater> createUpdater() const;

    // Every reader works on its own copy, so the GUI thread and a worker may replace the cache at will.
    // Where the system announces arrivals and departures, a rescan with nothing announced answers from the
    // cache without touching the bus.
    Io::IoDeviceInfoList rescan();
    [[nodiscard]] Io::IoDeviceInfoList cachedDevices() const;
    Io::IoDeviceInfoList devices(bool from_cache);

    // A closed device on the shared context; it lives for one exchange.
    [[nodiscard]] std::unique_ptr<Io::IIoDevice> device(const Io::DeviceId& id, const QByteArray& path) const;
    // Both open the interface at path and read through the reports its identity speaks; the invalid
    // version when it does not open or speaks none. Each path is read once while it stays on the bus; one
    // that did not answer is asked again only after the read retry pause, and then in the background.
    [[nodiscard]] Global::Version readVersion(const Io::DeviceId& normal_mode_id, const QByteArray& path);
    [[nodiscard]] Global::Version readRevision(const Io::DeviceId& normal_mode_id, const QByteArray& path);
    // False when the interface does not open, speaks no reports, or is a headset's and refused the write.
    // A receiver drops off the bus as it switches, so its write result says nothing.
    bool enterUpdateMode(const Io::DeviceId& normal_mode_id, const QByteArray& path);

    // The program is closing: every wait for a device ends at once, as a time-out would.
    void setClosing();
    bool waitForDevice(const Io::DeviceId& id, const QString& serial_number, int timeout_ms);
    [[nodiscard]] bool isDriverInstalled(const Io::DeviceId& id) const;
    bool sendPostUpdateCommand(const Io::DeviceId& normal_mode_id, const QString& serial_number);
    bool sendRepairEndCommand(const Io::DeviceId& normal_mode_id, const QString& serial_number);

    [[nodiscard]] Status status() const;
    Status storeStatus(Status status);
    void cancel();
    // An intermediate status is stored and signalled under the lock that cancel() takes: either it is
    // signalled before the cancel, or, once a cancel is stored, neither stored nor signalled at all (false).
    // Storing it over a cancel would also wipe the cancel out before the worker could see it.
    bool storeAndSignalUpdateStatus(Status status, DeviceType type);
    bool storeAndSignalRepairStatus(Status status, DeviceType type);

    // Not after a cancel either, for the same reason.
    void signalProgress(int percents, DeviceType type) const;
    void signalUpdateStatus(Status status, DeviceType type) const;

private:
    bool sendCommand(const Io::DeviceId& target, const QString& serial_number,
                     bool (*command)(Io::IIoDevice&));
    Global::Version exchange(DeviceReadCache::Query query, const Io::DeviceId& normal_mode_id,
                             const QByteArray& path, const std::atomic<bool>* give_up) const;

    // Standard rather than Qt primitives: ThreadSanitizer sees through them, so the suite can check the
    // sharing.
    mutable std::mutex m_cacheMutex;
    Io::IoDeviceInfoList m_cache;
    const Io::IIoContext::Shared m_context;
    const Io::IoDeviceScanner::Shared m_scanner;
    // Null where nothing is announced: every rescan enumerates.
    const std::unique_ptr<Platform::DeviceNotifications> m_notifications;
    mutable std::mutex m_statusMutex;
    std::atomic<Status> m_status{Status::None};
    std::atomic<bool> m_closing{false};
    const Listener m_listener;
    FirmwareTimings m_timings;
    UpdaterFactory m_updaterFactory;
    // Last: its retry thread uses the context, so it goes first.
    DeviceReadCache m_readings;
};

}  // namespace UIMediator
