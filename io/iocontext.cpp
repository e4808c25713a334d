#include "io/iocontext.h"

#include <hidapi.h>

#include "base/logging.h"

namespace Io {

namespace {

class MutexHolder final : public IIoContext::LockHolder {
public:
    // Takes over a mutex that the caller has already locked.
    explicit MutexHolder(std::recursive_mutex& mutex) : m_mutex(mutex) {}
    ~MutexHolder() override { m_mutex.unlock(); }

    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;

private:
    std::recursive_mutex& m_mutex;
};

}  // namespace

IoContext::IoContext() {
    const std::lock_guard<std::recursive_mutex> guard(m_mutex);
    m_initialized = hid_init() == 0;
    if (!m_initialized) {
        const wchar_t* why = hid_error(nullptr);
        qCWarning(lcIo).noquote() << "no device can be reached: starting the HID library failed:"
                                  << (why != nullptr ? QString::fromWCharArray(why)
                                                     : QStringLiteral("no reason given"));
    }
}

IoContext::~IoContext() {
    const std::lock_guard<std::recursive_mutex> guard(m_mutex);
    if (m_initialized) {
        hid_exit();
    }
}

bool IoContext::isInitialized() const {
    return m_initialized;
}

IIoContext::Lock IoContext::lock() {
    m_mutex.lock();
    return std::make_unique<MutexHolder>(m_mutex);
}

IIoContext::Lock IoContext::tryLock() {
    if (!m_mutex.try_lock()) {
        return nullptr;
    }
    return std::make_unique<MutexHolder>(m_mutex);
}

}  // namespace Io
