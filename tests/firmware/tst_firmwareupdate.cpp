#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "dfu/updater.h"
#include "hiddfu/dfusuffix.h"
#include "platform/instancelock.h"
#include "sim/dfufaults.h"
#include "tests/support/files.h"
#include "tests/support/firmwareharness.h"

using TestSupport::reportsWritten;

namespace {

const QString kCarriedReceiver = QStringLiteral(":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu");
const QString kCarriedHeadset = QStringLiteral(":/firmware/46d.a93.ff00.1/Sorrel_Headset_T1.46.0.dfu");
constexpr quint16 kUpdatePage = 0xff00;

// What the test does while the flow runs.
enum class Action {
    None,
    UnplugInUpdateMode,  // once the worker has seen the device in update mode, before the engine connects
    SecondDeviceInUpdateMode,  // likewise, another device of the type joins in update mode
    CancelInDriverStep,
    CancelInUpgrade,  // after the engine has taken the image, before the worker stores Updating
    CancelOnStarted,  // while the worker waits for a device that never shows up
    CancelOnUpdating,
    CancelOnRebooting,
    UnplugOnStarted,
    UnplugOnUpdating,
    UnplugOnRebooting,
};

enum class Image { Default, Carried, Missing, Corrupted, Truncated, Foreign, Plus };

struct Expect {
    Status final;
    int enterUpdate;  // enter-update reports written to the normal-mode interface
    bool imageBytes;  // any report reached the update-mode interface
    int postUpdate;   // post-update reports, to any device
    bool rebooting;
    QString firmware;  // firmware the device reports at the end; empty: not looked at
};

// The warnings of the program's own categories while it exists, from whichever thread they come.
class WarningCapture {
public:
    WarningCapture() {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&WarningCapture::handle);
        s_previous = m_previous;
    }
    ~WarningCapture() { qInstallMessageHandler(m_previous); }
    [[nodiscard]] QStringList lines() const {
        const std::lock_guard<std::mutex> lock(s_mutex);
        return s_lines;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (type == QtWarningMsg && QByteArray(context.category).startsWith("meldra.")) {
            const std::lock_guard<std::mutex> lock(s_mutex);
            s_lines << message;
        }
        s_previous(type, context, message);
    }
    static inline std::mutex s_mutex;
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
    QtMessageHandler m_previous;
};

// A failed operation warns once, with the reason pattern describes; one that did not fail not at all.
void expectOneWarning(const QStringList& seen, const QString& pattern) {
    QVERIFY2(seen.size() == (pattern.isEmpty() ? 0 : 1), qPrintable(seen.join(QLatin1Char('\n'))));
    if (!pattern.isEmpty())
        QVERIFY2(QRegularExpression(pattern).match(seen.first()).hasMatch(), qPrintable(seen.first()));
}

// An image for the update-mode identity of a type, with a valid suffix.
QByteArray makeImage(quint16 product_id, int payload_size, quint8 fill) {
    std::vector<std::uint8_t> bytes(static_cast<size_t>(payload_size), fill);
    HidDfu::DfuSuffix suffix;
    suffix.vendorId = 0x046d;
    suffix.productId = product_id;
    suffix.bcdDevice = 0x0150;
    suffix.appendTo(bytes);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Progress values as the test wants the engine to report them, while the transfer itself is real: the
// script's 100 is given only once the device has the whole image, so the restart that follows is genuine.
class ScriptedProgressUpdater : public DFU::IUpdater {
public:
    // upgrade, when given, answers in place of the engine, which then never starts a transfer.
    explicit ScriptedProgressUpdater(QVector<int> script, std::function<bool()> upgrade = {})
        : m_script(std::move(script)), m_upgrade(std::move(upgrade)) {}

    bool connect(quint16 v, quint16 p, quint16 page, quint16 usage) override {
        return m_real.connect(v, p, page, usage);
    }
    bool connect(const Io::DeviceId& id) override { return m_real.connect(id); }
    bool upgrade(const QString& path) override { return m_upgrade ? m_upgrade() : m_real.upgrade(path); }
    bool backup(const QString& path) override { return m_real.backup(path); }
    bool resetDevice() override { return m_real.resetDevice(); }
    bool disconnect() override { return m_real.disconnect(); }
    bool getProgress(quint8& percent) override {
        if (m_next >= m_script.size())
            return m_real.getProgress(percent);
        const int value = m_script.at(m_next++);
        if (value >= 100) {
            quint8 real = 0;
            for (int i = 0; i < 4000 && m_real.getProgress(real) && real < 100; ++i)
                QThread::msleep(5);
            if (real < 100)
                return false;
        }
        percent = static_cast<quint8>(value);
        return true;
    }

private:
    DFU::Updater m_real;
    QVector<int> m_script;
    std::function<bool()> m_upgrade;
    int m_next = 0;
};

}  // namespace

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Image)
Q_DECLARE_METATYPE(Expect)
Q_DECLARE_METATYPE(HidSim::Faults)
Q_DECLARE_METATYPE(HidSim::DfuFaults)
Q_DECLARE_METATYPE(HidSim::Mode)

class TestFirmwareUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void updateMatrix_data();
    void updateMatrix();
    void repairMatrix_data();
    void repairMatrix();

    void progressIsSignalledOnChange();
    void workerStatusIsNeverOverwrittenByStarted();
    void shortCopyEndsWithFileError();
    void refusalsStartNothing_data();
    void refusalsStartNothing();
    void oneWorkerAtATime();
    void queriesDuringAnUpdate();
    void destroyingCancelsTheWorker();
    void secondUpdateAfterTheFirst();
    void workerThatCannotStart_data();
    void workerThatCannotStart();

