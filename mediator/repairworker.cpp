#include "mediator/repairworker.h"

#include <QThread>
#include <memory>

#include "io/devicereply.h"
#include "io/devicereports.h"
#include "mediator/firmwaresession.h"

namespace UIMediator {

RepairWorker::RepairWorker(FirmwareSession& session, DeviceType type, const Io::DeviceId& normal_mode_id,
                           const QByteArray& path, const QString& serial_number)
    : m_session(&session),
      m_type(type),
      m_normalModeId(normal_mode_id),
      m_path(path),
      m_serialNumber(serial_number),
      m_timings(session.timings()) {}

void RepairWorker::operator()() const {
    FirmwareSession& session = *m_session;
    const std::unique_ptr<Io::IIoDevice> device = session.device(m_normalModeId, m_path);
    if (!Io::DeviceReports::startRepair(*device)) {
        session.storeStatus(Status::DeviceError);
        return;
    }
    // Cancelled before the receiver was followed: the pairing it started is ended below like any other.
    const bool repairing = session.storeAndSignalRepairStatus(Status::Repairing, m_type);
    while (repairing) {
        const std::optional<quint8> state = Io::DeviceReports::pollRepair(*device);
        if (!state) {
            session.storeStatus(Status::DeviceError);
        } else {
            switch (Io::DeviceReply::repairProgress(*state)) {
                case Io::DeviceReply::RepairProgress::Failed:
                    session.storeStatus(Status::Failed);
                    break;
                case Io::DeviceReply::RepairProgress::Finished:
                    session.storeStatus(Status::Finished);
                    break;
                case Io::DeviceReply::RepairProgress::Pending:
                    QThread::msleep(static_cast<unsigned long>(m_timings.repairPollMs));
                    break;
            }
        }
        const Status status = session.status();
        if (status == Status::DeviceError || status == Status::Failed || status == Status::Canceled ||
            status == Status::Finished) {
            break;
        }
    }

    const Status final_status = session.status();
    if (final_status == Status::Failed || final_status == Status::Canceled) {
        // The receiver's second interface takes the end command; this one must be free first.
        device->close();
        (void)session.sendRepairEndCommand(m_normalModeId, m_serialNumber);
    }
}

}  // namespace UIMediator
