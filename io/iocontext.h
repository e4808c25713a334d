#pragma once

#include <mutex>

#include "base/nocopyable.h"
#include "io/iiocontext.h"

namespace Io {

class IoContext final : public IIoContext, private Utils::NoCopyable {
public:
    IoContext();
    ~IoContext() override;

    [[nodiscard]] bool isInitialized() const override;
    [[nodiscard]] Lock lock() override;
    [[nodiscard]] Lock tryLock() override;

private:
    bool m_initialized = false;
    // Recursive, so that a scan and a device used on the same thread do not dead-lock.
    std::recursive_mutex m_mutex;
};

}  // namespace Io
