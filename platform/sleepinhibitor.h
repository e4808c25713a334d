#pragma once

#include "base/nocopyable.h"

namespace Platform {

// Keeps the system from sleeping on request. Windows: the calling thread's execution state. Linux: a
// logind "sleep:idle" block inhibitor on the system bus, held as long as its descriptor stays open.
class SleepInhibitor : public Utils::NoCopyable {
public:
    SleepInhibitor() = default;
    ~SleepInhibitor();

    // false: sleep is held off until a call with true or the end of the process. Returns whether the
    // system accepted the request.
    bool setSleepEnabled(bool enabled);

    [[nodiscard]] bool isInhibiting() const { return m_handle >= 0; }

private:
    int m_handle = -1;
};

}  // namespace Platform
