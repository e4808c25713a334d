#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

#include "io/hiddevice.h"
#include "io/iocontext.h"
#include "io/iodevicescanner.h"
#include "tests/support/simbus.h"

using Io::HIDDevice;
using Io::IIoDevice;
using Status = Io::IIoDevice::Status;

namespace {

constexpr quint16 kHeadsetPage = 0xffc0;
const Io::DeviceId kHeadsetId(0x46d, 0xa91, kHeadsetPage, 1);
const QByteArray kVersionQuery = QByteArray::fromHex("000100");

enum class Op { Open, Close, Query, Read, ReadLong, SendFeature, GetFeature, Discard, NonBlocking };
using TestSupport::Fault;
using TestSupport::faultsOf;

// The outcome of one operation: a count (its sign is what matters), or a bool as 1 / 0.
enum class Result { Positive, Zero, Negative, True, False };

struct Step {
    Fault fault;
    Op op;
    Result result;
    Status status;
};
using Steps = QVector<Step>;

Result resultOf(Op op, IIoDevice& device) {
    unsigned char buffer[64] = {};
    int count = 0;
    switch (op) {
        case Op::Open:
            return device.open() ? Result::True : Result::False;
        case Op::Close:
            return device.close() ? Result::True : Result::False;
        case Op::NonBlocking:
            return device.setNonBlocking(false) ? Result::True : Result::False;
        case Op::Query:
            count = device.write(reinterpret_cast<const unsigned char*>(kVersionQuery.constData()),
                                 kVersionQuery.size());
            break;
        case Op::Read:
            count = device.read(buffer, sizeof buffer, 30);
            break;
        case Op::ReadLong:
            count = device.read(buffer, sizeof buffer, 1000);
            break;
        case Op::SendFeature:
            count = device.sendFeatureReport(
                reinterpret_cast<const unsigned char*>(kVersionQuery.constData()), kVersionQuery.size());
            break;
        case Op::GetFeature:
            buffer[0] = 0;
            count = device.getFeatureReport(buffer, sizeof buffer);
            break;
        case Op::Discard:
            count = device.discardInput(sizeof buffer);
            break;
    }
    return count > 0 ? Result::Positive : count == 0 ? Result::Zero : Result::Negative;
}

}  // namespace

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Result)

class TstHidDevice : public QObject {
    Q_OBJECT

    Io::IIoContext::Shared m_context;
    int m_headset = 0;

    std::unique_ptr<HIDDevice> headset() const {
        return std::make_unique<HIDDevice>(m_context, kHeadsetId,
                                           TestSupport::pathOf(m_headset, kHeadsetPage));
    }

private slots:
    void initTestCase() {
        m_context = std::make_shared<Io::IoContext>();
        QVERIFY(m_context->isInitialized());
    }

    void init() {
        HidSim::reset();
        m_headset =
            HidSim::plug(TestSupport::device(HidSim::DeviceType::SorrelHeadset, QStringLiteral("H-1")));
        QVERIFY(m_headset > 0);
        QVERIFY(!TestSupport::pathOf(m_headset, kHeadsetPage).isEmpty());
    }

    void validity_data() {
        QTest::addColumn<bool>("withContext");
        QTest::addColumn<Io::DeviceId>("id");
        QTest::addColumn<bool>("withPath");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("opens");
        QTest::newRow("complete") << true << kHeadsetId << true << true << true;
        QTest::newRow("no context") << false << kHeadsetId << true << false << false;
        QTest::newRow("empty path") << true << kHeadsetId << false << false << false;
        // The id only names the interface; the library opens by path.
        QTest::newRow("vendor id zero")
            << true << Io::DeviceId(0, 0xa91, kHeadsetPage, 1) << true << false << true;
    }
    void validity() {
        QFETCH(bool, withContext);
        QFETCH(Io::DeviceId, id);
        QFETCH(bool, withPath);
        QFETCH(bool, valid);
        QFETCH(bool, opens);
        HIDDevice device(withContext ? m_context : nullptr, id,
                         withPath ? TestSupport::pathOf(m_headset, kHeadsetPage) : QByteArray());
        QSignalSpy spy(&device, &IIoDevice::statusChanged);
        QCOMPARE(device.isValid(), valid);
        QCOMPARE(device.id(), id);
        QCOMPARE(device.status(), Status::NoError);
        QCOMPARE(device.open(), opens);
        QCOMPARE(device.isOpen(), opens);
        QCOMPARE(device.status(), opens ? Status::NoError : Status::OpenError);
        QCOMPARE(spy.count(), opens ? 0 : 1);
    }

