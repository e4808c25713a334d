#include "tests/support/firmwareharness.h"

#include <QSignalSpy>
#include <QTest>

#include "sim/dfufaults.h"
#include "tests/support/simbus.h"

SignalRecorder::SignalRecorder(Mediator& mediator) {
    follow(&mediator, &Mediator::updateProgressChanged, Progress);
    follow(&mediator, &Mediator::updateStatusChanged, Update);
    follow(&mediator, &Mediator::repairStatusChanged, Repair);
    connect(this, &StatusRecorder::recorded, this, [this](int source, int value) {
        if (source != Progress)
            emit statusSeen(static_cast<Status>(value));
    });

    const auto note = [this, &mediator](Status status) {
        if (status != Status::Started && !isFinal(status) && mediator.getLastStatus() == Status::Canceled)
            ++m_emittedAfterCancel;
    };
    connect(
        &mediator, &Mediator::updateProgressChanged, this, [note] { note(Status::Updating); },
        Qt::DirectConnection);
    connect(&mediator, &Mediator::updateStatusChanged, this, note, Qt::DirectConnection);
    connect(&mediator, &Mediator::repairStatusChanged, this, note, Qt::DirectConnection);
}

QVector<Status> SignalRecorder::statuses() const {
    QVector<Status> result;
    for (const Event& event : events()) {
        if (event.source != Progress)
            result.append(static_cast<Status>(event.value));
    }
    return result;
}

bool SignalRecorder::isFinal(Status status) {
    switch (status) {
        case Status::Finished:
        case Status::Canceled:
        case Status::Timeout:
        case Status::Failed:
        case Status::DeviceError:
        case Status::FileError:
            return true;
        default:
            return false;
    }
}

bool SignalRecorder::ended() const {
    const QVector<Status> all = statuses();
    return !all.isEmpty() && isFinal(all.last());
}

Status SignalRecorder::finalStatus() const {
    const QVector<Status> all = statuses();
    return ended() ? all.last() : Status::None;
}

QString SignalRecorder::orderProblem() const {
    if (events().isEmpty())
        return QStringLiteral("no signals");
    const Event& first = events().first();
    if (first.source == Progress || static_cast<Status>(first.value) != Status::Started)
        return QStringLiteral("first signal is not Started");
    const Event& last = events().last();
    if (last.source == Progress || !isFinal(static_cast<Status>(last.value)))
        return QStringLiteral("last signal is not a final status");
    int started = 0;
    int finals = 0;
    for (const Event& event : events()) {
        if (event.source == Progress)
            continue;
        if (event.source != first.source)
            return QStringLiteral("update and repair signals mixed");
        started += static_cast<Status>(event.value) == Status::Started ? 1 : 0;
        finals += isFinal(static_cast<Status>(event.value)) ? 1 : 0;
    }
    if (started != 1 || finals != 1)
        return QStringLiteral("Started %1 times, %2 final statuses").arg(started).arg(finals);
    if (static_cast<Status>(last.value) == Status::Canceled && m_emittedAfterCancel > 0)
        return QStringLiteral("%1 signals emitted after the cancel").arg(m_emittedAfterCancel.load());
    return {};
}

namespace TestSupport {

Mediator::Timings fastMediatorTimings() {
    Mediator::Timings timings;
    timings.deviceWaitMs = 3000;
    timings.driverPauseMs = 20;
    timings.scanPollMs = 10;
    timings.progressPollMs = 10;
    timings.repairPollMs = 10;
    return timings;
}

}  // namespace TestSupport

const QByteArray FirmwareHarness::kHeadsetEnterUpdate = QByteArray::fromHex("00ce020200");
const QByteArray FirmwareHarness::kReceiverEnterUpdate = QByteArray::fromHex("020200");
const QByteArray FirmwareHarness::kPostUpdate = QByteArray::fromHex("00ce022d00");
const QByteArray FirmwareHarness::kRepairEnd = QByteArray::fromHex("03ce022200");
const QByteArray FirmwareHarness::kRepairPoll = QByteArray::fromHex("028000");

FirmwareHarness::FirmwareHarness() {
    HidSim::reset();
    HidSim::clearDfuFaults();
    HidSim::setTimings(TestSupport::fastBusTimings());
    // A receiver image is some twenty thousand reports; the commands before it must stay in the log.
    HidSim::setTrafficLimit(200000);
    m_context = std::make_shared<Io::IoContext>();
    m_scanner = std::make_shared<Io::IoDeviceScanner>(m_context);
    recreate();
}

FirmwareHarness::~FirmwareHarness() {
    destroyMediator();
    HidSim::clearDfuFaults();
    HidSim::reset();
}

void FirmwareHarness::recreate() {
    destroyMediator();
    m_mediator = std::make_unique<Mediator>(m_context, m_scanner);
    m_mediator->setTimings(TestSupport::fastMediatorTimings());
    m_recorder = std::make_unique<SignalRecorder>(*m_mediator);
}

void FirmwareHarness::destroyMediator() {
    m_mediator.reset();
}

int FirmwareHarness::plug(DeviceType type, HidSim::Mode mode, const QString& serial,
                          const QString& firmware) {
    HidSim::DeviceSetup setup =
        TestSupport::device(static_cast<HidSim::DeviceType>(type), serial, firmware, 3, mode);
    setup.link = busLink();
    return HidSim::plug(setup);
}

HidSim::Link FirmwareHarness::busLink() {
    HidSim::Link link;
    if (qEnvironmentVariableIsSet("MELDRA_TEST_STRICT_LINK")) {
        // Late, uneven acknowledgements fill the engine's window; status reports come between replies.
        link.ackLatencyMs = 15;
        link.ackJitterMs = 10;
        link.unsolicitedEveryMs = 5;
    }
    return link;
}

bool FirmwareHarness::waitForEnd(int timeout_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!m_recorder->ended() && clock.elapsed() < timeout_ms)
        QTest::qWait(5);
    return m_recorder->ended();
}

#if defined(__SANITIZE_THREAD__)
// Qt copies a queued signal's arguments on the emitting thread and hands them over through its event
// queue, whose locking lives in the uninstrumented Qt library; the sanitizer sees the copy and the read
// but not the hand-over.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QtMetaTypePrivate::QMetaTypeFunctionHelper\n";
}
#endif
