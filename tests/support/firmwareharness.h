#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <memory>

#include "io/iocontext.h"
#include "io/iodevicescanner.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "sim/hidsim.h"
#include "tests/support/simbus.h"
#include "tests/support/statusrecorder.h"

using Mediator = UIMediator::UIFirmwareUpdateMediator;
using Status = Mediator::Status;
using DeviceType = Mediator::DeviceType;

namespace TestSupport {
// The worker's waits cut to what the simulated bus needs, with room for a loaded machine.
[[nodiscard]] Mediator::Timings fastMediatorTimings();
}  // namespace TestSupport

// The mediator's signals as QML receives them: on the GUI thread, queued from the worker, in order. An
// event's source is its Kind, its subject the DeviceType.
class SignalRecorder : public TestSupport::StatusRecorder {
    Q_OBJECT

public:
    enum Kind { Progress, Update, Repair };

    explicit SignalRecorder(Mediator& mediator);

    [[nodiscard]] QVector<Status> statuses() const;
    [[nodiscard]] QVector<int> progress() const { return values(Progress); }
    // A final status has been signalled.
    [[nodiscard]] bool ended() const;
    [[nodiscard]] Status finalStatus() const;
    // Started exactly once and first, one final status and that last; intermediate ones in between; and
    // when the end is Canceled, no progress or intermediate status emitted once the cancel was stored.
    [[nodiscard]] QString orderProblem() const;
    void clear() {
        StatusRecorder::clear();
        m_emittedAfterCancel = 0;
    }

    static bool isFinal(Status status);

signals:
    void statusSeen(Status status);

private:
    // Counted as the worker emits, where the stored status tells whether a cancel came first.
    std::atomic<int> m_emittedAfterCancel{0};
};

// A mediator on the simulated bus with short waits, and the bus's traffic as the device saw it.
class FirmwareHarness {
public:
    FirmwareHarness();
    ~FirmwareHarness();

    Mediator& mediator() { return *m_mediator; }
    SignalRecorder& recorder() { return *m_recorder; }
    // Rebuilds the mediator, e.g. after destroying it in a test.
    void recreate();
    void destroyMediator();

    // A device of the mediator's type, firmware 1.40.0 unless told otherwise.
    static int plug(DeviceType type, HidSim::Mode mode, const QString& serial,
                    const QString& firmware = QStringLiteral("1.40.0"));
    // The link of every device plug() makes: the quick one, or with MELDRA_TEST_STRICT_LINK set, one as
    // strict as hardware, so that the same rows run on both.
    static HidSim::Link busLink();

    // Waits for the final status; false when none came in time.
    bool waitForEnd(int timeout_ms = 20000);

    static const QByteArray kHeadsetEnterUpdate;
    static const QByteArray kReceiverEnterUpdate;
    static const QByteArray kPostUpdate;
    static const QByteArray kRepairEnd;
    static const QByteArray kRepairPoll;

private:
    std::shared_ptr<Io::IoContext> m_context;
    std::shared_ptr<Io::IoDeviceScanner> m_scanner;
    std::unique_ptr<Mediator> m_mediator;
    std::unique_ptr<SignalRecorder> m_recorder;
};