private:
    QTemporaryDir m_images;
};

void TestFirmwareUpdate::initTestCase() {
    qRegisterMetaType<Status>("Status");
    qRegisterMetaType<DeviceType>("DeviceType");
    QVERIFY(m_images.isValid());
    QByteArray corrupted = readAll(kCarriedReceiver);
    QVERIFY(!corrupted.isEmpty());
    corrupted[1000] = static_cast<char>(corrupted.at(1000) ^ 0x5a);
    QVERIFY(writeAll(m_images.filePath(QStringLiteral("Corrupted_T1.47.0.dfu")), corrupted));
    QVERIFY(writeAll(m_images.filePath(QStringLiteral("Truncated_T1.47.0.dfu")),
                     readAll(kCarriedReceiver).left(5000)));
    QVERIFY(writeAll(m_images.filePath(QStringLiteral("Plus_Receiver_T1.50.0.dfu")),
                     makeImage(0x0aa9, 300000, 0xa5)));
}

void TestFirmwareUpdate::updateMatrix_data() {
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<HidSim::Mode>("mode");
    QTest::addColumn<Image>("image");
    QTest::addColumn<HidSim::Faults>("faults");
    QTest::addColumn<HidSim::DfuFaults>("dfuFaults");
    QTest::addColumn<int>("reportIntervalUs");
    QTest::addColumn<int>("resetMs");
    QTest::addColumn<int>("deviceWaitMs");
    QTest::addColumn<int>("driverPauseMs");
    QTest::addColumn<Action>("action");
    QTest::addColumn<Expect>("expect");
    // What the one warning of a failed update says; empty: an update that did not fail warns of nothing.
    QTest::addColumn<QString>("warning");

    const auto N = HidSim::Mode::Normal;
    const auto U = HidSim::Mode::Update;
    const HidSim::Faults none;
    HidSim::Faults write_fails;
    write_fails.writeFails = true;
    const HidSim::DfuFaults clean;
    const auto dfu = [](auto change) {
        HidSim::DfuFaults faults;
        change(faults);
        return faults;
    };
    const QString flashed = QStringLiteral("1.46");
    const QString old = QStringLiteral("1.40");

    // clang-format off
    QTest::newRow("receiver from normal mode")
        << DeviceType::SorrelReceiver << N << Image::Default << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Finished, 1, true, 0, true, flashed} << QStringLiteral("");
    QTest::newRow("headset from normal mode")
        << DeviceType::SorrelHeadset << N << Image::Default << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Finished, 1, true, 1, true, flashed} << QStringLiteral("");
    QTest::newRow("receiver from update mode")
        << DeviceType::SorrelReceiver << U << Image::Default << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Finished, 0, true, 0, true, flashed} << QStringLiteral("");
    QTest::newRow("headset from update mode")
        << DeviceType::SorrelHeadset << U << Image::Default << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Finished, 0, true, 1, true, flashed} << QStringLiteral("");
    QTest::newRow("plus receiver with a given image")
        << DeviceType::SorrelPlusReceiver << N << Image::Plus << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Finished, 1, true, 0, true, QStringLiteral("1.50")} << QStringLiteral("");
    // A refused image never reaches the device: not even the switch into update mode is sent.
    QTest::newRow("plus receiver without an image")
        << DeviceType::SorrelPlusReceiver << N << Image::Default << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::FileError, 0, false, 0, false, old} << QStringLiteral("image  for SorrelPlusReceiver refused: no image was found");
    QTest::newRow("missing image file")
        << DeviceType::SorrelReceiver << N << Image::Missing << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::FileError, 0, false, 0, false, QString()} << QStringLiteral("image .*Missing_T1.50.0.dfu for SorrelReceiver refused: .+");
    QTest::newRow("corrupted image refused")
        << DeviceType::SorrelReceiver << U << Image::Corrupted << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::FileError, 0, false, 0, false, old} << QStringLiteral("image .*_T1.47.0.dfu for SorrelReceiver refused: it is no whole image");
    QTest::newRow("corrupted image refused in normal mode")
        << DeviceType::SorrelReceiver << N << Image::Corrupted << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::FileError, 0, false, 0, false, old} << QStringLiteral("image .*_T1.47.0.dfu for SorrelReceiver refused: it is no whole image");
    QTest::newRow("truncated image refused")
        << DeviceType::SorrelReceiver << N << Image::Truncated << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::FileError, 0, false, 0, false, old} << QStringLiteral("image .*_T1.47.0.dfu for SorrelReceiver refused: it is no whole image");
    QTest::newRow("foreign image refused")
        << DeviceType::SorrelHeadset << U << Image::Carried << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::FileError, 0, false, 0, false, old} << QStringLiteral("image .*Sorrel_Dongle_T1.46.0.dfu for SorrelHeadset refused: it is for another device");
    QTest::newRow("foreign image refused in normal mode")
        << DeviceType::SorrelHeadset << N << Image::Carried << none << clean << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::FileError, 0, false, 0, false, old} << QStringLiteral("image .*Sorrel_Dongle_T1.46.0.dfu for SorrelHeadset refused: it is for another device");
    QTest::newRow("receiver ignores enter-update")
        << DeviceType::SorrelReceiver << N << Image::Default << write_fails << clean << 0 << 50 << 400 << 20 << Action::None
        << Expect{Status::Timeout, 1, false, 0, false, old} << QStringLiteral("update of SorrelReceiver DEV-1 timed out: 46d.a92.ff00.1 did not appear within 400 ms");
    QTest::newRow("leaves before update mode")
        << DeviceType::SorrelReceiver << N << Image::Default << none << clean << 0 << 50 << 400 << 20 << Action::UnplugOnStarted
        << Expect{Status::Timeout, 1, false, 0, false, QString()} << QStringLiteral("update of SorrelReceiver DEV-1 timed out: 46d.a92.ff00.1 did not appear");
    QTest::newRow("leaves in the driver step")
        << DeviceType::SorrelReceiver << U << Image::Default << none << clean << 0 << 50 << 3000 << 800 << Action::UnplugInUpdateMode
        << Expect{Status::Failed, 0, false, 0, false, QString()} << QStringLiteral("update of SorrelReceiver DEV-1 failed: no driver for the update mode and the device left");
    QTest::newRow("second device, engine connect fails")
        << DeviceType::SorrelHeadset << U << Image::Default << none << clean << 0 << 50 << 3000 << 800 << Action::SecondDeviceInUpdateMode
        << Expect{Status::Failed, 0, false, 0, false, old} << QStringLiteral("connecting to the update-mode device 46d.a93.ff00.1 failed: not exactly one device .* with 2 matching");
    QTest::newRow("write error during transfer")
        << DeviceType::SorrelReceiver << U << Image::Default << none << dfu([](auto& f) { f.errorAtPercent = 40; }) << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Failed, 0, true, 0, false, old} << QStringLiteral("transfer to 46d.a92.ff00.1 failed at \\d+ %: the device answered with an error status");
    QTest::newRow("device lost during transfer")
        << DeviceType::SorrelHeadset << U << Image::Default << none << dfu([](auto& f) { f.lostAtPercent = 30; }) << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Failed, 0, true, 0, false, QString()} << QStringLiteral("transfer to 46d.a93.ff00.1 failed at \\d+ %: .+ \\(engine code \\d+\\)");
    QTest::newRow("unplugged during transfer")
        << DeviceType::SorrelReceiver << U << Image::Default << none << clean << 100 << 50 << 3000 << 20 << Action::UnplugOnUpdating
        << Expect{Status::Failed, 0, true, 0, false, QString()} << QStringLiteral("transfer to 46d.a92.ff00.1 failed at \\d+ %: .+ \\(engine code \\d+\\)");
    QTest::newRow("stored image fails verification")
        << DeviceType::SorrelReceiver << U << Image::Default << none << dfu([](auto& f) { f.corruptStorage = true; }) << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Failed, 0, true, 0, false, old} << QStringLiteral("transfer to 46d.a92.ff00.1 failed at 99 %: the device answered with an error status");
    QTest::newRow("restart refused")
        << DeviceType::SorrelHeadset << U << Image::Default << none << dfu([](auto& f) { f.refuseReset = true; }) << 0 << 50 << 3000 << 20 << Action::None
        << Expect{Status::Failed, 0, true, 0, false, QString()} << QStringLiteral("restarting 46d.a93.ff00.1 failed: .+ \\(engine code \\d+\\)");
    QTest::newRow("no return after restart")
        << DeviceType::SorrelHeadset << N << Image::Default << none << dfu([](auto& f) { f.noReturnAfterReset = true; }) << 0 << 50 << 500 << 20 << Action::None
        << Expect{Status::Timeout, 1, true, 0, true, QString()} << QStringLiteral("update of SorrelHeadset DEV-1 timed out: 46d.a91.ffc0.1 did not come back within 500 ms");
    QTest::newRow("returns under another serial")
        << DeviceType::SorrelHeadset << N << Image::Default << none << dfu([](auto& f) { f.returnSerial = QStringLiteral("H-OTHER"); }) << 0 << 50 << 500 << 20 << Action::None
        << Expect{Status::Timeout, 1, true, 0, true, flashed} << QStringLiteral("update of SorrelHeadset DEV-1 timed out: 46d.a91.ffc0.1 did not come back");
    QTest::newRow("returns too late")
        << DeviceType::SorrelReceiver << U << Image::Default << none << clean << 0 << 1500 << 400 << 20 << Action::None
        << Expect{Status::Timeout, 0, true, 0, true, QString()} << QStringLiteral("update of SorrelReceiver DEV-1 timed out: 46d.a90.ffa0.1 did not come back");
    QTest::newRow("unplugged while restarting")
        << DeviceType::SorrelHeadset << U << Image::Default << none << clean << 0 << 300 << 600 << 20 << Action::UnplugOnRebooting
        << Expect{Status::Timeout, 0, true, 0, true, QString()} << QStringLiteral("update of SorrelHeadset DEV-1 timed out: 46d.a91.ffc0.1 did not come back");
    QTest::newRow("cancel in the driver step")
        << DeviceType::SorrelReceiver << U << Image::Default << none << clean << 0 << 50 << 3000 << 800 << Action::CancelInDriverStep
        << Expect{Status::Canceled, 0, false, 0, false, old} << QStringLiteral("");
    QTest::newRow("cancel as the engine takes the image")
        << DeviceType::SorrelHeadset << U << Image::Default << none << clean << 0 << 50 << 3000 << 20 << Action::CancelInUpgrade
        << Expect{Status::Canceled, 0, false, 0, false, old} << QStringLiteral("");
    QTest::newRow("cancel during transfer")
        << DeviceType::SorrelReceiver << U << Image::Default << none << clean << 100 << 50 << 3000 << 20 << Action::CancelOnUpdating
        << Expect{Status::Canceled, 0, true, 0, false, old} << QStringLiteral("");
    QTest::newRow("cancel while waiting for the device")
        << DeviceType::SorrelReceiver << N << Image::Default << write_fails << clean << 0 << 50 << 400 << 20 << Action::CancelOnStarted
        << Expect{Status::Timeout, 1, false, 0, false, old} << QStringLiteral("update of SorrelReceiver DEV-1 timed out");
    QTest::newRow("cancel after the restart")
        << DeviceType::SorrelHeadset << U << Image::Default << none << clean << 0 << 300 << 3000 << 20 << Action::CancelOnRebooting
        << Expect{Status::Finished, 0, true, 1, true, flashed} << QStringLiteral("");
    // clang-format on
}

