#include "mediator/updateworker.h"

#include <QThread>
#include <memory>

#include <QDir>

#include "base/logging.h"
#include "dfu/iupdater.h"
#include "mediator/firmwareimage.h"
#include "mediator/firmwaresession.h"
#include "mediator/knowndevicetable.h"
#include "mediator/stagedimage.h"

namespace UIMediator {

namespace {

void pause(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}

}  // namespace

UpdateWorker::UpdateWorker(FirmwareSession& session, DeviceType type, const Io::DeviceId& update_mode_id,
                           const QString& serial_number, const QString& firmware_path)
    : m_session(&session),
      m_type(type),
      m_updateModeId(update_mode_id),
      m_serialNumber(serial_number),
      m_firmwarePath(firmware_path),
      m_timings(session.timings()) {}

void UpdateWorker::operator()() const {
    FirmwareSession& session = *m_session;
    const QString device = KnownDeviceTable::describe(m_type, m_serialNumber);
    const QString source = m_firmwarePath.isEmpty()
                               ? FirmwareImage::find(m_updateModeId, FirmwareImage::searchDirectories())
                               : m_firmwarePath;

    // Declared before the updater, so the engine lets go of the copy before the copy is removed.
    StagedImage image;
    if (!image.stage(source)) {
        qCWarning(lcFirmware).noquote()
            << "update of" << device << "failed: image" << QDir::toNativeSeparators(source)
            << "not staged:" << image.errorString();
        session.storeStatus(Status::FileError);
        return;
    }
    qCInfo(lcFirmware).noquote() << "update of" << device << "started with"
                                 << QDir::toNativeSeparators(source);

    if (!session.waitForDevice(m_updateModeId, m_serialNumber, m_timings.deviceWaitMs)) {
        qCWarning(lcFirmware).noquote() << "update of" << device << "timed out:" << m_updateModeId.toString()
                                        << "did not appear within" << m_timings.deviceWaitMs << "ms";
        session.storeStatus(Status::Timeout);
        return;
    }

    // The system needs a moment to bind the update-mode device to its driver before the engine can use it.
    pause(m_timings.driverPauseMs);
    if (session.isDriverInstalled(m_updateModeId)) {
        pause(m_timings.driverPauseMs);
    } else if (!session.waitForDevice(m_updateModeId, m_serialNumber, 0)) {
        qCWarning(lcFirmware).noquote()
            << "update of" << device << "failed: no driver for the update mode and the device left the bus";
        session.storeStatus(Status::Failed);
        return;
    }

    if (session.status() == Status::Canceled)
        return;

    const std::unique_ptr<DFU::IUpdater> updater = session.createUpdater();
    // The adapter says why the engine refused.
    if (!updater || !updater->connect(m_updateModeId) || !updater->upgrade(image.fileName())) {
        if (!updater)
            qCWarning(lcFirmware).noquote() << "update of" << device << "failed: no engine adapter";
        session.storeStatus(Status::Failed);
        return;
    }

    // A cancel that came while the engine took the image ends the update here; letting go of the updater
    // stops the transfer as a cancel in the loop below would.
    if (!session.storeAndSignalUpdateStatus(Status::Updating, m_type))
        return;

    if (!followTransfer(*updater))
        return;

    if (!updater->resetDevice()) {
        session.storeStatus(Status::Failed);
        return;
    }
    qCInfo(lcFirmware).noquote() << device << "written and verified, restarting";
    session.signalUpdateStatus(Status::Rebooting, m_type);

    const Io::DeviceId normal_mode_id = KnownDeviceTable::normalModeId(m_updateModeId, 0);
    if (!session.waitForDevice(normal_mode_id, m_serialNumber, m_timings.deviceWaitMs)) {
        qCWarning(lcFirmware).noquote() << "update of" << device << "timed out:" << normal_mode_id.toString()
                                        << "did not come back within" << m_timings.deviceWaitMs << "ms";
        session.storeStatus(Status::Timeout);
        return;
    }
    qCInfo(lcFirmware).noquote() << device << "back after restart";
    (void)session.sendPostUpdateCommand(normal_mode_id, m_serialNumber);
    session.storeStatus(Status::Finished);
    qCInfo(lcFirmware).noquote() << "update of" << device << "finished";
}

bool UpdateWorker::followTransfer(DFU::IUpdater& updater) const {
    FirmwareSession& session = *m_session;
    quint8 last = 0;
    for (;;) {
        quint8 percent = 0;
        if (!updater.getProgress(percent)) {
            session.storeStatus(Status::Failed);
            break;
        }
        if (percent != last) {
            last = percent;
            qCDebug(lcFirmware) << "transfer at" << percent << "%";
            session.signalProgress(percent, m_type);
        }
        if (percent == 100)
            break;
        pause(m_timings.progressPollMs);
        const Status status = session.status();
        if (status == Status::Failed || status == Status::Canceled)
            break;
    }
    const Status after_transfer = session.status();
    return after_transfer != Status::Failed && after_transfer != Status::Canceled;
}

}  // namespace UIMediator
