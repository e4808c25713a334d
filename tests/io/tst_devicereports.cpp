#include <QElapsedTimer>
#include <QtTest>
#include <memory>

#include "io/devicereply.h"
#include "io/devicereports.h"
#include "io/hiddevice.h"
#include "io/iocontext.h"
#include "tests/support/simbus.h"

using Global::Version;
using HidSim::DeviceType;
using Io::HIDDevice;
using Io::IIoDevice;
namespace Reports = Io::DeviceReports;
using Progress = Io::DeviceReply::RepairProgress;

namespace {

enum class Exchange { HeadsetVersion, ReceiverVersion, HeadsetRevision, ReceiverRevision, Revision };

Version run(Exchange exchange, IIoDevice& device) {
    switch (exchange) {
        case Exchange::HeadsetVersion:
            return Reports::readHeadsetVersion(device);
        case Exchange::ReceiverVersion:
            return Reports::readReceiverVersion(device);
        case Exchange::HeadsetRevision:
            return Reports::readHeadsetRevision(device);
        case Exchange::ReceiverRevision:
            return Reports::readReceiverRevision(device);
        case Exchange::Revision:
            return Reports::readRevision(device);
    }
    return {};
}

using TestSupport::Fault;
using TestSupport::faultsOf;

bool isReceiver(DeviceType type) {
    return type == DeviceType::SorrelReceiver || type == DeviceType::SorrelPlusReceiver;
}

quint16 productIdOf(DeviceType type) {
    switch (type) {
        case DeviceType::SorrelHeadset:
            return 0xa91;
        case DeviceType::SorrelReceiver:
            return 0xa90;
        case DeviceType::SorrelPlusHeadset:
            return 0xaab;
        case DeviceType::SorrelPlusReceiver:
            return 0xaa8;
        case DeviceType::Unknown:
            break;
    }
    return 0;
}

QString text(const Version& version) {
    return version.toString(QStringLiteral("M.m.p.b"));
}

}  // namespace

Q_DECLARE_METATYPE(Exchange)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(DeviceType)

class TstDeviceReports : public QObject {
    Q_OBJECT

    Io::IIoContext::Shared m_context;

    // A device of the given type on the bus, and an HIDDevice on one of its normal-mode interfaces.
    std::unique_ptr<HIDDevice> plug(DeviceType type, const QString& serial, quint16 usage_page,
                                    int* sim_id = nullptr, const QString& firmware = QStringLiteral("1.0.0"),
                                    int revision = 0) {
        const int id = HidSim::plug(TestSupport::device(type, serial, firmware, revision));
        if (sim_id != nullptr) {
            *sim_id = id;
        }
        const Io::DeviceId device_id(0x46d, productIdOf(type), usage_page, 1);
        return std::make_unique<HIDDevice>(m_context, device_id, TestSupport::pathOf(id, usage_page));
    }

private slots:
    void initTestCase() { m_context = std::make_shared<Io::IoContext>(); }
    void init() { HidSim::reset(); }