void TestFirmwareUpdate::updateMatrix() {
    QFETCH(DeviceType, type);
    QFETCH(HidSim::Mode, mode);
    QFETCH(Image, image);
    QFETCH(HidSim::Faults, faults);
    QFETCH(HidSim::DfuFaults, dfuFaults);
    QFETCH(int, reportIntervalUs);
    QFETCH(int, resetMs);
    QFETCH(int, deviceWaitMs);
    QFETCH(int, driverPauseMs);
    QFETCH(Action, action);
    QFETCH(Expect, expect);
    QFETCH(QString, warning);
    const WarningCapture warnings;

    FirmwareHarness harness;
    HidSim::Timings bus = TestSupport::fastBusTimings();
    bus.updateReportIntervalUs = reportIntervalUs;
    bus.resetMs = resetMs;
    HidSim::setTimings(bus);
    Mediator::Timings timings = TestSupport::fastMediatorTimings();
    timings.deviceWaitMs = deviceWaitMs;
    timings.driverPauseMs = driverPauseMs;
    harness.mediator().setTimings(timings);

    const QString serial = QStringLiteral("DEV-1");
    const int device = FirmwareHarness::plug(type, mode, serial);
    QVERIFY(device > 0);
    // A device of another kind on the bus must not be touched.
    const bool headset = type == DeviceType::SorrelHeadset || type == DeviceType::SorrelPlusHeadset;
    const int bystander =
        FirmwareHarness::plug(headset ? DeviceType::SorrelReceiver : DeviceType::SorrelHeadset,
                              HidSim::Mode::Normal, QStringLiteral("OTHER-1"));
    QVERIFY(HidSim::setFaults(device, faults));
    HidSim::setDfuFaults(device, dfuFaults);

    QString path;
    switch (image) {
        case Image::Default:
            break;
        case Image::Carried:
            path = kCarriedReceiver;
            break;
        case Image::Missing:
            path = m_images.filePath(QStringLiteral("Missing_T1.50.0.dfu"));
            break;
        case Image::Corrupted:
            path = m_images.filePath(QStringLiteral("Corrupted_T1.47.0.dfu"));
            break;
        case Image::Truncated:
            path = m_images.filePath(QStringLiteral("Truncated_T1.47.0.dfu"));
            break;
        case Image::Foreign:
            path = kCarriedHeadset;
            break;
        case Image::Plus:
            path = m_images.filePath(QStringLiteral("Plus_Receiver_T1.50.0.dfu"));
            break;
    }

    Mediator& mediator = harness.mediator();
    bool acted = false;
    std::atomic<bool> upgrading{false};
    if (action == Action::CancelInUpgrade) {
        // The engine's acceptance is held until the cancel is stored, so the cancel lands in that gap.
        mediator.setUpdaterFactory([&] {
            return new ScriptedProgressUpdater({}, [&] {
                upgrading = true;
                return QTest::qWaitFor([&] { return mediator.getLastStatus() == Status::Canceled; }, 5000);
            });
        });
    }
    const auto waitUntilSeenInUpdateMode = [&] {
        // The worker polls every 10 ms; 200 ms later it is inside the driver pause.
        QTRY_VERIFY(HidSim::device(device).present && HidSim::device(device).mode == HidSim::Mode::Update);
        QTest::qWait(200);
    };
    QObject::connect(
        &harness.recorder(), &SignalRecorder::statusSeen, &harness.recorder(), [&](Status status) {
            if (acted)
                return;
            switch (action) {
                case Action::CancelOnStarted:
                    if (status == Status::Started)
                        acted = mediator.cancel();
                    break;
                case Action::CancelOnUpdating:
                    if (status == Status::Updating)
                        acted = mediator.cancel();
                    break;
                case Action::CancelOnRebooting:
                    if (status == Status::Rebooting)
                        acted = mediator.cancel();
                    break;
                case Action::UnplugOnStarted:
                    if (status == Status::Started)
                        acted = HidSim::unplug(device);
                    break;
                case Action::UnplugOnUpdating:
                    if (status == Status::Updating) {
                        // Pulled once part of the image is across.
                        QElapsedTimer clock;
                        clock.start();
                        while (reportsWritten(kUpdatePage, serial) < 500 && clock.elapsed() < 5000)
                            QThread::msleep(2);
                        acted = HidSim::unplug(device);
                    }
                    break;
                case Action::UnplugOnRebooting:
                    if (status == Status::Rebooting)
                        acted = HidSim::unplug(device);
                    break;
                default:
                    break;
            }
        });

    QVERIFY(mediator.update(type, path));
    switch (action) {
        case Action::UnplugInUpdateMode:
            waitUntilSeenInUpdateMode();
            acted = HidSim::unplug(device);
            break;
        case Action::SecondDeviceInUpdateMode:
            waitUntilSeenInUpdateMode();
            acted = FirmwareHarness::plug(type, HidSim::Mode::Update, QStringLiteral("DEV-2")) > 0;
            break;
        case Action::CancelInDriverStep:
            waitUntilSeenInUpdateMode();
            acted = mediator.cancel();
            break;
        case Action::CancelInUpgrade:
            QTRY_VERIFY(upgrading);
            acted = mediator.cancel();
            break;
        default:
            break;
    }

    QVERIFY(harness.waitForEnd());
    QCOMPARE(action == Action::None, !acted);
    const SignalRecorder& recorder = harness.recorder();
    QVERIFY2(recorder.orderProblem().isEmpty(), qPrintable(recorder.orderProblem()));
    if (recorder.finalStatus() != expect.final) {
        QStringList seen;
        for (const SignalRecorder::Event& event : recorder.events())
            seen << QStringLiteral("%1:%2").arg(event.source).arg(event.value);
        qWarning() << "signals" << seen.join(QLatin1Char(' '));
    }
    QCOMPARE(recorder.finalStatus(), expect.final);
    QCOMPARE(mediator.getLastStatus(), expect.final);
    QVERIFY(!mediator.isRunning());
    for (const SignalRecorder::Event& event : recorder.events())
        QCOMPARE(static_cast<DeviceType>(event.subject), type);
    QCOMPARE(recorder.statuses().contains(Status::Rebooting), expect.rebooting);
    QCOMPARE(recorder.statuses().contains(Status::Updating), expect.imageBytes);

    const QByteArray enter =
        headset ? FirmwareHarness::kHeadsetEnterUpdate : FirmwareHarness::kReceiverEnterUpdate;
    QCOMPARE(reportsWritten(0, serial, enter), expect.enterUpdate);
    QCOMPARE(reportsWritten(kUpdatePage, serial) > 0, expect.imageBytes);
    QCOMPARE(reportsWritten(0, QString(), FirmwareHarness::kPostUpdate), expect.postUpdate);
    if (expect.postUpdate > 0)
        QCOMPARE(reportsWritten(0xffc0, serial, FirmwareHarness::kPostUpdate), expect.postUpdate);
    QCOMPARE(reportsWritten(0, QStringLiteral("OTHER-1")), 0);
    QCOMPARE(reportsWritten(0, QStringLiteral("DEV-2")), 0);
    if (expect.final == Status::FileError) {
        QCOMPARE(recorder.statuses(), QVector<Status>({Status::Started, Status::FileError}));
        QCOMPARE(reportsWritten(0, serial), 0);
    }
    if (!expect.firmware.isEmpty()) {
        const HidSim::DeviceState state = HidSim::device(device);
        QCOMPARE(state.id, device);
        QVERIFY2(state.firmware.startsWith(expect.firmware), qPrintable(state.firmware));
    }
    QVERIFY(HidSim::device(bystander).present);
    expectOneWarning(warnings.lines(), warning);
}

