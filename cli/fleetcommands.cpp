#include "cli/fleetcommands.h"

#include <QMetaEnum>
#include <QTimer>

#include "base/logging.h"
#include "cli/exitcode.h"
#include "cli/offerquery.h"
#include "cli/output.h"
#include "mediator/firmwareimage.h"
#include "mediator/knowndevicetable.h"
#include "updater/updatedownloader.h"
#include "updater/updatemanager.h"

namespace Cli {

namespace {

using DeviceType = UIMediator::DeviceRules::DeviceType;
using Status = UIMediator::UIFirmwareUpdateMediator::Status;

// The window hands the service its versions as text without the build number; the same offer needs the
// same question.
Global::Version asSent(const Global::Version& version) {
    return Global::Version::fromString(version.toString(QStringLiteral("M.m.p.b"), 10), 10);
}

QString statusName(Status status) {
    return QString::fromLatin1(QMetaEnum::fromType<Status>().valueToKey(int(status)));
}

bool isFinal(Status status) {
    return status != Status::None && status != Status::Started && status != Status::Updating &&
           status != Status::Repairing && status != Status::Rebooting;
}

QString orDash(const QString& text) {
    return text.isEmpty() ? QStringLiteral("-") : text;
}

}  // namespace

FleetCommands::FleetCommands(Mediator& mediator, Output& output, QObject* parent)
    : QObject(parent), m_mediator(mediator), m_output(output) {
    connect(&m_mediator, &Mediator::updateProgressChanged, this,
            [this](int percents) { m_output.progress(QStringLiteral("%1%").arg(percents)); });
    connect(&m_mediator, &Mediator::updateStatusChanged, this, &FleetCommands::onUpdateStatus);
    connect(&m_mediator, &Mediator::repairStatusChanged, this, &FleetCommands::onRepairStatus);
}

FleetCommands::~FleetCommands() = default;

FleetCommands::Reading FleetCommands::read(const Rules::Device& device) {
    return {device, m_mediator.deviceVersion(device), m_mediator.deviceRevision(device)};
}

QVector<FleetCommands::Reading> FleetCommands::readAll() {
    QVector<Reading> readings;
    for (const Rules::Device& device : Rules::known(m_mediator.deviceList(false)))
        readings.append(read(device));
    return readings;
}

void FleetCommands::list() {
    QJsonArray devices;
    m_output.text(QStringLiteral("%1 %2 %3 %4 %5 %6")
                      .arg(QStringLiteral("KIND"), -9)
                      .arg(QStringLiteral("MODEL"), -19)
                      .arg(QStringLiteral("SERIAL"), -16)
                      .arg(QStringLiteral("MODE"), -7)
                      .arg(QStringLiteral("FIRMWARE"), -9)
                      .arg(QStringLiteral("REVISION")));
    for (const Reading& reading : readAll()) {
        devices.append(Output::device(reading.device, reading.firmware, reading.revision));
        m_output.text(
            QStringLiteral("%1 %2 %3 %4 %5 %6")
                .arg(Output::kind(reading.device.type), -9)
                .arg(Output::model(reading.device.type), -19)
                .arg(orDash(reading.device.info.serialNumber()), -16)
                .arg(reading.device.updateMode ? QStringLiteral("update") : QStringLiteral("normal"), -7)
                .arg(orDash(Output::version(reading.firmware)), -9)
                .arg(orDash(Output::version(reading.revision))));
    }
    m_output.document().insert(QStringLiteral("devices"), devices);
    end(kSuccess);
}

void FleetCommands::check(bool download) {
    m_download = download;
    m_pending = readAll();
    checkNext();
}

void FleetCommands::checkNext() {
    if (m_pending.isEmpty()) {
        m_output.document().insert(QStringLiteral("devices"), m_results);
        end(m_checkCode);
        return;
    }
    const Reading reading = m_pending.takeFirst();
    const QString name = QStringLiteral("%1 %2").arg(Output::model(reading.device.type),
                                                     orDash(reading.device.info.serialNumber()));
    const auto report = [this, reading, name](const QJsonValue& offer, const QString& outcome, int code) {
        QJsonObject entry = Output::device(reading.device, reading.firmware, reading.revision);
        entry.insert(QStringLiteral("offer"), offer);
        entry.insert(QStringLiteral("outcome"), outcome);
        m_results.append(entry);
        if (code != kSuccess) {
            m_checkCode = code;
            m_output.error(QStringLiteral("%1: %2").arg(name, outcome));
        } else {
            m_output.text(QStringLiteral("%1: %2").arg(name, outcome));
        }
        // From the event loop: a long list must not grow the stack.
        QTimer::singleShot(0, this, &FleetCommands::checkNext);
    };
    // The window asks only about a device whose version it could read, or one waiting in update mode.
    if (!reading.device.updateMode && !reading.firmware.isValid()) {
        report(QJsonValue(), QStringLiteral("firmware version unreadable, not checked"), kSuccess);
        return;
    }
    if (m_download) {
        fetch(reading, [report](Fetched fetched, const Updater::UpdateRecord::Shared& record) {
            switch (fetched) {
                case Fetched::File: {
                    QJsonObject offer;
                    offer.insert(QStringLiteral("version"), Output::version(record->version()));
                    offer.insert(QStringLiteral("path"), record->path());
                    report(offer,
                           QStringLiteral("%1 downloaded to %2")
                               .arg(Output::version(record->version()), record->path()),
                           kSuccess);
                    break;
                }
                case Fetched::UpToDate:
                    report(QJsonValue(), QStringLiteral("up to date"), kSuccess);
                    break;
                case Fetched::NoOffer:
                    report(QJsonValue(), QStringLiteral("no offer"), kSuccess);
                    break;
                case Fetched::Failed:
                    report(QJsonValue(), QStringLiteral("the offer could not be fetched"), kNetwork);
                    break;
            }
        });
        return;
    }
    auto* query = new OfferQuery(m_network, this);
    connect(query, &OfferQuery::answered, this, [query, report](bool ok, const Updater::Offer& offer) {
        query->deleteLater();
        if (!ok) {
            report(QJsonValue(), QStringLiteral("the update service could not be asked"), kNetwork);
        } else if (offer.decision() == Updater::Offer::Decision::Accepted) {
            QJsonObject object;
            object.insert(QStringLiteral("version"), Output::version(offer.version()));
            report(object, QStringLiteral("%1 offered").arg(Output::version(offer.version())), kSuccess);
        } else if (offer.decision() == Updater::Offer::Decision::UpToDate) {
            report(QJsonValue(), QStringLiteral("up to date"), kSuccess);
        } else {
            report(QJsonValue(), QStringLiteral("no offer"), kSuccess);
        }
    });
    query->ask(UIMediator::KnownDeviceTable::familyName(reading.device.type),
               Rules::isReceiver(reading.device.type), asSent(reading.firmware), asSent(reading.revision));
}

void FleetCommands::fetch(const Reading& reading, const FetchDone& done) {
    if (!m_downloader) {
        m_downloader =
            std::make_unique<Updater::UpdateDownloader>(Updater::UpdateManager::defaultDirectory());
        // The window's check of a downloaded image: the device table and the engine judge it.
        m_downloader->setFirmwareCheck(&UIMediator::FirmwareImage::checkDownload);
    }
    // Everything of this one request hangs on the context, so it all goes at once when the request ends.
    auto* context = new QObject(this);
    auto* poll = new QTimer(context);
    auto* deadline = new QTimer(context);
    const auto finish = [context, done](Fetched fetched, const Updater::UpdateRecord::Shared& record) {
        context->disconnect();
        delete context;
        done(fetched, record);
    };
    const QString model = UIMediator::KnownDeviceTable::familyName(reading.device.type);
    const Global::Id id =
        Rules::isReceiver(reading.device.type)
            ? m_downloader->checkReceiverFirmware(model, asSent(reading.firmware), asSent(reading.revision))
            : m_downloader->checkHeadsetFirmware(model, asSent(reading.firmware), asSent(reading.revision));
    connect(m_downloader.get(), &Updater::UpdateDownloader::updateRecordAvaliable, context,
            [id, finish](Global::Id record_id, const Updater::UpdateRecord::Shared& record) {
                if (record_id == id)
                    finish(Fetched::File, record);
            });
    connect(m_downloader.get(), &Updater::UpdateDownloader::updateRecordStatusChanged, context,
            [id, finish](Global::Id status_id, Updater::UpdateDownloader::Status status) {
                if (status_id != id)
                    return;
                if (status == Updater::UpdateDownloader::Status::UpToDate)
                    finish(Fetched::UpToDate, nullptr);
                else if (status == Updater::UpdateDownloader::Status::Failed)
                    finish(Fetched::Failed, nullptr);
            });
    // A reply without a usable offer ends the request without a word; only the empty queue tells.
    connect(poll, &QTimer::timeout, context, [this, finish] {
        if (m_downloader->pendingCount() == 0)
            finish(Fetched::NoOffer, nullptr);
    });
    connect(deadline, &QTimer::timeout, context, [model, finish] {
        qCWarning(lcOnline) << "The firmware offer for" << model << "did not arrive within"
                            << kDownloadTimeoutMs / 1000 << "s";
        finish(Fetched::Failed, nullptr);
    });
    poll->start(100);
    deadline->setSingleShot(true);
    deadline->start(kDownloadTimeoutMs);
}

bool FleetCommands::claim() {
    if (m_mediator.claimDevices())
        return true;
    m_output.error(QStringLiteral("busy: another program is updating or repairing a device"));
    end(kBusy);
    return false;
}

bool FleetCommands::select(const QString& target, bool receiver, Rules::Device* device) {
    const Io::IoDeviceInfoList devices = m_mediator.deviceList(false);
    Rules::Choice choice;
    if (target == QLatin1String("receiver") || (receiver && target == QLatin1String("headset"))) {
        choice = Rules::oneSimilar(devices, DeviceType::SorrelReceiver);
    } else if (target == QLatin1String("headset")) {
        choice = Rules::oneSimilar(devices, DeviceType::SorrelHeadset);
    } else {
        choice = Rules::bySerial(devices, target);
        // The receiver does the pairing: a headset's serial means the receiver it pairs with.
        if (receiver && choice.match == Rules::Match::One && !Rules::isReceiver(choice.devices.first().type))
            choice = Rules::oneSimilar(devices, DeviceType::SorrelReceiver);
    }
    if (choice.match == Rules::Match::One) {
        *device = choice.devices.first();
        m_serial = device->info.serialNumber();
        return true;
    }
    if (choice.match == Rules::Match::None) {
        m_output.error(QStringLiteral("no device matches \"%1\"").arg(target));
        end(kNoDevice);
        return false;
    }
    QStringList serials;
    QJsonArray array;
    for (const Rules::Device& candidate : choice.devices) {
        serials.append(candidate.info.serialNumber());
        array.append(candidate.info.serialNumber());
    }
    m_output.document().insert(QStringLiteral("serials"), array);
    m_output.error(QStringLiteral("more than one device matches \"%1\": %2")
                       .arg(target, serials.join(QStringLiteral(", "))));
    end(kManyDevices);
    return false;
}

void FleetCommands::update(const QString& target, const QString& file) {
    Rules::Device device;
    if (!claim() || !select(target, false, &device))
        return;
    // Judged before any report reaches the device, even a version read.
    if (!file.isEmpty() && !Mediator::acceptsImage(file, Mediator::DeviceType(device.type))) {
        m_output.error(QStringLiteral("%1 is not a firmware image for the %2 %3; nothing was written to it")
                           .arg(file, Output::model(device.type), m_serial));
        end(kFileRefused);
        return;
    }
    const Reading reading = read(device);
    m_output.document().insert(QStringLiteral("device"),
                               Output::device(reading.device, reading.firmware, reading.revision));
    if (!file.isEmpty()) {
        flash(reading, file);
        return;
    }
    if (!reading.device.updateMode && !reading.firmware.isValid()) {
        m_output.error(QStringLiteral("the firmware version of %1 could not be read").arg(m_serial));
        end(kFailed);
        return;
    }
    fetch(reading, [this, reading](Fetched fetched, const Updater::UpdateRecord::Shared& record) {
        switch (fetched) {
            case Fetched::File: {
                QJsonObject offer;
                offer.insert(QStringLiteral("version"), Output::version(record->version()));
                offer.insert(QStringLiteral("path"), record->path());
                m_output.document().insert(QStringLiteral("offer"), offer);
                flash(reading, record->path());
                break;
            }
            case Fetched::UpToDate:
            case Fetched::NoOffer:
                m_output.document().insert(QStringLiteral("offer"), QJsonValue());
                m_output.text(QStringLiteral("%1: nothing to update").arg(m_serial));
                end(kSuccess);
                break;
            case Fetched::Failed:
                m_output.error(
                    QStringLiteral("the firmware offer for %1 could not be fetched").arg(m_serial));
                end(kNetwork);
                break;
        }
    });
}

void FleetCommands::flash(const Reading& reading, const QString& path) {
    const auto type = Mediator::DeviceType(reading.device.type);
    if (!Mediator::acceptsImage(path, type)) {
        m_output.error(QStringLiteral("%1 is not a firmware image for %2; nothing was written to it")
                           .arg(path, m_serial));
        end(kFileRefused);
        return;
    }
    if (!m_mediator.update(type, path)) {
        m_output.error(m_mediator.refusedAsBusy()
                           ? QStringLiteral("busy: another program is updating or repairing a device")
                           : QStringLiteral("%1 did not switch to update mode").arg(m_serial));
        end(m_mediator.refusedAsBusy() ? kBusy : kFailed);
    }
}

void FleetCommands::onUpdateStatus(Mediator::Status status) {
    if (status == Status::Rebooting)
        m_output.progress(QStringLiteral("rebooting"));
    if (!isFinal(status) || !reportFinal(status, QStringLiteral("update")))
        return;
    // The device came back under a new path, so this is a fresh reading of what it now runs.
    Rules::Device device;
    const Rules::Choice choice = Rules::bySerial(m_mediator.deviceList(false), m_serial);
    if (choice.match == Rules::Match::One) {
        device = choice.devices.first();
        const Reading after = read(device);
        m_output.document().insert(QStringLiteral("device"),
                                   Output::device(device, after.firmware, after.revision));
        m_output.text(
            QStringLiteral("%1 updated to %2").arg(m_serial, orDash(Output::version(after.firmware))));
    }
    end(kSuccess);
}

void FleetCommands::repair(const QString& target) {
    Rules::Device device;
    if (!claim() || !select(target, true, &device))
        return;
    m_output.document().insert(QStringLiteral("device"), Output::device(device, {}, {}));
    if (device.updateMode) {
        m_output.error(QStringLiteral("%1 waits in update mode; update it first").arg(m_serial));
        end(kFailed);
        return;
    }
    if (!m_mediator.repair(Mediator::DeviceType(device.type))) {
        m_output.error(m_mediator.refusedAsBusy()
                           ? QStringLiteral("busy: another program is updating or repairing a device")
                           : QStringLiteral("the repair of %1 could not start").arg(m_serial));
        end(m_mediator.refusedAsBusy() ? kBusy : kFailed);
    }
}

void FleetCommands::onRepairStatus(Mediator::Status status) {
    if (status == Status::Repairing)
        m_output.progress(QStringLiteral("pairing: switch the headset on near the receiver"));
    if (!isFinal(status) || !reportFinal(status, QStringLiteral("repair")))
        return;
    m_output.text(QStringLiteral("%1 paired").arg(m_serial));
    end(kSuccess);
}

bool FleetCommands::reportFinal(Mediator::Status status, const QString& operation) {
    m_output.progress(statusName(status));
    m_output.document().insert(QStringLiteral("finalState"), statusName(status));
    if (status == Status::Finished)
        return true;
    m_output.error(
        QStringLiteral("the %1 of %2 ended in state %3").arg(operation, m_serial, statusName(status)));
    end(kFailed);
    return false;
}

void FleetCommands::end(int code) {
    if (m_ended)
        return;
    m_ended = true;
    m_mediator.releaseDevices();
    emit finished(m_output.finish(code));
}

}  // namespace Cli
