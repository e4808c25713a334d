#include "mediator/repairworker.h"

#include <QThread>

#include "io/devicereply.h"
#include "io/devicereports.h"
#include "io/hiddevice.h"

namespace UIMediator {

RepairWorker::RepairWorker(UIFirmwareUpdateMediator& mediator, DeviceType type,
                           const Io::DeviceId& normal_mode_id, const QByteArray& path,
                           const QString& serial_number, const UIFirmwareUpdateMediator::Timings& timings)
    : m_mediator(&mediator),
      m_type(type),
      m_normalModeId(normal_mode_id),
      m_path(path),
      m_serialNumber(serial_number),
      m_timings(timings) {}

void RepairWorker::operator()() const {
    UIFirmwareUpdateMediator& mediator = *m_mediator;
    Io::HIDDevice device(mediator.m_context, m_normalModeId, m_path);
    if (!Io::DeviceReports::startRepair(device)) {
        mediator.storeStatus(Status::DeviceError);
        return;
    }
    (void)mediator.storeStatusUnlessCanceled(Status::Repairing);
    emit mediator.repairStatusChanged(Status::Repairing, m_type);

    for (;;) {
        const std::optional<quint8> state = Io::DeviceReports::pollRepair(device);
        if (!state) {
            mediator.storeStatus(Status::DeviceError);
        } else {
            switch (Io::DeviceReply::repairProgress(*state)) {
                case Io::DeviceReply::RepairProgress::Failed:
                    mediator.storeStatus(Status::Failed);
                    break;
                case Io::DeviceReply::RepairProgress::Finished:
                    mediator.storeStatus(Status::Finished);
                    break;
                case Io::DeviceReply::RepairProgress::Pending:
                    QThread::msleep(static_cast<unsigned long>(m_timings.repairPollMs));
                    break;
            }
        }
        const Status status = mediator.loadStatus();
        if (status == Status::DeviceError || status == Status::Failed || status == Status::Canceled ||
            status == Status::Finished) {
            break;
        }
    }

    const Status final_status = mediator.loadStatus();
    if (final_status == Status::Failed || final_status == Status::Canceled) {
        // The receiver's second interface takes the end command; this one must be free first.
        device.close();
        (void)mediator.sendRepairEndCommand(m_normalModeId, m_serialNumber);
    }
}

}  // namespace UIMediator
