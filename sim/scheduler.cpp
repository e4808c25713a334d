#include "sim/scheduler.h"

#include <QtGlobal>
#include <algorithm>
#include <utility>

namespace HidSim {

Scheduler::Scheduler(std::function<void()> wake) : m_wake(std::move(wake)) {}

void Scheduler::schedule(const Event& event) {
    m_events.push_back(event);
    if (m_wake)
        m_wake();
}

void Scheduler::schedule(Clock::time_point at, int deviceId, Event::Kind kind, Mode mode) {
    schedule(Event{at, deviceId, kind, mode});
}

void Scheduler::cancel(int deviceId) {
    m_events.erase(std::remove_if(m_events.begin(), m_events.end(),
                                  [deviceId](const Event& e) {
                                      return e.deviceId == deviceId && e.kind != Event::Unsolicited;
                                  }),
                   m_events.end());
}

void Scheduler::clear() {
    m_events.clear();
}

std::optional<Scheduler::Event> Scheduler::takeDue(Clock::time_point now) {
    auto due = m_events.end();
    for (auto it = m_events.begin(); it != m_events.end(); ++it) {
        if (it->at <= now && (due == m_events.end() || it->at < due->at))
            due = it;
    }
    if (due == m_events.end())
        return std::nullopt;
    const Event event = *due;
    m_events.erase(due);
    return event;
}

int Scheduler::waitMs(Clock::time_point now) const {
    if (m_events.empty())
        return -1;
    const auto next = std::min_element(m_events.begin(), m_events.end(), [](const Event& a, const Event& b) {
                          return a.at < b.at;
                      })->at;
    // One more millisecond, so that the sleeper wakes after the event is due rather than just before it.
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
    return int(std::max<qint64>(0, wait.count() + 1));
}

}  // namespace HidSim
