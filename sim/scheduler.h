#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "sim/hidsim.h"

namespace HidSim {

// Timed changes of the devices on the bus: leaving it, coming back under an identity, being pulled for
// good, and the reports a device sends on its own. Lives under the bus lock; the service thread carries
// the events out when they fall due.
class Scheduler {
public:
    using Clock = std::chrono::steady_clock;

    struct Event {
        enum Kind { Leave, Appear, Remove, Unsolicited };
        Clock::time_point at;
        int deviceId = 0;
        Kind kind = Leave;
        Mode mode = Mode::Normal;
        int generation = 0;  // Unsolicited: the rate it belongs to
    };

    // wake runs for every new event, so that a service thread asleep until a later one sleeps less.
    explicit Scheduler(std::function<void()> wake);

    void schedule(const Event& event);
    void schedule(Clock::time_point at, int deviceId, Event::Kind kind, Mode mode = Mode::Normal);
    // Drops the device's pending changes of identity; its unsolicited reports go on across them.
    void cancel(int deviceId);
    void clear();
    // The earliest event due by now, taken off the list.
    [[nodiscard]] std::optional<Event> takeDue(Clock::time_point now);
    // How long a sleeper may wait before the next event falls due, -1 when none is scheduled.
    [[nodiscard]] int waitMs(Clock::time_point now) const;

private:
    std::function<void()> m_wake;
    std::vector<Event> m_events;
};

}  // namespace HidSim
