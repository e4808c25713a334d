#pragma once

#include <memory>

#include "base/smarttype.h"

namespace Io {

// Process-wide state of the HID library and the one lock under which every HID call of the program runs.
class IIoContext : public Utils::SmartType<IIoContext> {
public:
    // Holds the lock for as long as it lives.
    class LockHolder {
    public:
        virtual ~LockHolder() = default;
    };
    using Lock = std::unique_ptr<LockHolder>;

    virtual ~IIoContext() = default;

    [[nodiscard]] virtual bool isInitialized() const = 0;
    // Blocks until the lock is free; the same thread may take it again.
    [[nodiscard]] virtual Lock lock() = 0;
    // An empty holder, at once, when another thread holds the lock.
    [[nodiscard]] virtual Lock tryLock() = 0;
};

}  // namespace Io
