#pragma once

#include <QMetaType>
#include <QObject>
#include <cstddef>

#include "base/smarttype.h"
#include "io/deviceid.h"

namespace Io {

// One HID interface that can be opened to exchange reports. Buffers follow hidapi: the first byte written
// is the report id, and counts are numbers of bytes or -1.
class IIoDevice : public QObject, public Utils::SmartType<IIoDevice> {
    Q_OBJECT

public:
    enum Status : quint8 {
        NoError = 0,
        ReadError = 1,
        WriteError = 2,
        OpenError = 3,
    };
    Q_ENUM(Status)

    using QObject::QObject;
    ~IIoDevice() override = default;

    virtual int sendFeatureReport(const unsigned char* data, std::size_t length) = 0;
    virtual int getFeatureReport(unsigned char* data, std::size_t length) = 0;
    // 0 when nothing arrived within the time-out.
    virtual int read(unsigned char* data, std::size_t length, int timeout_ms) = 0;
    virtual int write(const unsigned char* data, std::size_t length) = 0;
    // Reads one pending input report of at most length bytes and throws it away.
    virtual int discardInput(std::size_t length) = 0;
    virtual bool setNonBlocking(bool enabled) = 0;
    [[nodiscard]] virtual DeviceId id() const = 0;
    [[nodiscard]] virtual Status status() const = 0;
    [[nodiscard]] virtual bool isValid() const = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;
    virtual bool open() = 0;
    virtual bool close() = 0;

signals:
    void statusChanged();
};

}  // namespace Io

Q_DECLARE_METATYPE(Io::IIoDevice::Shared)