void TestFirmwareUpdate::repairMatrix_data() {
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<HidSim::Faults>("faults");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<Status>("final");
    QTest::addColumn<bool>("repairing");
    QTest::addColumn<int>("repairEnd");
    QTest::addColumn<QString>("warning");

    const HidSim::Faults none;
    HidSim::Faults write_fails;
    write_fails.writeFails = true;
    HidSim::Faults open_fails;
    open_fails.openFails = true;
    HidSim::Faults silent;
    silent.readTimeout = true;
    HidSim::Faults pulled;
    pulled.unplugAfterWrites = 4;

    QTest::newRow("paired") << DeviceType::SorrelReceiver << 0x40 << none << false << Status::Finished << true
                            << 0 << QStringLiteral("");
    QTest::newRow("failed 0x08") << DeviceType::SorrelReceiver << 0x08 << none << false << Status::Failed
                                 << true << 1 << QStringLiteral("failed: the receiver reported state 0x08");
    QTest::newRow("failed 0x20") << DeviceType::SorrelReceiver << 0x20 << none << false << Status::Failed
                                 << true << 1 << QStringLiteral("failed: the receiver reported state 0x20");
    QTest::newRow("plus paired") << DeviceType::SorrelPlusReceiver << 0x40 << none << false
                                 << Status::Finished << true << 0 << QStringLiteral("");
    QTest::newRow("plus failed")
        << DeviceType::SorrelPlusReceiver << 0x08 << none << false << Status::Failed << true << 1
        << QStringLiteral("repair of SorrelPlusReceiver R-1 failed: the receiver reported state 0x08");
    QTest::newRow("canceled") << DeviceType::SorrelReceiver << -1 << none << true << Status::Canceled << true
                              << 1 << QStringLiteral("");
    QTest::newRow("start refused")
        << DeviceType::SorrelReceiver << 0x40 << write_fails << false << Status::DeviceError << false << 0
        << QStringLiteral("repair of SorrelReceiver R-1 failed: the start reports to .* were not taken");
    QTest::newRow("does not open") << DeviceType::SorrelReceiver << 0x40 << open_fails << false
                                   << Status::DeviceError << false << 0
                                   << QStringLiteral("repair of SorrelReceiver R-1 failed: .* no open");
    QTest::newRow("stops answering")
        << DeviceType::SorrelReceiver << 0x40 << silent << false << Status::DeviceError << true << 0
        << QStringLiteral("repair of SorrelReceiver R-1 failed: no answer to the state poll");
    QTest::newRow("unplugged while pairing")
        << DeviceType::SorrelReceiver << -1 << pulled << false << Status::DeviceError << true << 0
        << QStringLiteral("repair of SorrelReceiver R-1 failed: no answer to the state poll");
}

