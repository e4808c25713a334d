// Flashes the carried receiver image through the engine and the simulated bus at the link's real pacing
// and compares the time with the floor of that link: every report of image payload sent back to back at
// one report per interval, nothing else.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>
#include <QTextStream>
#include <QThread>

#include "hiddfu/dfuprotocol.h"
#include "hiddfu/hiddfu.h"
#include "sim/hidsim.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    QFile image(":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu");
    QTemporaryFile staged;
    if (!image.open(QIODevice::ReadOnly) || !staged.open()) {
        out << "cannot stage the carried receiver image\n";
        return 1;
    }
    const QByteArray bytes = image.readAll();
    staged.write(bytes);
    staged.flush();

    HidSim::reset();
    HidSim::setTrafficLimit(100000);
    const HidSim::Timings timings = HidSim::timings();
    HidSim::DeviceSetup setup;
    setup.type = HidSim::DeviceType::SorrelReceiver;
    setup.mode = HidSim::Mode::Update;
    setup.serial = "R-BENCH";
    const int id = HidSim::plug(setup);

    uint16_t count = 0;
    if (hidDfuConnect(0x046d, 0x0a92, 1, 0xff00, &count) != 0) {
        out << "connect failed, " << count << " devices\n";
        return 1;
    }
    HidSim::clearTraffic();
    QElapsedTimer timer;
    timer.start();
    if (hidDfuUpgrade(staged.fileName().toUtf8().constData(), 0) != 0) {
        out << "upgrade refused\n";
        return 1;
    }
    // Finer than the program's 100 ms poll, so that the poll does not add to the figure.
    while (hidDfuGetProgress() < 100 && hidDfuGetResult() == 0)
        QThread::usleep(200);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const int result = hidDfuGetResult();
    HidSim::TrafficFilter writes;
    writes.kind = int(HidSim::TrafficKind::Write);
    writes.usagePage = 0xff00;
    const int reports = HidSim::count(writes);
    hidDfuDisconnect();
    if (result != 0 || HidSim::device(id).id == 0) {
        out << "flash failed: " << result << "\n";
        return 1;
    }

    const double perSecond = 1e6 / timings.updateReportIntervalUs;
    const double floorPayload = double(bytes.size()) / HidDfu::Protocol::kPayloadPerReport / perSecond;
    const double floorRaw = double(bytes.size()) / HidDfu::Protocol::kReportSize / perSecond;
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(3);
    out << "image bytes:                 " << bytes.size() << "\n"
        << "link:                        " << perSecond << " reports/s, " << HidDfu::Protocol::kReportSize
        << "-byte reports, " << HidDfu::Protocol::kPayloadPerReport << " payload bytes each\n"
        << "reports written:             " << reports << ", " << double(reports) / (floorPayload * perSecond)
        << " of the payload floor's reports\n"
        << "flash time:                  " << seconds << " s (upgrade to verified 100 %)\n"
        << "floor, payload per report:   " << floorPayload << " s\n"
        << "floor, whole report:         " << floorRaw << " s\n"
        << "ratio to payload floor:      " << seconds / floorPayload << "\n"
        << "ratio to whole-report floor: " << seconds / floorRaw << "\n";
    return 0;
}
