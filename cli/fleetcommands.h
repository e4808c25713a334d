#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>

#include "io/version.h"
#include "mediator/devicerules.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "updater/updaterecord.h"

namespace Updater {
class UpdateDownloader;
}

namespace Cli {

class Output;

// The commands, on the window's own mediator and downloader: the same device rules, the same image check
// before the device is switched, the same worker and the same final states.
class FleetCommands : public QObject {
    Q_OBJECT

public:
    using Mediator = UIMediator::UIFirmwareUpdateMediator;
    using Rules = UIMediator::DeviceRules;

    // No download takes longer on a working line; one that does is counted as a failure of the service.
    static constexpr int kDownloadTimeoutMs = 10 * 60 * 1000;

    FleetCommands(Mediator& mediator, Output& output, QObject* parent = nullptr);
    ~FleetCommands() override;

    // Each ends with finished(); call them from the event loop.
    void list();
    void check(bool download);
    void update(const QString& target, const QString& file);
    void repair(const QString& target);

signals:
    void finished(int code);

private:
    struct Reading {
        Rules::Device device;
        Global::Version firmware;
        Global::Version revision;
    };
    enum class Fetched { File, UpToDate, NoOffer, Failed };
    using FetchDone = std::function<void(Fetched, const Updater::UpdateRecord::Shared&)>;

    Reading read(const Rules::Device& device);
    QVector<Reading> readAll();
    // Ends the command when the target names no device or more than one.
    bool select(const QString& target, bool receiver, Rules::Device* device);
    bool claim();
    void checkNext();
    void fetch(const Reading& reading, const FetchDone& done);
    void flash(const Reading& reading, const QString& path);
    void onUpdateStatus(Mediator::Status status);
    void onRepairStatus(Mediator::Status status);
    // Writes a final state of an update or a repair; false, with the command ended as failed, unless it
    // finished.
    bool reportFinal(Mediator::Status status, const QString& operation);
    void end(int code);

    Mediator& m_mediator;
    Output& m_output;
    QNetworkAccessManager m_network;
    std::unique_ptr<Updater::UpdateDownloader> m_downloader;
    QVector<Reading> m_pending;
    QJsonArray m_results;
    QString m_serial;
    int m_checkCode = 0;
    bool m_download = false;
    bool m_ended = false;
};

}  // namespace Cli