void TestFirmwareUpdate::repairMatrix() {
    QFETCH(DeviceType, type);
    QFETCH(int, outcome);
    QFETCH(HidSim::Faults, faults);
    QFETCH(bool, cancel);
    QFETCH(Status, final);
    QFETCH(bool, repairing);
    QFETCH(int, repairEnd);
    QFETCH(QString, warning);
    const WarningCapture warnings;

    FirmwareHarness harness;
    const QString serial = QStringLiteral("R-1");
    const int device = FirmwareHarness::plug(type, HidSim::Mode::Normal, serial);
    QVERIFY(device > 0);
    HidSim::RepairScript script;
    script.outcome = outcome;
    script.pollsBefore = 3;
    QVERIFY(HidSim::setRepair(device, script));
    QVERIFY(HidSim::setFaults(device, faults, 0xffa0));

    Mediator& mediator = harness.mediator();
    if (cancel) {
        QObject::connect(&harness.recorder(), &SignalRecorder::statusSeen, &harness.recorder(),
                         [&](Status status) {
                             if (status == Status::Repairing)
                                 QVERIFY(mediator.cancel());
                         });
    }
    QVERIFY(mediator.repair(type));
    QVERIFY(harness.waitForEnd());

    const SignalRecorder& recorder = harness.recorder();
    QVERIFY2(recorder.orderProblem().isEmpty(), qPrintable(recorder.orderProblem()));
    QCOMPARE(recorder.events().first().source, int(SignalRecorder::Repair));
    QCOMPARE(recorder.finalStatus(), final);
    QCOMPARE(mediator.getLastStatus(), final);
    QCOMPARE(recorder.statuses().contains(Status::Repairing), repairing);
    QCOMPARE(reportsWritten(0xffa1, serial, FirmwareHarness::kRepairEnd), repairEnd);
    QCOMPARE(reportsWritten(0, QString(), FirmwareHarness::kRepairEnd), repairEnd);
    if (repairing)
        QVERIFY(reportsWritten(0xffa0, serial, FirmwareHarness::kRepairPoll) > 0);
    QCOMPARE(reportsWritten(0xff00), 0);
    expectOneWarning(warnings.lines(), warning);
}

