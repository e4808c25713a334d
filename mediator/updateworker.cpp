#include "mediator/updateworker.h"

#include <QThread>
#include <memory>

#include "dfu/iupdater.h"
#include "mediator/knowndevicetable.h"
#include "mediator/stagedimage.h"

namespace UIMediator {

namespace {

void pause(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}

}  // namespace

UpdateWorker::UpdateWorker(UIFirmwareUpdateMediator& mediator, DeviceType type,
                           const Io::DeviceId& update_mode_id, const QString& serial_number,
                           const QString& firmware_path, const UIFirmwareUpdateMediator::Timings& timings)
    : m_mediator(&mediator),
      m_type(type),
      m_updateModeId(update_mode_id),
      m_serialNumber(serial_number),
      m_firmwarePath(firmware_path),
      m_timings(timings) {}

void UpdateWorker::operator()() const {
    run();
}

void UpdateWorker::run() const {
    UIFirmwareUpdateMediator& mediator = *m_mediator;
    const QString source = m_firmwarePath.isEmpty() ? mediator.firmwarePath(m_updateModeId) : m_firmwarePath;

    // Declared before the updater, so the engine lets go of the copy before the copy is removed.
    StagedImage image;
    if (!image.stage(source)) {
        mediator.storeStatus(Status::FileError);
        return;
    }

    if (!mediator.waitForDevice(m_updateModeId, m_serialNumber, m_timings.deviceWaitMs)) {
        mediator.storeStatus(Status::Timeout);
        return;
    }

    // The system needs a moment to bind the update-mode device to its driver before the engine can use it.
    pause(m_timings.driverPauseMs);
    if (mediator.isDriverInstalled(m_updateModeId)) {
        pause(m_timings.driverPauseMs);
    } else if (!mediator.waitForDevice(m_updateModeId, m_serialNumber, 0)) {
        mediator.storeStatus(Status::Failed);
        return;
    }

    if (mediator.loadStatus() == Status::Canceled)
        return;

    const std::unique_ptr<DFU::IUpdater> updater(mediator.createUpdater());
    if (!updater || !updater->connect(m_updateModeId) || !updater->upgrade(image.fileName())) {
        mediator.storeStatus(Status::Failed);
        return;
    }

    (void)mediator.storeStatusUnlessCanceled(Status::Updating);
    emit mediator.updateStatusChanged(Status::Updating, m_type);

    quint8 last = 0;
    for (;;) {
        quint8 percent = 0;
        if (!updater->getProgress(percent)) {
            mediator.storeStatus(Status::Failed);
            break;
        }
        if (percent != last) {
            last = percent;
            emit mediator.updateProgressChanged(percent, m_type);
        }
        if (percent == 100)
            break;
        pause(m_timings.progressPollMs);
        const Status status = mediator.loadStatus();
        if (status == Status::Failed || status == Status::Canceled)
            break;
    }
    const Status after_transfer = mediator.loadStatus();
    if (after_transfer == Status::Failed || after_transfer == Status::Canceled)
        return;

    if (!updater->resetDevice()) {
        mediator.storeStatus(Status::Failed);
        return;
    }
    emit mediator.updateStatusChanged(Status::Rebooting, m_type);

    const Io::DeviceId normal_mode_id = KnownDeviceTable::normalModeId(m_updateModeId, 0);
    if (!mediator.waitForDevice(normal_mode_id, m_serialNumber, m_timings.deviceWaitMs)) {
        mediator.storeStatus(Status::Timeout);
        return;
    }
    (void)mediator.sendPostUpdateCommand(normal_mode_id, m_serialNumber);
    mediator.storeStatus(Status::Finished);
}

}  // namespace UIMediator
