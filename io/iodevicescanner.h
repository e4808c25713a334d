#pragma once

#include <QObject>
#include <QVector>
#include <functional>
#include <memory>

#include "base/smarttype.h"
#include "io/iiocontext.h"
#include "io/iodeviceinfo.h"

class QTimer;

namespace Io {

// Folds the HID interfaces on the bus into one record per physical device (vendor, product, serial number).
class IoDeviceScanner : public QObject, public Utils::SmartType<IoDeviceScanner> {
    Q_OBJECT

public:
    using Predicate = std::function<bool(const IoDeviceInfo&)>;

    explicit IoDeviceScanner(IIoContext::Shared context, QObject* parent = nullptr);
    ~IoDeviceScanner() override;

    // Callable from any thread; waits while another thread holds the HID lock. The records of previous (a
    // caller's earlier result) that still describe a device exactly are shared rather than built again.
    [[nodiscard]] IoDeviceInfoList scan(const IoDeviceInfoList& previous = {});

    [[nodiscard]] static IoDeviceInfoList filter(const IoDeviceInfoList& list, const Predicate& predicate);
    // Keeps the entries with a path for at least one of the ids.
    [[nodiscard]] static IoDeviceInfoList filterByIds(const IoDeviceInfoList& list,
                                                      const QVector<DeviceId>& ids);
    [[nodiscard]] static IoDeviceInfoList filterBySerialNumber(const IoDeviceInfoList& list,
                                                               const QString& serial_number);

signals:
    void detected(Io::IoDeviceInfoList device_info_list);

private:
    struct Work;

    IIoContext::Shared m_context;
    // Nothing starts it: every scan is a direct call. It is kept stopped, ready for a periodic mode.
    std::unique_ptr<QTimer> m_timer;
    // Under the HID lock: the scratch of a scan, empty between scans.
    std::unique_ptr<Work> m_work;
};

}  // namespace Io