void TestFirmwareUpdate::progressIsSignalledOnChange() {
    FirmwareHarness harness;
    QVERIFY(FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("P-1")) >
            0);
    harness.mediator().setUpdaterFactory([] { return new ScriptedProgressUpdater({0, 0, 35, 35, 100}); });
    QVERIFY(harness.mediator().update(DeviceType::SorrelReceiver));
    QVERIFY(harness.waitForEnd());
    const SignalRecorder& recorder = harness.recorder();
    QCOMPARE(recorder.progress(), QVector<int>({35, 100}));
    QCOMPARE(recorder.statuses(),
             QVector<Status>({Status::Started, Status::Updating, Status::Rebooting, Status::Finished}));
    // 100 comes before Rebooting.
    int rebooting_at = -1;
    int hundred_at = -1;
    for (int i = 0; i < recorder.events().size(); ++i) {
        const SignalRecorder::Event& event = recorder.events().at(i);
        if (event.source == SignalRecorder::Progress && event.value == 100)
            hundred_at = i;
        if (event.source == SignalRecorder::Update && static_cast<Status>(event.value) == Status::Rebooting)
            rebooting_at = i;
    }
    QVERIFY(hundred_at >= 0 && hundred_at < rebooting_at);
}

void TestFirmwareUpdate::workerStatusIsNeverOverwrittenByStarted() {
    // A worker that fails at once races the started handler; many rounds give the race its chances.
    FirmwareHarness harness;
    QVERIFY(FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Update, QStringLiteral("F-1")) >
            0);
    for (int round = 0; round < 40; ++round) {
        harness.recorder().clear();
        QVERIFY(harness.mediator().update(DeviceType::SorrelReceiver,
                                          QStringLiteral("/nonexistent/x_T1.2.3.dfu")));
        QVERIFY(harness.waitForEnd());
        QCOMPARE(harness.recorder().statuses(), QVector<Status>({Status::Started, Status::FileError}));
        QCOMPARE(harness.mediator().getLastStatus(), Status::FileError);
    }
}

void TestFirmwareUpdate::shortCopyEndsWithFileError() {
    FirmwareHarness harness;
    QVERIFY(FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Update, QStringLiteral("S-1")) >
            0);
    bool ended = false;
    {
        const TestSupport::FileSizeLimit full_disk(256 * 1024);
        QVERIFY(full_disk.isActive());
        const bool started = harness.mediator().update(DeviceType::SorrelReceiver);
        ended = started && harness.waitForEnd();
    }
    QVERIFY(ended);
    QCOMPARE(harness.recorder().statuses(), QVector<Status>({Status::Started, Status::FileError}));
    QCOMPARE(reportsWritten(kUpdatePage), 0);
}

