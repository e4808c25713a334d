#include "mediator/repairworker.h"

#include <QThread>
#include <memory>

#include "base/logging.h"
#include "io/devicereply.h"
#include "io/devicereports.h"
#include "mediator/firmwaresession.h"
#include "mediator/knowndevicetable.h"

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
    const QString name = KnownDeviceTable::describe(m_type, m_serialNumber);
    const std::unique_ptr<Io::IIoDevice> device = session.device(m_normalModeId, m_path);
    if (!Io::DeviceReports::startRepair(*device)) {
        qCWarning(lcFirmware).noquote()
            << "repair of" << name << "failed: the start reports to" << m_path
            << (device->isOpen() ? "were not taken" : "could not be sent, no open");
        session.storeStatus(Status::DeviceError);
        return;
    }
    qCInfo(lcFirmware).noquote() << "repair of" << name << "started";
    // Cancelled before the receiver was followed: the pairing it started is ended below like any other.
    const bool repairing = session.storeAndSignalRepairStatus(Status::Repairing, m_type);
    while (repairing) {
        const std::optional<quint8> state = Io::DeviceReports::pollRepair(*device);
        if (!state) {
            qCWarning(lcFirmware).noquote() << "repair of" << name << "failed: no answer to the state poll";
            session.storeStatus(Status::DeviceError);
        } else {
            switch (Io::DeviceReply::repairProgress(*state)) {
                case Io::DeviceReply::RepairProgress::Failed:
                    qCWarning(lcFirmware).noquote()
                        << "repair of" << name << "failed: the receiver reported state"
                        << QStringLiteral("0x%1").arg(*state, 2, 16, QLatin1Char('0'));
                    session.storeStatus(Status::Failed);
                    break;
                case Io::DeviceReply::RepairProgress::Finished:
                    qCInfo(lcFirmware).noquote() << "repair of" << name << "finished";
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
