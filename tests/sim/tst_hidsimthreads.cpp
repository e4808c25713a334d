#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

#include "sim/hidsim.h"
#include "tests/sim/simtestutil.h"

using namespace SimTest;
using HidSim::DeviceType;

// Several threads on the bus at once, as the program's GUI thread and worker do, and the simulator's own
// service thread besides. Run under the thread sanitizer as well.
class TstHidSimThreads : public QObject {
    Q_OBJECT

private slots:
    void init() {
        HidSim::reset();
        HidSim::setTimings(fastTimings());
    }

    void concurrentExchanges_data() {
        QTest::addColumn<int>("workers");
        QTest::addColumn<int>("rounds");
        QTest::newRow("two workers") << 2 << 60;
        QTest::newRow("six workers") << 6 << 30;
    }
    void concurrentExchanges() {
        QFETCH(int, workers);
        QFETCH(int, rounds);
        for (int i = 0; i < workers; ++i)
            HidSim::plug(
                setup(DeviceType::SorrelReceiver, QString("R-%1").arg(i), QString("1.%1.0").arg(10 + i)));
        const int flaky = HidSim::plug(setup(DeviceType::SorrelHeadset, "FLAKY"));

        std::atomic<int> good{0};
        std::atomic<int> wrong{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        for (int w = 0; w < workers; ++w) {
            threads.emplace_back([&, w] {
                const QString serial = QString("R-%1").arg(w);
                const QByteArray expected = bytes({2, 1, 0x10 + w, 0});  // minor 10 + w in BCD, w below 10
                for (int r = 0; r < rounds; ++r) {
                    Handle handle = open(serial, 0xffa0);
                    if (!handle) {
                        ++wrong;
                        continue;
                    }
                    write(handle.get(), bytes({2, 1, 0}));
                    write(handle.get(), bytes({2, 0, 0x80}));
                    const QByteArray reply = read(handle.get(), 4, 1000);
                    if (reply == expected)
                        ++good;
                    else
                        ++wrong;
                }
            });
        }
        // Plugging, unplugging and re-enumerating the bus under the workers' feet.
        threads.emplace_back([&] {
            int id = flaky;
            while (!stop) {
                HidSim::unplug(id);
                id = HidSim::plug(setup(DeviceType::SorrelHeadset, "FLAKY"));
                Handle handle = open("FLAKY", 0xffc0);
                if (handle)
                    write(handle.get(), bytes({0, 0xce, 2, 2, 0}));
                QThread::usleep(500);
            }
        });
        threads.emplace_back([&] {
            while (!stop) {
                // Every listed device has an id, whatever state the others leave it in.
                for (const HidSim::DeviceState& state : HidSim::devices()) {
                    if (state.id <= 0)
                        ++wrong;
                }
                if (HidSim::count(HidSim::TrafficFilter()) < 0 || enumerateAll().size() > 2 * workers + 1)
                    ++wrong;
            }
        });
        for (int w = 0; w < workers; ++w)
            threads[size_t(w)].join();
        stop = true;
        for (size_t i = size_t(workers); i < threads.size(); ++i)
            threads[i].join();
        QCOMPARE(wrong.load(), 0);
        QCOMPARE(good.load(), workers * rounds);
    }

    // A read that waits leaves the rest of the bus free: enumeration, opens and writes on other devices.
    void waitingReadDoesNotHoldTheBus() {
        HidSim::plug(setup(DeviceType::SorrelHeadset, "SILENT"));
        HidSim::plug(setup(DeviceType::SorrelHeadset, "TALKS", "1.46.0"));
        Handle silent = open("SILENT", 0xffc0);
        std::atomic<int> result{99};
        std::thread reader([&] {
            unsigned char buffer[7];
            result = hid_read_timeout(silent.get(), buffer, sizeof(buffer), 1500);
        });
        QThread::msleep(50);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(enumerateAll().size(), 2);
            Handle talks = open("TALKS", 0xffc0);
            QCOMPARE(write(talks.get(), bytes({0, 1, 0})), 3);
            QCOMPARE(read(talks.get(), 7, 1000).size(), 7);
        }
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(result.load(), 99);
        reader.join();
        QCOMPARE(result.load(), 0);
    }

    // Two threads on one handle: the one waiting gets the reply the other one asked for.
    void readerWakesOnReply() {
        HidSim::plug(setup(DeviceType::SorrelHeadset, "H-1", "1.46.0"));
        Handle handle = open("H-1", 0xffc0);
        std::atomic<int> result{99};
        std::thread reader([&] {
            unsigned char buffer[7];
            result = hid_read_timeout(handle.get(), buffer, sizeof(buffer), -1);
        });
        QThread::msleep(50);
        QCOMPARE(write(handle.get(), bytes({0, 1, 0})), 3);
        reader.join();
        QCOMPARE(result.load(), 7);
    }

    // Devices coming back from the service thread's timer while other threads enumerate and write.
    void reenumerationUnderLoad() {
        for (int i = 0; i < 4; ++i)
            HidSim::plug(setup(DeviceType::SorrelPlusReceiver, QString("P-%1").arg(i)));
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([i] {
                Handle handle = open(QString("P-%1").arg(i), 0xffa0);
                if (handle)
                    write(handle.get(), bytes({2, 2, 0}));
                for (int k = 0; k < 50; ++k)
                    enumerateAll();
            });
        }
        for (std::thread& t : threads)
            t.join();
        QVERIFY(waitFor([] { return enumerateAll().size() == 4; }));
        for (const Found& f : enumerateAll())
            QCOMPARE(f.productId, quint16(0x0aa9));
    }
};

QTEST_GUILESS_MAIN(TstHidSimThreads)
#include "tst_hidsimthreads.moc"