void TestFirmwareUpdate::refusalsStartNothing_data() {
    QTest::addColumn<QStringList>("devices");  // "<type>:<mode>:<serial>"; mode n or u
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<bool>("repair");
    QTest::addColumn<HidSim::Faults>("faults");
    QTest::addColumn<bool>("busy");  // another process holds the devices
    const HidSim::Faults none;
    HidSim::Faults write_fails;
    write_fails.writeFails = true;
    HidSim::Faults open_fails;
    open_fails.openFails = true;
    QTest::newRow("update while another process updates")
        << QStringList{"2:n:A"} << DeviceType::SorrelReceiver << false << none << true;
    QTest::newRow("repair while another process updates")
        << QStringList{"2:n:A"} << DeviceType::SorrelReceiver << true << none << true;
    QTest::newRow("update, none") << QStringList{} << DeviceType::SorrelReceiver << false << none << false;
    QTest::newRow("repair, none") << QStringList{} << DeviceType::SorrelReceiver << true << none << false;
    QTest::newRow("update, two receivers")
        << QStringList{"2:n:A", "2:n:B"} << DeviceType::SorrelReceiver << false << none << false;
    QTest::newRow("repair, two receivers")
        << QStringList{"2:n:A", "2:n:B"} << DeviceType::SorrelReceiver << true << none << false;
    QTest::newRow("update, one of each mode")
        << QStringList{"2:n:A", "2:u:B"} << DeviceType::SorrelReceiver << false << none << false;
    QTest::newRow("repair, in update mode")
        << QStringList{"2:u:A"} << DeviceType::SorrelReceiver << true << none << false;
    QTest::newRow("update, other type only")
        << QStringList{"1:n:A"} << DeviceType::SorrelReceiver << false << none << false;
    QTest::newRow("update, unknown type")
        << QStringList{"2:n:A"} << DeviceType::Unknown << false << none << false;
    QTest::newRow("headset refuses enter-update")
        << QStringList{"1:n:A"} << DeviceType::SorrelHeadset << false << write_fails << false;
    QTest::newRow("headset does not open")
        << QStringList{"1:n:A"} << DeviceType::SorrelHeadset << false << open_fails << false;
    QTest::newRow("receiver does not open")
        << QStringList{"2:n:A"} << DeviceType::SorrelReceiver << false << open_fails << false;
}

void TestFirmwareUpdate::refusalsStartNothing() {
    QFETCH(QStringList, devices);
    QFETCH(DeviceType, type);
    QFETCH(bool, repair);
    QFETCH(HidSim::Faults, faults);
    QFETCH(bool, busy);
    FirmwareHarness harness;
    const QString key = QStringLiteral("tst_firmwareupdate-%1").arg(QCoreApplication::applicationPid());
    harness.mediator().setOperationLockKey(key);
    Platform::OperationLock other(key);
    QVERIFY(!busy || other.tryLock());
    for (const QString& device : devices) {
        const QStringList parts = device.split(QLatin1Char(':'));
        const int id = FirmwareHarness::plug(
            static_cast<DeviceType>(parts.at(0).toInt()),
            parts.at(1) == QLatin1String("u") ? HidSim::Mode::Update : HidSim::Mode::Normal, parts.at(2));
        QVERIFY(HidSim::setFaults(id, faults));
    }
    Mediator& mediator = harness.mediator();
    QVERIFY(!(repair ? mediator.repair(type) : mediator.update(type)));
    QCOMPARE(mediator.refusedAsBusy(), busy);
    QVERIFY(!mediator.isRunning());
    QTest::qWait(50);
    QVERIFY(harness.recorder().events().isEmpty());
    QCOMPARE(mediator.getLastStatus(), Status::None);
    QCOMPARE(reportsWritten(kUpdatePage), 0);
    if (devices.size() != 1 || busy)
        QCOMPARE(reportsWritten(0), 0);
    // A refusal keeps no lock of its own: the other process's end frees the devices for everyone.
    other.unlock();
    Platform::OperationLock next(key);
    QVERIFY(next.tryLock());
}

void TestFirmwareUpdate::oneWorkerAtATime() {
    FirmwareHarness harness;
    const int id =
        FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("R-1"));
    HidSim::RepairScript endless;
    endless.outcome = -1;
    QVERIFY(HidSim::setRepair(id, endless));
    Mediator& mediator = harness.mediator();
    QVERIFY(!mediator.cancel());
    QCOMPARE(mediator.getLastStatus(), Status::None);

    // A cancel right after the start often lands before the worker has stored Repairing; it must still
    // end the pairing, which has no time limit of its own.
    for (int round = 1; round <= 10; ++round) {
        harness.recorder().clear();
        QVERIFY(mediator.repair(DeviceType::SorrelReceiver));
        QVERIFY(mediator.isRunning());
        QVERIFY(!mediator.repair(DeviceType::SorrelReceiver));
        QVERIFY(!mediator.update(DeviceType::SorrelReceiver));
        QVERIFY(!mediator.canUpdate(DeviceType::SorrelReceiver));
        QCOMPARE(mediator.count(DeviceType::SorrelReceiver), 1);
        QVERIFY(mediator.cancel());
        QVERIFY(!mediator.isRunning());
        QVERIFY(harness.waitForEnd());
        QCOMPARE(harness.recorder().finalStatus(), Status::Canceled);
        QVERIFY(harness.recorder().orderProblem().isEmpty());
        QVERIFY(!mediator.cancel());
        QCOMPARE(mediator.getLastStatus(), Status::Canceled);
        QCOMPARE(reportsWritten(0xffa1, QStringLiteral("R-1"), FirmwareHarness::kRepairEnd), round);
    }
}

