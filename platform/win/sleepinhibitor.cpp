#include "platform/sleepinhibitor.h"

#include <windows.h>

#include "base/logging.h"

namespace Platform {

namespace {
// Spelt out so that older SDK headers without ES_AWAYMODE_REQUIRED give the same request.
constexpr EXECUTION_STATE kContinuous = 0x80000000;
constexpr EXECUTION_STATE kSystemRequired = 0x00000001;
constexpr EXECUTION_STATE kAwayModeRequired = 0x00000040;
}  // namespace

SleepInhibitor::~SleepInhibitor() = default;

bool SleepInhibitor::setSleepEnabled(bool enabled) {
    // The execution state belongs to the calling thread and is dropped when the process ends.
    const EXECUTION_STATE state = enabled ? kContinuous : (kContinuous | kSystemRequired | kAwayModeRequired);
    const bool accepted = ::SetThreadExecutionState(state) != 0;
    if (accepted) {
        m_handle = enabled ? -1 : 0;
    } else {
        qCWarning(lcPlatform) << (enabled ? "allowing sleep again" : "holding off sleep")
                              << "failed: SetThreadExecutionState, error" << ::GetLastError();
    }
    return accepted;
}

}  // namespace Platform
