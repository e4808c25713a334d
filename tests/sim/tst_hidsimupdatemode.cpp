#include <QtTest>

#include "sim/hidsim.h"
#include "sim/updatemodehandler.h"
#include "tests/sim/simtestutil.h"

using namespace SimTest;
using HidSim::DeviceType;
using HidSim::Mode;

namespace {

int g_liveHandlers = 0;
int g_createdHandlers = 0;

// Echoes output reports, answers feature report 5, and resets on a command naming how.
class EchoHandler : public HidSim::UpdateModeHandler {
public:
    explicit EchoHandler(HidSim::UpdateModeDevice& device) : m_device(device) {
        ++g_liveHandlers;
        ++g_createdHandlers;
    }
    ~EchoHandler() override { --g_liveHandlers; }

    int outputReport(const QByteArray& report) override {
        if (report.startsWith("\x01RESET")) {
            HidSim::UpdateModeDevice::Reset how;
            how.delayMs = 50;
            const QList<QByteArray> words = report.mid(7).split(' ');
            for (const QByteArray& word : words) {
                if (word.startsWith("fw="))
                    how.firmware = QString::fromLatin1(word.mid(3));
                if (word.startsWith("serial="))
                    how.serial = QString::fromLatin1(word.mid(7));
                if (word == "gone")
                    how.comeBack = false;
                if (word == "stay")
                    how.mode = Mode::Update;
            }
            m_device.reset(how);
            return report.size();
        }
        if (report.startsWith("\x01REFUSE"))
            return -1;
        m_device.queueInputReport(report.mid(0, 1) + "echo:" + report.mid(1) + ":" +
                                  m_device.serial().toLatin1() + ":" +
                                  QByteArray::number(m_device.productId(), 16));
        return report.size();
    }
    int getFeatureReport(quint8 reportId, QByteArray* reply) override {
        if (reportId != 5)
            return -1;
        *reply = QByteArray("\x05") + m_device.firmware().toLatin1();
        return reply->size();
    }

private:
    HidSim::UpdateModeDevice& m_device;
};

std::unique_ptr<HidSim::UpdateModeHandler> makeEcho(HidSim::UpdateModeDevice& device) {
    return std::make_unique<EchoHandler>(device);
}

HidSim::DeviceSetup updateSpec(DeviceType type, const QString& serial, const QString& firmware = "1.45.0") {
    HidSim::DeviceSetup s = setup(type, serial, firmware);
    s.mode = Mode::Update;
    return s;
}

}  // namespace