void TestFirmwareUpdate::queriesDuringAnUpdate() {
    // The GUI thread keeps asking while the worker rescans: the shared device list must hold up.
    FirmwareHarness harness;
    HidSim::Timings bus = TestSupport::fastBusTimings();
    bus.updateReportIntervalUs = 40;
    HidSim::setTimings(bus);
    QVERIFY(FirmwareHarness::plug(DeviceType::SorrelHeadset, HidSim::Mode::Normal, QStringLiteral("H-1")) >
            0);
    QVERIFY(FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Normal, QStringLiteral("R-1"),
                                  QStringLiteral("1.45.0")) > 0);
    Mediator& mediator = harness.mediator();
    QVERIFY(mediator.update(DeviceType::SorrelHeadset));
    int rounds = 0;
    while (!harness.recorder().ended() && rounds < 5000) {
        QCOMPARE(mediator.count(DeviceType::SorrelReceiver, rounds % 2 == 0), 1);
        QCOMPARE(mediator.getVersionString(DeviceType::SorrelReceiver, QStringLiteral("M.m"), true),
                 QStringLiteral("1.45"));
        QVERIFY(mediator.count(DeviceType::SorrelHeadset, true) <= 1);
        QCoreApplication::processEvents();
        ++rounds;
    }
    QVERIFY(harness.waitForEnd());
    QCOMPARE(harness.recorder().finalStatus(), Status::Finished);
    QVERIFY(rounds > 1);
}

void TestFirmwareUpdate::destroyingCancelsTheWorker() {
    FirmwareHarness harness;
    HidSim::Timings bus = TestSupport::fastBusTimings();
    bus.updateReportIntervalUs = 100;
    HidSim::setTimings(bus);
    const int device =
        FirmwareHarness::plug(DeviceType::SorrelReceiver, HidSim::Mode::Update, QStringLiteral("D-1"));
    QVERIFY(harness.mediator().update(DeviceType::SorrelReceiver));
    QTRY_VERIFY(harness.recorder().statuses().contains(Status::Updating));
    QElapsedTimer clock;
    clock.start();
    harness.destroyMediator();
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(!HidSim::device(device).firmware.startsWith(QLatin1String("1.46")));
    // The engine's connection was let go: a new mediator can flash the same device.
    harness.recreate();
    QVERIFY(harness.mediator().update(DeviceType::SorrelReceiver));
    QVERIFY(harness.waitForEnd(30000));
    QCOMPARE(harness.recorder().finalStatus(), Status::Finished);
}

void TestFirmwareUpdate::secondUpdateAfterTheFirst() {
    FirmwareHarness harness;
    QVERIFY(FirmwareHarness::plug(DeviceType::SorrelHeadset, HidSim::Mode::Normal, QStringLiteral("H-1")) >
            0);
    Mediator& mediator = harness.mediator();
    QVERIFY(mediator.update(DeviceType::SorrelHeadset, QStringLiteral("/nonexistent/a_T1.2.3.dfu")));
    QVERIFY(harness.waitForEnd());
    QCOMPARE(harness.recorder().finalStatus(), Status::FileError);
    // The refused image left the headset in normal mode; the second run switches it itself.
    QVERIFY(!mediator.isDFU(DeviceType::SorrelHeadset));
    harness.recorder().clear();
    QVERIFY(mediator.update(DeviceType::SorrelHeadset));
    QVERIFY(harness.waitForEnd());
    QCOMPARE(harness.recorder().statuses().first(), Status::Started);
    QCOMPARE(harness.recorder().finalStatus(), Status::Finished);
    QCOMPARE(reportsWritten(0xffc0, QStringLiteral("H-1"), FirmwareHarness::kPostUpdate), 1);
}

void TestFirmwareUpdate::workerThatCannotStart_data() {
    QTest::addColumn<DeviceType>("type");
    QTest::addColumn<HidSim::Mode>("mode");
    QTest::addColumn<bool>("repair");
    QTest::addColumn<Status>("failure");
    QTest::newRow("update") << DeviceType::SorrelReceiver << HidSim::Mode::Normal << false << Status::Failed;
    QTest::newRow("update in update mode")
        << DeviceType::SorrelHeadset << HidSim::Mode::Update << false << Status::Failed;
    QTest::newRow("repair") << DeviceType::SorrelReceiver << HidSim::Mode::Normal << true
                            << Status::DeviceError;
}

void TestFirmwareUpdate::workerThatCannotStart() {
    QFETCH(DeviceType, type);
    QFETCH(HidSim::Mode, mode);
    QFETCH(bool, repair);
    QFETCH(Status, failure);
    FirmwareHarness harness;
    HidSim::RepairScript paired;
    paired.outcome = 0x40;
    QVERIFY(HidSim::setRepair(FirmwareHarness::plug(type, mode, QStringLiteral("T-1")), paired));
    Mediator& mediator = harness.mediator();
    const auto start = [&] { return repair ? mediator.repair(type) : mediator.update(type); };

    // What Qt leaves when the system refuses a thread: not running, neither started nor finished to come.
    mediator.setThreadStarter([](QThread&) {});
    QVERIFY(start());
    QCOMPARE(mediator.getLastStatus(), failure);
    QVERIFY(harness.waitForEnd(2000));
    QCOMPARE(harness.recorder().statuses(), QVector<Status>({Status::Started, failure}));
    // Nothing waits for the thread that never ran: the next operation starts and ends.
    mediator.setThreadStarter(nullptr);
    harness.recorder().clear();
    QTRY_COMPARE(mediator.count(type), 1);
    QVERIFY(start());
    QVERIFY(harness.waitForEnd());
    QCOMPARE(harness.recorder().finalStatus(), Status::Finished);
}

QTEST_GUILESS_MAIN(TestFirmwareUpdate)
#include "tst_firmwareupdate.moc"
