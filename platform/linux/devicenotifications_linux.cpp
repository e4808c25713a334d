#include <dlfcn.h>
#include <libudev.h>
#include <poll.h>
#include <mutex>

#include "base/logging.h"
#include "platform/devicenotifications.h"

namespace Platform {

namespace {

// A hidapi that simulates its bus (the test and demonstration library) announces that bus's changes
// itself: the system knows nothing of it. A count that moves on with every change, or -1 for none.
using SimulatedChanges = long long (*)();

class SimulatedBus final : public DeviceNotifications {
public:
    explicit SimulatedBus(SimulatedChanges changes) : m_changes(changes) {}

    bool changed() override {
        const long long now = m_changes();
        const std::lock_guard<std::mutex> lock(m_mutex);
        const bool moved = now < 0 || now != m_seen;
        m_seen = now;
        return moved;
    }

private:
    const SimulatedChanges m_changes;
    std::mutex m_mutex;
    long long m_seen = -1;
};

// hidapi enumerates the hidraw nodes, so their arrival and removal is all that can change its answer.
// Events come from the udev daemon, after its rules have given the node its permissions.
class UdevMonitor final : public DeviceNotifications {
public:
    UdevMonitor(udev* context, udev_monitor* monitor) : m_udev(context), m_monitor(monitor) {}
    ~UdevMonitor() override {
        udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
    }

    bool changed() override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        bool moved = m_first;
        m_first = false;
        pollfd ready{udev_monitor_get_fd(m_monitor), POLLIN, 0};
        while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
            udev_device* device = udev_monitor_receive_device(m_monitor);
            if (device == nullptr) {
                break;
            }
            udev_device_unref(device);
            moved = true;
        }
        // A socket that overflowed or broke has lost events: enumerate on every poll from now on.
        if ((ready.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            m_broken = true;
        }
        return moved || m_broken;
    }

private:
    udev* const m_udev;
    udev_monitor* const m_monitor;
    std::mutex m_mutex;
    bool m_first = true;
    bool m_broken = false;
};

std::unique_ptr<DeviceNotifications> createUdevMonitor() {
    udev* context = udev_new();
    if (context == nullptr) {
        qCWarning(lcPlatform) << "No udev context for device notifications; polling the HID bus instead";
        return nullptr;
    }
    // Without the daemon (a container, a minimal system) the monitor would open but never hear anything.
    udev_queue* queue = udev_queue_new(context);
    const bool active = queue != nullptr && udev_queue_get_udev_is_active(queue) != 0;
    udev_queue_unref(queue);
    if (!active) {
        qCInfo(lcPlatform) << "udev is not running; polling the HID bus for devices";
        udev_unref(context);
        return nullptr;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        qCWarning(lcPlatform) << "Could not listen to udev for hidraw devices; polling the HID bus instead";
        udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevMonitor>(context, monitor);
}

}  // namespace

std::unique_ptr<DeviceNotifications> DeviceNotifications::create() {
    if (auto changes = reinterpret_cast<SimulatedChanges>(dlsym(RTLD_DEFAULT, "hidsim_bus_changes"))) {
        return std::make_unique<SimulatedBus>(changes);
    }
    return createUdevMonitor();
}

}  // namespace Platform
