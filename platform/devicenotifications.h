#pragma once

#include <memory>

namespace Platform {

// What the system announces about HID devices arriving and leaving, so that a poll with nothing announced
// can answer from what it found last instead of enumerating the bus again.
class DeviceNotifications {
public:
    virtual ~DeviceNotifications() = default;

    // Null where the system announces nothing the program can hear (no udev, a container): then the bus has
    // to be enumerated on every poll.
    [[nodiscard]] static std::unique_ptr<DeviceNotifications> create();

    // Whether a device may have arrived or left since the previous call; the first call answers true, and so
    // does every call once the announcements have stopped being trustworthy. Callable from any thread.
    [[nodiscard]] virtual bool changed() = 0;
};

}  // namespace Platform