    void statusTransitions_data() {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<int>("emitted");
        using F = Fault;
        using R = Result;
        using S = Status;
        QTest::newRow("open") << Steps{{F::None, Op::Open, R::True, S::NoError}} << 0;
        QTest::newRow("open refused") << Steps{{F::OpenFails, Op::Open, R::False, S::OpenError}} << 1;
        QTest::newRow("refused twice emits once") << Steps{{F::OpenFails, Op::Open, R::False, S::OpenError},
                                                           {F::OpenFails, Op::Open, R::False, S::OpenError}}
                                                  << 1;
        QTest::newRow("refused then opened") << Steps{{F::OpenFails, Op::Open, R::False, S::OpenError},
                                                      {F::None, Op::Open, R::True, S::NoError}}
                                             << 2;
        QTest::newRow("open twice") << Steps{{F::None, Op::Open, R::True, S::NoError},
                                             {F::None, Op::Open, R::False, S::NoError}}
                                    << 0;
        QTest::newRow("query and reply") << Steps{{F::None, Op::Open, R::True, S::NoError},
                                                  {F::None, Op::Query, R::Positive, S::NoError},
                                                  {F::None, Op::Read, R::Positive, S::NoError}}
                                         << 0;
        QTest::newRow("read without query times out")
            << Steps{{F::None, Op::Open, R::True, S::NoError}, {F::None, Op::Read, R::Zero, S::ReadError}}
            << 1;
        QTest::newRow("two time-outs emit once") << Steps{{F::None, Op::Open, R::True, S::NoError},
                                                          {F::None, Op::Read, R::Zero, S::ReadError},
                                                          {F::None, Op::Read, R::Zero, S::ReadError}}
                                                 << 1;
        QTest::newRow("two write failures emit once")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::WriteFails, Op::Query, R::Negative, S::WriteError},
                     {F::WriteFails, Op::Query, R::Negative, S::WriteError}}
            << 1;
        QTest::newRow("read error then write error")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::ReadFails, Op::Read, R::Negative, S::ReadError},
                     {F::WriteFails, Op::Query, R::Negative, S::WriteError}}
            << 2;
        QTest::newRow("write error cleared by a write")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::WriteFails, Op::Query, R::Negative, S::WriteError},
                     {F::None, Op::Query, R::Positive, S::NoError}}
            << 2;
        QTest::newRow("feature reports fail")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::WriteFails, Op::SendFeature, R::Negative, S::WriteError},
                     {F::ReadFails, Op::GetFeature, R::Negative, S::ReadError}}
            << 2;
        QTest::newRow("discard with nothing pending fails")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::ReadFails, Op::Discard, R::Negative, S::ReadError}}
            << 1;
        QTest::newRow("discard takes the pending reply")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::None, Op::Query, R::Positive, S::NoError},
                     {F::None, Op::Discard, R::Positive, S::NoError},
                     {F::None, Op::Read, R::Zero, S::ReadError}}
            << 1;
        QTest::newRow("close keeps the status")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::WriteFails, Op::Query, R::Negative, S::WriteError},
                     {F::None, Op::Close, R::True, S::WriteError},
                     {F::None, Op::Close, R::False, S::WriteError}}
            << 1;
        QTest::newRow("non-blocking mode keeps the status")
            << Steps{{F::None, Op::Open, R::True, S::NoError},
                     {F::None, Op::Read, R::Zero, S::ReadError},
                     {F::None, Op::NonBlocking, R::True, S::ReadError}}
            << 1;
    }
    void statusTransitions() {
        QFETCH(Steps, steps);
        QFETCH(int, emitted);
        const auto device = headset();
        QSignalSpy spy(device.get(), &IIoDevice::statusChanged);
        for (int i = 0; i < steps.size(); ++i) {
            const Step& step = steps.at(i);
            QVERIFY(HidSim::setFaults(m_headset, faultsOf(step.fault)));
            const QByteArray where = "step " + QByteArray::number(i);
            QVERIFY2(resultOf(step.op, *device) == step.result, where.constData());
            QVERIFY2(device->status() == step.status, where.constData());
        }
        QCOMPARE(spy.count(), emitted);
    }

    void timedOutReadRecoversOnTheNextRead() {
        // The reply comes later than the first, short wait: that read times out, the next one gets it.
        HidSim::Timings timings = HidSim::timings();
        timings.replyDelayMs = 150;
        HidSim::setTimings(timings);
        const auto device = headset();
        QSignalSpy spy(device.get(), &IIoDevice::statusChanged);
        QVERIFY(device->open());
        QCOMPARE(resultOf(Op::Query, *device), Result::Positive);
        unsigned char reply[7] = {};
        QCOMPARE(device->read(reply, sizeof reply, 10), 0);
        QCOMPARE(device->status(), Status::ReadError);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(device->read(reply, sizeof reply, 1000), 7);
        QCOMPARE(device->status(), Status::NoError);
        QCOMPARE(spy.count(), 2);
    }

    void closedDeviceRefusesEverything_data() {
        QTest::addColumn<Op>("op");
        QTest::addColumn<Result>("result");
        QTest::newRow("write") << Op::Query << Result::Negative;
        QTest::newRow("read") << Op::Read << Result::Negative;
        QTest::newRow("send feature") << Op::SendFeature << Result::Negative;
        QTest::newRow("get feature") << Op::GetFeature << Result::Negative;
        QTest::newRow("discard") << Op::Discard << Result::Negative;
        QTest::newRow("non-blocking") << Op::NonBlocking << Result::False;
        QTest::newRow("close") << Op::Close << Result::False;
    }
    void closedDeviceRefusesEverything() {
        QFETCH(Op, op);
        QFETCH(Result, result);
        for (const bool wasOpened : {false, true}) {
            const auto device = headset();
            if (wasOpened) {
                // A device closed after an error keeps that error through everything that follows.
                QVERIFY(device->open());
                QVERIFY(HidSim::setFaults(m_headset, faultsOf(Fault::WriteFails)));
                QCOMPARE(resultOf(Op::Query, *device), Result::Negative);
                QVERIFY(device->close());
                QVERIFY(HidSim::setFaults(m_headset, faultsOf(Fault::None)));
            }
            const Status before = device->status();
            HidSim::clearTraffic();
            QSignalSpy spy(device.get(), &IIoDevice::statusChanged);
            QCOMPARE(resultOf(op, *device), result);
            QCOMPARE(device->status(), before);
            QCOMPARE(spy.count(), 0);
            QCOMPARE(HidSim::traffic().size(), 0);
        }
    }

    void destructionClosesTheHandle() {
        {
            const auto device = headset();
            QVERIFY(device->open());
            QCOMPARE(TestSupport::countOf(HidSim::TrafficKind::Open), 1);
        }
        QCOMPARE(TestSupport::countOf(HidSim::TrafficKind::Close), 1);
        // A closed device has nothing left to close.
        { headset(); }
        QCOMPARE(TestSupport::countOf(HidSim::TrafficKind::Close), 1);
    }

    void reportsAsTheInterface() {
        const auto device = headset();
        QCOMPARE(device->metaObject()->className(), "Io::IIoDevice");
        QVERIFY(qobject_cast<IIoDevice*>(device.get()) != nullptr);
        QVERIFY(device->parent() == nullptr);
        IIoDevice::Shared shared = std::make_shared<HIDDevice>(m_context, kHeadsetId, QByteArray("x"));
        QVERIFY(dynamic_cast<Utils::SmartType<IIoDevice>*>(shared.get()) != nullptr);
        QCOMPARE(shared->shared_from_this(), shared);
    }

    void statusChangedOnTheWorkingThread() {
        const auto device = headset();
        std::atomic<QThread*> emittedOn{nullptr};
        std::atomic<QThread*> worker{nullptr};
        connect(
            device.get(), &IIoDevice::statusChanged, device.get(),
            [&] { emittedOn = QThread::currentThread(); }, Qt::DirectConnection);
        QVERIFY(HidSim::setFaults(m_headset, faultsOf(Fault::OpenFails)));
        std::thread([&] {
            worker = QThread::currentThread();
            device->open();
        }).join();
        QVERIFY(emittedOn.load() != nullptr);
        QCOMPARE(emittedOn.load(), worker.load());
        QVERIFY(emittedOn.load() != QThread::currentThread());
    }

    void lockIsRecursiveAndExclusive() {
        auto outer = m_context->lock();
        QVERIFY(outer);
        auto inner = m_context->tryLock();
        QVERIFY2(inner, "the holding thread takes the lock again");

        const auto tryFromOtherThread = [this] {
            bool got = false;
            std::thread([&] { got = m_context->tryLock() != nullptr; }).join();
            return got;
        };
        QVERIFY(!tryFromOtherThread());
        inner.reset();
        QVERIFY2(!tryFromOtherThread(), "still held once");
        outer.reset();
        QVERIFY(tryFromOtherThread());
    }

    void waitingReadHoldsTheLock() {
        // Nothing was asked, so the read waits for its whole time-out while holding the lock.
        const auto device = headset();
        QVERIFY(device->open());
        std::atomic<int> readResult{1};
        std::atomic<bool> reading{false};
        QElapsedTimer sinceStart;
        sinceStart.start();
        std::thread reader([&] {
            unsigned char buffer[7];
            reading = true;
            readResult = device->read(buffer, sizeof buffer, 1000);
        });
        // Joined on every way out of this function, a failed check included.
        const auto joiner = qScopeGuard([&] { reader.join(); });
        QTRY_VERIFY_WITH_TIMEOUT(reading.load(), 2000);

        // Once the reader is inside the library call, a try from here comes back empty and at once.
        Io::IIoContext::Lock attempt;
        qint64 longestTry = 0;
        bool sawBusy = false;
        while (sinceStart.elapsed() < 700) {
            QElapsedTimer tryTime;
            tryTime.start();
            attempt = m_context->tryLock();
            longestTry = qMax(longestTry, tryTime.elapsed());
            if (!attempt) {
                sawBusy = true;
                break;
            }
            attempt.reset();
            QThread::msleep(5);
        }
        QVERIFY(sawBusy);
        QVERIFY2(longestTry < 100, qPrintable(QStringLiteral("tryLock took %1 ms").arg(longestTry)));

        // A scan queues behind the read.
        Io::IoDeviceScanner scanner(m_context);
        QElapsedTimer scanTime;
        scanTime.start();
        const Io::IoDeviceInfoList list = scanner.scan();
        const qint64 waited = scanTime.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(readResult.load(), 0, 3000);
        QCOMPARE(device->status(), Status::ReadError);
        QVERIFY2(sinceStart.elapsed() >= 950, "the read waited its full time-out");
        QVERIFY2(waited >= 200, qPrintable(QStringLiteral("scan waited only %1 ms").arg(waited)));
        QCOMPARE(list.size(), 1);
        QVERIFY(m_context->tryLock());
    }

    void discardInputWaitsOneSecond() {
        const auto device = headset();
        QVERIFY(device->open());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(device->discardInput(7), 0);
        QVERIFY2(timer.elapsed() >= 950, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(device->status(), Status::ReadError);
    }
};

QTEST_GUILESS_MAIN(TstHidDevice)
#include "tst_hiddevice.moc"
