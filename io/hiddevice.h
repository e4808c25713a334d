#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>

#include "io/iiocontext.h"
#include "io/iiodevice.h"

struct hid_device_;

namespace Io {

// A device lives for one exchange on one thread; it closes itself when destroyed.
class HIDDevice final : public IIoDevice {
public:
    HIDDevice(IIoContext::Shared context, const DeviceId& id, const QByteArray& path);
    ~HIDDevice() override;

    HIDDevice(const HIDDevice&) = delete;
    HIDDevice& operator=(const HIDDevice&) = delete;

    int sendFeatureReport(const unsigned char* data, std::size_t length) override;
    int getFeatureReport(unsigned char* data, std::size_t length) override;
    int read(unsigned char* data, std::size_t length, int timeout_ms) override;
    int write(const unsigned char* data, std::size_t length) override;
    int discardInput(std::size_t length) override;
    bool setNonBlocking(bool enabled) override;
    [[nodiscard]] DeviceId id() const override;
    [[nodiscard]] Status status() const override;
    [[nodiscard]] bool isValid() const override;
    [[nodiscard]] bool isOpen() const override;
    bool open() override;
    bool close() override;

    static constexpr int kDiscardTimeoutMs = 1000;

    // From now on a read waits for its report outside the HID lock, looking for it every slice_ms, so that
    // the scans and exchanges of other threads are not held up behind a device that is slow to answer. A
    // wait also ends, as a time-out, once *give_up is set. 0 (the default) waits under the lock.
    void waitOutsideLock(int slice_ms, const std::atomic<bool>* give_up = nullptr);

    // Why the last open, read or write failed, as hidapi put it; for the log.
    [[nodiscard]] QString errorString() const { return m_error; }

private:
    // statusChanged is emitted only after the lock is released, so that a listener may talk to HID itself
    // or wait for a thread that does.
    template <typename Call>
    auto locked(Call call) {
        const auto lock = m_context->lock();
        return call();
    }
    void setStatus(Status status);
    // Reads and feature reads share the rule: one byte or more is success.
    int finishRead(int result);
    int finishWrite(int result);
    void noteError(const char* what, int result);

    IIoContext::Shared m_context;
    DeviceId m_id;
    QByteArray m_path;
    hid_device_* m_handle = nullptr;
    Status m_status = NoError;
    int m_sliceMs = 0;
    const std::atomic<bool>* m_giveUp = nullptr;
    QString m_error;
};

}  // namespace Io
