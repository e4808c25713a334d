#include "io/hiddevice.h"

#include <hidapi.h>
#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>
#include <utility>
#include <vector>

#include "base/logging.h"

namespace Io {

HIDDevice::HIDDevice(IIoContext::Shared context, const DeviceId& id, const QByteArray& path)
    : m_context(std::move(context)), m_id(id), m_path(path) {}

HIDDevice::~HIDDevice() {
    if (m_handle != nullptr) {
        const auto lock = m_context->lock();
        hid_close(m_handle);
    }
}

int HIDDevice::sendFeatureReport(const unsigned char* data, std::size_t length) {
    if (!isOpen()) {
        return -1;
    }
    return finishWrite(locked([&] { return hid_send_feature_report(m_handle, data, length); }));
}

int HIDDevice::getFeatureReport(unsigned char* data, std::size_t length) {
    if (!isOpen()) {
        return -1;
    }
    return finishRead(locked([&] { return hid_get_feature_report(m_handle, data, length); }));
}

int HIDDevice::read(unsigned char* data, std::size_t length, int timeout_ms) {
    if (!isOpen()) {
        return -1;
    }
    if (m_sliceMs <= 0 || timeout_ms == 0) {
        // The lock stays held while the read waits, so a scan or another exchange cannot slip in between.
        return finishRead(locked([&] { return hid_read_timeout(m_handle, data, length, timeout_ms); }));
    }
    // The report waits in the handle's own input buffer meanwhile, so nothing is lost between two looks.
    // Sleeping rather than waiting under the lock matters: a thread that let go of the lock and took it
    // straight back would starve the others, as the mutex hands it to no one in particular.
    const QDeadlineTimer deadline(timeout_ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                 : QDeadlineTimer(timeout_ms));
    for (;;) {
        const int result = locked([&] { return hid_read_timeout(m_handle, data, length, 0); });
        if (result != 0 || deadline.hasExpired() || (m_giveUp != nullptr && m_giveUp->load())) {
            return finishRead(result);
        }
        const qint64 left = deadline.remainingTime();
        QThread::msleep(static_cast<unsigned long>(left < 0 ? m_sliceMs : std::min<qint64>(m_sliceMs, left)));
    }
}

void HIDDevice::waitOutsideLock(int slice_ms, const std::atomic<bool>* give_up) {
    m_sliceMs = slice_ms;
    m_giveUp = give_up;
}

int HIDDevice::write(const unsigned char* data, std::size_t length) {
    if (!isOpen()) {
        return -1;
    }
    return finishWrite(locked([&] { return hid_write(m_handle, data, length); }));
}

int HIDDevice::discardInput(std::size_t length) {
    if (!isOpen()) {
        return -1;
    }
    std::vector<unsigned char> scratch(length);
    return finishRead(locked(
        [&] { return hid_read_timeout(m_handle, scratch.data(), scratch.size(), kDiscardTimeoutMs); }));
}

bool HIDDevice::setNonBlocking(bool enabled) {
    if (!isOpen()) {
        return false;
    }
    return locked([&] { return hid_set_nonblocking(m_handle, enabled ? 1 : 0); }) == 0;
}

DeviceId HIDDevice::id() const {
    return m_id;
}

IIoDevice::Status HIDDevice::status() const {
    return m_status;
}

bool HIDDevice::isValid() const {
    return m_context && m_context->isInitialized() && m_id.isValid() && !m_path.isEmpty();
}

bool HIDDevice::isOpen() const {
    return m_handle != nullptr;
}

bool HIDDevice::open() {
    if (isOpen()) {
        return false;
    }
    // Without a started library there is nothing to open, and a missing context cannot even be locked.
    if (m_context && m_context->isInitialized()) {
        m_handle = locked([&] {
            hid_device_* handle = hid_open_path(m_path.constData());
            if (handle == nullptr) {
                const wchar_t* why = hid_error(nullptr);
                m_error = QStringLiteral("open failed: ") +
                          (why != nullptr ? QString::fromWCharArray(why) : QStringLiteral("no reason given"));
            }
            return handle;
        });
    } else {
        m_error = QStringLiteral("open failed: the HID library is not started");
    }
    setStatus(m_handle != nullptr ? NoError : OpenError);
    return m_status == NoError;
}

bool HIDDevice::close() {
    if (!isOpen()) {
        return false;
    }
    locked([&] { hid_close(m_handle); });
    m_handle = nullptr;
    return true;
}

void HIDDevice::setStatus(Status status) {
    if (m_status == status) {
        return;
    }
    m_status = status;
    emit statusChanged();
}

int HIDDevice::finishRead(int result) {
    if (result >= 1) {
        qCDebug(lcIo).noquote() << m_id.toString() << "read" << result << "bytes";
    } else {
        noteError("read", result);
    }
    setStatus(result >= 1 ? NoError : ReadError);
    return result;
}

int HIDDevice::finishWrite(int result) {
    if (result >= 1) {
        qCDebug(lcIo).noquote() << m_id.toString() << "wrote" << result << "bytes";
    } else {
        noteError("write", result);
    }
    setStatus(result >= 1 ? NoError : WriteError);
    return result;
}

void HIDDevice::noteError(const char* what, int result) {
    if (result == 0) {
        m_error = QLatin1String(what) + QStringLiteral(": no report in time");
        return;
    }
    const wchar_t* why = isOpen() ? locked([&] { return hid_error(m_handle); }) : nullptr;
    m_error = QLatin1String(what) + QStringLiteral(" failed: ") +
              (why != nullptr ? QString::fromWCharArray(why) : QStringLiteral("no reason given"));
}

}  // namespace Io