    void versions_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("revision");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("revisionText");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("headset") << DeviceType::SorrelHeadset << "1.46.0" << 3 << "1.46.0.0"
                                 << "3.0.0.0" << QStringList{"000100", "00f10300020f"};
        QTest::newRow("headset with build")
            << DeviceType::SorrelPlusHeadset << "2.5.0-17" << 200 << "2.5.0.17"
            << "200.0.0.0" << QStringList{"000100", "00f10300020f"};
        QTest::newRow("headset revision zero") << DeviceType::SorrelHeadset << "1.46.0" << 0 << "1.46.0.0"
                                               << "" << QStringList{"000100", "00f10300020f"};
        QTest::newRow("receiver") << DeviceType::SorrelReceiver << "46.1.0-9" << 0 << "46.1.0.9"
                                  << "2.0.0.0" << QStringList{"020100", "020080"};
        QTest::newRow("receiver of the other family")
            << DeviceType::SorrelPlusReceiver << "99.99.0-99" << 0 << "99.99.0.99"
            << "2.0.0.0" << QStringList{"020100", "020080"};
        QTest::newRow("version zero") << DeviceType::SorrelReceiver << "0.0.0" << 0 << ""
                                      << "2.0.0.0" << QStringList{"020100", "020080"};
    }
    void versions() {
        QFETCH(DeviceType, type);
        QFETCH(QString, firmware);
        QFETCH(int, revision);
        QFETCH(QString, version);
        QFETCH(QString, revisionText);
        QFETCH(QStringList, written);
        const quint16 page = isReceiver(type) ? Reports::kReceiverUsagePage : Reports::kHeadsetUsagePage;
        const auto device = plug(type, QStringLiteral("D-1"), page, nullptr, firmware, revision);
        // The exchange opens the device itself and leaves it open for the next one.
        QVERIFY(!device->isOpen());
        const Version read =
            isReceiver(type) ? Reports::readReceiverVersion(*device) : Reports::readHeadsetVersion(*device);
        QVERIFY(device->isOpen());
        QCOMPARE(text(read), version);
        QCOMPARE(text(Reports::readRevision(*device)), revisionText);
        QCOMPARE(TestSupport::writes(QStringLiteral("D-1")), written);
        QCOMPARE(TestSupport::countOf(HidSim::TrafficKind::Open), 1);
        QCOMPARE(device->status(), IIoDevice::NoError);
    }

    // The device may take its time: a reply is awaited for one second, and not longer, also while the
    // device sends status reports of its own, which are never taken for the reply.
    void replyIsAwaitedOneSecond_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("chatterMs");
        QTest::addColumn<QString>("version");
        const DeviceType receiver = DeviceType::SorrelReceiver;
        const DeviceType headset = DeviceType::SorrelHeadset;
        QTest::newRow("slow reply") << receiver << 400 << 0 << "46.1.0.9";
        QTest::newRow("too late") << receiver << 1300 << 0 << "";
        QTest::newRow("receiver reply among status reports") << receiver << 100 << 10 << "46.1.0.9";
        QTest::newRow("receiver, only status reports") << receiver << 1300 << 10 << "";
        QTest::newRow("headset reply among status reports") << headset << 100 << 10 << "46.1.0.9";
        QTest::newRow("headset, only status reports") << headset << 1300 << 10 << "";
    }
    void replyIsAwaitedOneSecond() {
        QFETCH(DeviceType, type);
        QFETCH(int, delayMs);
        QFETCH(int, chatterMs);
        QFETCH(QString, version);
        HidSim::Timings timings = HidSim::timings();
        timings.replyDelayMs = delayMs;
        HidSim::setTimings(timings);
        int id = 0;
        const bool receiver = isReceiver(type);
        const auto device = plug(type, QStringLiteral("D-1"),
                                 receiver ? Reports::kReceiverUsagePage : Reports::kHeadsetUsagePage, &id,
                                 QStringLiteral("46.1.0-9"));
        HidSim::Link link;
        link.unsolicitedEveryMs = chatterMs;
        QVERIFY(HidSim::setLink(id, link));
        QElapsedTimer timer;
        timer.start();
        const Version read =
            receiver ? Reports::readReceiverVersion(*device) : Reports::readHeadsetVersion(*device);
        QCOMPARE(text(read), version);
        if (version.isEmpty()) {
            QCOMPARE(device->status(), IIoDevice::ReadError);
            // One second for the whole wait, however many other reports came meanwhile.
            QVERIFY2(timer.elapsed() >= 950 && timer.elapsed() < 1500,
                     qPrintable(QString::number(timer.elapsed())));
        }
        if (chatterMs > 0) {
            HidSim::TrafficFilter reads;
            reads.kind = int(HidSim::TrafficKind::Read);
            reads.prefix = QByteArray(1, receiver ? '\x05' : '\x30');
            QVERIFY2(HidSim::count(reads) > 0, "no status report was passed over");
        }
    }

    void failedExchanges_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<Exchange>("exchange");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("status");
        QTest::newRow("headset refuses open") << DeviceType::SorrelHeadset << Exchange::HeadsetVersion
                                              << Fault::OpenFails << int(IIoDevice::OpenError);
        QTest::newRow("headset write fails") << DeviceType::SorrelHeadset << Exchange::HeadsetVersion
                                             << Fault::WriteFails << int(IIoDevice::WriteError);
        QTest::newRow("headset read fails") << DeviceType::SorrelHeadset << Exchange::HeadsetVersion
                                            << Fault::ReadFails << int(IIoDevice::ReadError);
        QTest::newRow("headset never answers") << DeviceType::SorrelHeadset << Exchange::HeadsetVersion
                                               << Fault::ReadTimeout << int(IIoDevice::ReadError);
        QTest::newRow("headset unplugged after the query")
            << DeviceType::SorrelHeadset << Exchange::HeadsetVersion << Fault::UnplugAfterFirstWrite
            << int(IIoDevice::ReadError);
        QTest::newRow("revision write fails") << DeviceType::SorrelHeadset << Exchange::HeadsetRevision
                                              << Fault::WriteFails << int(IIoDevice::WriteError);
        QTest::newRow("revision read fails") << DeviceType::SorrelPlusHeadset << Exchange::HeadsetRevision
                                             << Fault::ReadFails << int(IIoDevice::ReadError);
        QTest::newRow("receiver refuses open") << DeviceType::SorrelReceiver << Exchange::ReceiverVersion
                                               << Fault::OpenFails << int(IIoDevice::OpenError);
        QTest::newRow("receiver unplugged between the two queries")
            << DeviceType::SorrelReceiver << Exchange::ReceiverVersion << Fault::UnplugAfterFirstWrite
            << int(IIoDevice::WriteError);
        QTest::newRow("receiver read fails") << DeviceType::SorrelPlusReceiver << Exchange::ReceiverVersion
                                             << Fault::ReadFails << int(IIoDevice::ReadError);
        QTest::newRow("receiver revision needs the open")
            << DeviceType::SorrelReceiver << Exchange::ReceiverRevision << Fault::OpenFails
            << int(IIoDevice::OpenError);
        QTest::newRow("revision by page, receiver refuses open")
            << DeviceType::SorrelPlusReceiver << Exchange::Revision << Fault::OpenFails
            << int(IIoDevice::OpenError);
    }
    void failedExchanges() {
        QFETCH(DeviceType, type);
        QFETCH(Exchange, exchange);
        QFETCH(Fault, fault);
        QFETCH(int, status);
        int id = 0;
        const quint16 page = isReceiver(type) ? Reports::kReceiverUsagePage : Reports::kHeadsetUsagePage;
        const auto device = plug(type, QStringLiteral("D-1"), page, &id, QStringLiteral("1.46.0"), 3);
        QVERIFY(HidSim::setFaults(id, faultsOf(fault)));
        QVERIFY(!run(exchange, *device).isValid());
        QCOMPARE(int(device->status()), status);
    }

    void revisionOfOtherInterfaces_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("usagePage");
        QTest::newRow("receiver's second interface")
            << DeviceType::SorrelReceiver << int(HidSim::Mode::Normal) << 0xffa1;
        QTest::newRow("headset in update mode")
            << DeviceType::SorrelHeadset << int(HidSim::Mode::Update) << 0xff00;
        QTest::newRow("receiver in update mode")
            << DeviceType::SorrelPlusReceiver << int(HidSim::Mode::Update) << 0xff00;
    }
    void revisionOfOtherInterfaces() {
        QFETCH(DeviceType, type);
        QFETCH(int, mode);
        QFETCH(int, usagePage);
        const int id = HidSim::plug(TestSupport::device(type, QStringLiteral("D-1"), HidSim::Mode(mode)));
        const HidSim::Interface i = TestSupport::interfaceOf(id, quint16(usagePage));
        QVERIFY(!i.path.isEmpty());
        HIDDevice device(m_context, Io::DeviceId(i.vendorId, i.productId, i.usagePage, i.usage),
                         i.path.toUtf8());
        QVERIFY(!Reports::readRevision(device).isValid());
        QVERIFY(HidSim::traffic().isEmpty());
    }

    void commands_data() {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("bytes");
        QTest::newRow("headset enter update") << DeviceType::SorrelHeadset << "enter"
                                              << "00ce020200";
        QTest::newRow("other headset enter update") << DeviceType::SorrelPlusHeadset << "enter"
                                                    << "00ce020200";
        QTest::newRow("receiver enter update") << DeviceType::SorrelReceiver << "enter"
                                               << "020200";
        QTest::newRow("headset post update") << DeviceType::SorrelHeadset << "post"
                                             << "00ce022d00";
    }
    void commands() {
        QFETCH(DeviceType, type);
        QFETCH(QString, command);
        QFETCH(QString, bytes);
        for (const bool failing : {false, true}) {
            HidSim::reset();
            int id = 0;
            const quint16 page = isReceiver(type) ? Reports::kReceiverUsagePage : Reports::kHeadsetUsagePage;
            const auto device = plug(type, QStringLiteral("D-1"), page, &id);
            if (failing) {
                QVERIFY(HidSim::setFaults(id, faultsOf(Fault::WriteFails)));
            }
            bool sent = false;
            if (command == QLatin1String("post")) {
                sent = Reports::sendHeadsetPostUpdate(*device);
            } else {
                sent = isReceiver(type) ? Reports::enterReceiverUpdate(*device)
                                        : Reports::enterHeadsetUpdate(*device);
            }
            QCOMPARE(sent, !failing);
            const HidSim::DeviceState state = HidSim::device(id);
            const int counted =
                command == QLatin1String("post") ? state.postUpdateCount : state.enterUpdateCount;
            QCOMPARE(counted, failing ? 0 : 1);
            if (!failing) {
                QCOMPARE(TestSupport::writes(QStringLiteral("D-1")), QStringList{bytes});
            }
        }
    }

    void commandsToAClosedDeviceOpenIt() {
        int id = 0;
        const auto device =
            plug(DeviceType::SorrelHeadset, QStringLiteral("D-1"), Reports::kHeadsetUsagePage, &id);
        QVERIFY(HidSim::setFaults(id, faultsOf(Fault::OpenFails)));
        QVERIFY(!Reports::enterHeadsetUpdate(*device));
        QVERIFY(!Reports::sendHeadsetPostUpdate(*device));
        QCOMPARE(device->status(), IIoDevice::OpenError);
        QCOMPARE(HidSim::device(id).enterUpdateCount, 0);
        QCOMPARE(TestSupport::countOf(HidSim::TrafficKind::Write), 0);
    }

    void repair_data() {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("pollsBefore");
        QTest::addColumn<int>("progress");
        QTest::addColumn<bool>("chatter");
        QTest::newRow("paired at once") << 0x40 << 0 << int(Progress::Finished) << false;
        QTest::newRow("paired after three polls") << 0x40 << 3 << int(Progress::Finished) << false;
        QTest::newRow("failed 08") << 0x08 << 1 << int(Progress::Failed) << false;
        QTest::newRow("failed 20") << 0x20 << 2 << int(Progress::Failed) << false;
        QTest::newRow("never ends") << -1 << 0 << int(Progress::Pending) << false;
        QTest::newRow("paired, among status reports") << 0x40 << 3 << int(Progress::Finished) << true;
        QTest::newRow("failed 20, among status reports") << 0x20 << 2 << int(Progress::Failed) << true;
    }
    void repair() {
        QFETCH(int, outcome);
        QFETCH(int, pollsBefore);
        QFETCH(int, progress);
        QFETCH(bool, chatter);
        int id = 0;
        const auto receiver =
            plug(DeviceType::SorrelReceiver, QStringLiteral("R-1"), Reports::kReceiverUsagePage, &id);
        if (chatter) {
            // Replies come late enough for a few status reports to arrive before each.
            HidSim::Link link;
            link.ackLatencyMs = 10;
            link.unsolicitedEveryMs = 2;
            QVERIFY(HidSim::setLink(id, link));
        }
        HidSim::RepairScript script;
        script.outcome = outcome;
        script.pollsBefore = pollsBefore;
        QVERIFY(HidSim::setRepair(id, script));

        QVERIFY(Reports::startRepair(*receiver));
        QCOMPARE(TestSupport::writes(QStringLiteral("R-1")), (QStringList{"020100", "020800"}));
        QCOMPARE(HidSim::device(id).repairStartCount, 1);

        // The caller's loop: poll until the reply says the pairing ended.
        Progress last = Progress::Pending;
        int polls = 0;
        while (last == Progress::Pending && polls < pollsBefore + 10) {
            const std::optional<quint8> state = Reports::pollRepair(*receiver);
            QVERIFY(state.has_value());
            last = Io::DeviceReply::repairProgress(*state);
            ++polls;
        }
        QCOMPARE(int(last), progress);
        if (last != Progress::Pending) {
            QCOMPARE(polls, pollsBefore + 1);
        }
        QCOMPARE(HidSim::device(id).repairPollCount, polls);
        QCOMPARE(TestSupport::writes(QStringLiteral("R-1"), 0xffa0).mid(2),
                 QStringList(QVector<QString>(polls, QStringLiteral("028000")).toList()));

        if (last == Progress::Finished) {
            QCOMPARE(HidSim::device(id).repairEndCount, 0);
            return;
        }
        receiver->close();
        HIDDevice second(m_context, Io::DeviceId(0x46d, 0xa90, Reports::kReceiverSecondUsagePage, 1),
                         TestSupport::pathOf(id, Reports::kReceiverSecondUsagePage));
        QVERIFY(Reports::endRepair(second));
        QCOMPARE(TestSupport::writes(QStringLiteral("R-1"), Reports::kReceiverSecondUsagePage),
                 QStringList{"03ce022200"});
        QCOMPARE(HidSim::device(id).repairEndCount, 1);
        QVERIFY(!HidSim::device(id).pairing);
    }

    void repairFailures_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("startWrites");
        QTest::newRow("open refused") << Fault::OpenFails << false << 0;
        QTest::newRow("first start report fails") << Fault::WriteFails << false << 0;
        QTest::newRow("unplugged after the first start report") << Fault::UnplugAfterFirstWrite << false << 1;
        QTest::newRow("poll read fails") << Fault::ReadFails << true << 2;
    }
    void repairFailures() {
        QFETCH(Fault, fault);
        QFETCH(bool, started);
        QFETCH(int, startWrites);
        int id = 0;
        const auto receiver =
            plug(DeviceType::SorrelReceiver, QStringLiteral("R-1"), Reports::kReceiverUsagePage, &id);
        QVERIFY(HidSim::setFaults(id, faultsOf(fault)));
        QCOMPARE(Reports::startRepair(*receiver), started);
        HidSim::TrafficFilter accepted;
        accepted.kind = int(HidSim::TrafficKind::Write);
        int written = 0;
        for (const HidSim::TrafficEntry& entry : HidSim::traffic(accepted)) {
            written += entry.result > 0 ? 1 : 0;
        }
        QCOMPARE(written, startWrites);
        // A poll after a failure is a failure too, never a state byte made up from nothing.
        QVERIFY(!Reports::pollRepair(*receiver).has_value());
    }
};

QTEST_GUILESS_MAIN(TstDeviceReports)
#include "tst_devicereports.moc"