// The seam for the update-mode side: a handler registered from outside gets the reports and drives resets.
class TstHidSimUpdateMode : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_previous = HidSim::updateModeHandlerFactory(); }
    void cleanupTestCase() { HidSim::setUpdateModeHandlerFactory(m_previous); }
    void init() {
        HidSim::reset();
        HidSim::setTimings(fastTimings());
        HidSim::setUpdateModeHandlerFactory(&makeEcho);
        g_createdHandlers = 0;
    }
    void cleanup() {
        HidSim::reset();
        QCOMPARE(g_liveHandlers, 0);
    }

    void withoutHandlerSilent() {
        HidSim::setUpdateModeHandlerFactory(nullptr);
        HidSim::plug(updateSpec(DeviceType::SorrelReceiver, "R-1"));
        Handle handle = open("R-1", 0xff00);
        QVERIFY(handle);
        QCOMPARE(write(handle.get(), QByteArray("\x01hello", 6)), 6);
        int result = 1;
        read(handle.get(), 64, 30, &result);
        QCOMPARE(result, 0);
        unsigned char feature[8] = {5};
        QCOMPARE(hid_get_feature_report(handle.get(), feature, 8), -1);
        QCOMPARE(g_createdHandlers, 0);
    }

    void handlerAnswers() {
        HidSim::plug(updateSpec(DeviceType::SorrelPlusHeadset, "H-7", "1.44.0"));
        QCOMPARE(g_liveHandlers, 1);
        Handle handle = open("H-7", 0xff00);
        QCOMPARE(write(handle.get(), QByteArray("\x01ping", 5)), 5);
        QCOMPARE(read(handle.get(), 64, 1000), QByteArray("\x01"
                                                          "echo:ping:H-7:aac"));
        unsigned char feature[16] = {5};
        QCOMPARE(hid_get_feature_report(handle.get(), feature, sizeof(feature)), 7);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(feature), 7), QByteArray("\x05"
                                                                             "1.44.0"));
        feature[0] = 6;
        QCOMPARE(hid_get_feature_report(handle.get(), feature, sizeof(feature)), -1);
        QCOMPARE(write(handle.get(), QByteArray("\x01REFUSE", 7)), -1);
        const unsigned char sent[3] = {7, 1, 2};
        QCOMPARE(hid_send_feature_report(handle.get(), sent, 3), 3);
        HidSim::TrafficFilter f;
        f.usagePage = 0xff00;
        f.kind = int(HidSim::TrafficKind::SendFeature);
        QCOMPARE(HidSim::count(f), 1);
    }

    void reset_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("comesBack");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<bool>("stillUpdate");
        QTest::newRow("new firmware, same serial") << QByteArray("fw=1.46.0") << true << "R-1"
                                                   << "1.46.0" << false;
        QTest::newRow("same firmware") << QByteArray("") << true << "R-1"
                                       << "1.45.0" << false;
        QTest::newRow("another serial") << QByteArray("fw=1.47.0-2 serial=R-2") << true << "R-2"
                                        << "1.47.0-2" << false;
        QTest::newRow("back in update mode") << QByteArray("stay") << true << "R-1"
                                             << "1.45.0" << true;
        QTest::newRow("never comes back") << QByteArray("gone") << false << ""
                                          << "" << false;
    }
    void reset() {
        QFETCH(QByteArray, command);
        QFETCH(bool, comesBack);
        QFETCH(QString, serial);
        QFETCH(QString, firmware);
        QFETCH(bool, stillUpdate);
        // Through the whole cycle: normal, enter-update, flashed, reset.
        const int id = HidSim::plug(setup(DeviceType::SorrelReceiver, "R-1", "1.45.0"));
        {
            Handle normal = open("R-1", 0xffa0);
            QCOMPARE(write(normal.get(), bytes({2, 2, 0})), 3);
        }
        QVERIFY(waitFor([] { return !pathOf("R-1", 0xff00).isEmpty(); }));
        QCOMPARE(g_liveHandlers, 1);
        Handle handle = open("R-1", 0xff00);
        QCOMPARE(write(handle.get(), QByteArray("\x01RESET ") + command), command.size() + 7);
        QCOMPARE(g_liveHandlers, 0);
        QVERIFY(enumerateAll().isEmpty());
        QCOMPARE(write(handle.get(), QByteArray("\x01ping", 5)), -1);
        if (!comesBack) {
            QVERIFY(HidSim::devices().isEmpty());
            QThread::msleep(120);
            QVERIFY(enumerateAll().isEmpty());
            return;
        }
        QVERIFY(waitFor([] { return !enumerateAll().isEmpty(); }));
        const HidSim::DeviceState state = HidSim::device(id);
        QCOMPARE(state.serial, serial);
        QCOMPARE(state.firmware, firmware);
        if (stillUpdate) {
            QCOMPARE(state.mode, Mode::Update);
            QCOMPARE(g_liveHandlers, 1);
            QCOMPARE(g_createdHandlers, 2);
            return;
        }
        QCOMPARE(state.mode, Mode::Normal);
        Handle normal = open(serial, 0xffa0);
        QVERIFY(normal);
        write(normal.get(), bytes({2, 1, 0}));
        write(normal.get(), bytes({2, 0, 0x80}));
        const QByteArray reply = read(normal.get(), 4, 1000);
        QCOMPARE(reply.size(), 4);
        QCOMPARE(QString("%1.%2.0").arg(quint8(reply[1]), 0, 16).arg(quint8(reply[2]), 0, 16),
                 firmware.section('-', 0, 0));
    }

    void handlerLeavesWithTheDevice() {
        const int id = HidSim::plug(updateSpec(DeviceType::SorrelHeadset, "H-1"));
        QCOMPARE(g_liveHandlers, 1);
        QVERIFY(HidSim::unplug(id));
        QCOMPARE(g_liveHandlers, 0);
        HidSim::plug(updateSpec(DeviceType::SorrelHeadset, "H-1"));
        HidSim::plug(setup(DeviceType::SorrelHeadset, "H-2"));  // normal mode: no handler
        QCOMPARE(g_liveHandlers, 1);
    }

    void pacing_data() {
        QTest::addColumn<int>("intervalUs");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("fast mode") << 0 << 0 << 200;
        QTest::newRow("one report per 2 ms") << 2000 << 95 << 5000;
    }
    void pacing() {
        QFETCH(int, intervalUs);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        HidSim::setUpdateModeHandlerFactory(nullptr);
        HidSim::Timings t = fastTimings();
        t.updateReportIntervalUs = intervalUs;
        HidSim::setTimings(t);
        HidSim::plug(updateSpec(DeviceType::SorrelHeadset, "H-1"));
        HidSim::plug(setup(DeviceType::SorrelReceiver, "R-1"));
        Handle handle = open("H-1", 0xff00);
        Handle normal = open("R-1", 0xffa1);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 50; ++i)
            QCOMPARE(write(handle.get(), QByteArray(64, '\x01')), 64);
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
        timer.restart();
        for (int i = 0; i < 50; ++i)
            write(normal.get(), bytes({3, 0}));
        QVERIFY(timer.elapsed() < 200);  // normal-mode interfaces are not paced
    }

private:
    HidSim::UpdateModeHandlerFactory m_previous = nullptr;
};

QTEST_GUILESS_MAIN(TstHidSimUpdateMode)
#include "tst_hidsimupdatemode.moc"
