// Prints how much a device scan with the mediator's filtering costs over the bare enumeration it wraps.
// Usage: bench_scan [rounds] [iterations per round]
#include <hidapi.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "io/iocontext.h"
#include "io/iodevicescanner.h"
#include "sim/hidsim.h"

namespace {

HidSim::DeviceSetup typed(HidSim::DeviceType type, const QString& serial) {
    HidSim::DeviceSetup setup;
    setup.type = type;
    setup.serial = serial;
    return setup;
}

HidSim::DeviceSetup foreign(quint16 product_id, quint16 usage, const QString& serial) {
    HidSim::DeviceSetup setup;
    setup.vendorId = 0x1234;
    setup.productId = product_id;
    setup.usagePage = 0x1;
    setup.usage = usage;
    setup.serial = serial;
    return setup;
}

// 40 interfaces: receivers of both families (two interfaces each), headsets, and a crowd of foreign devices.
int plugBus() {
    for (int i = 0; i < 5; ++i) {
        HidSim::plug(typed(HidSim::DeviceType::SorrelReceiver, QStringLiteral("R-%1").arg(i)));
        HidSim::plug(typed(HidSim::DeviceType::SorrelPlusReceiver, QStringLiteral("P-%1").arg(i)));
        HidSim::plug(typed(HidSim::DeviceType::SorrelHeadset, QStringLiteral("H-%1").arg(i)));
    }
    for (int i = 0; i < 15; ++i) {
        HidSim::plug(
            foreign(quint16(0x5000 + i), quint16(i % 2 != 0 ? 6 : 2), QStringLiteral("F-%1").arg(i)));
    }
    int interfaces = 0;
    for (const HidSim::DeviceState& device : HidSim::devices()) {
        interfaces += device.interfaces.size();
    }
    return interfaces;
}

// What any caller of hidapi does at the least: enumerate, look at every field that a scan uses, free.
std::size_t bareWalk() {
    std::size_t touched = 0;
    hid_device_info* const devices = hid_enumerate(0, 0);
    for (const hid_device_info* d = devices; d != nullptr; d = d->next) {
        touched += d->vendor_id + d->product_id + d->usage_page + d->usage;
        touched += d->path != nullptr ? std::strlen(d->path) : 0;
        touched += d->serial_number != nullptr ? std::wcslen(d->serial_number) : 0;
    }
    hid_free_enumeration(devices);
    return touched;
}

std::size_t filterAll(const Io::IoDeviceInfoList& list);

// One poll of the welcome page as the mediator makes it: a scan handed the mediator's last result, then each
// device type counted against its two identities.
std::size_t scanAndFilter(Io::IoDeviceScanner& scanner, Io::IoDeviceInfoList& last) {
    last = scanner.scan(last);
    return filterAll(last);
}

std::size_t filterAll(const Io::IoDeviceInfoList& list) {
    static const QVector<QVector<Io::DeviceId>> kTypes = {
        {Io::DeviceId(0x46d, 0xa93, 0xff00, 1), Io::DeviceId(0x46d, 0xa91, 0xffc0, 1)},
        {Io::DeviceId(0x46d, 0xa92, 0xff00, 1), Io::DeviceId(0x46d, 0xa90, 0xffa0, 1)},
        {Io::DeviceId(0x46d, 0xaac, 0xff00, 1), Io::DeviceId(0x46d, 0xaab, 0xffc0, 1)},
        {Io::DeviceId(0x46d, 0xaa9, 0xff00, 1), Io::DeviceId(0x46d, 0xaa8, 0xffa0, 1)},
    };
    static const QString kSerial = QStringLiteral("R-3");
    std::size_t kept = 0;
    for (const auto& ids : kTypes) {
        kept += std::size_t(Io::IoDeviceScanner::filterByIds(list, ids).size());
    }
    kept += std::size_t(Io::IoDeviceScanner::filterBySerialNumber(list, kSerial).size());
    return kept;
}

template <typename Body>
double nanosPerCall(int iterations, Body body, std::size_t& sink) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < iterations; ++i) {
        sink += body();
    }
    return double(timer.nsecsElapsed()) / iterations;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    const int iterations = argc > 2 ? std::max(1, atoi(argv[2])) : 2000;

    auto context = std::make_shared<Io::IoContext>();
    HidSim::reset();
    const int interfaces = plugBus();
    Io::IoDeviceScanner scanner(context);
    const int records = scanner.scan().size();

    std::size_t sink = 0;
    std::vector<double> bare;
    std::vector<double> scan;
    std::vector<double> scanOnly;
    std::vector<double> filtersOnly;
    std::vector<double> firstScan;
    const Io::IoDeviceInfoList snapshot = scanner.scan();
    Io::IoDeviceInfoList last;
    // Alternating rounds, so that drift of the machine (other builds on it) hits both sides alike.
    for (int r = 0; r < rounds; ++r) {
        bare.push_back(nanosPerCall(iterations, bareWalk, sink));
        scan.push_back(nanosPerCall(
            iterations, [&] { return scanAndFilter(scanner, last); }, sink));
        scanOnly.push_back(nanosPerCall(
            iterations, [&] { return std::size_t((last = scanner.scan(last)).size()); }, sink));
        filtersOnly.push_back(nanosPerCall(
            iterations, [&] { return filterAll(snapshot); }, sink));
        // Without an earlier result every record is built, as after the bus changed.
        firstScan.push_back(nanosPerCall(
            iterations, [&] { return std::size_t(scanner.scan().size()); }, sink));
    }
    const double bareNs = median(bare);
    const double scanNs = median(scan);
    std::printf("interfaces %d, records %d, rounds %d x %d calls (sink %zu)\n", interfaces, records, rounds,
                iterations, sink % 10);
    std::printf("bare hid_enumerate walk : %9.1f us\n", bareNs / 1000.0);
    std::printf("scan() + filters        : %9.1f us\n", scanNs / 1000.0);
    std::printf("  of which scan()       : %9.1f us\n", median(scanOnly) / 1000.0);
    std::printf("  of which the filters  : %9.1f us\n", median(filtersOnly) / 1000.0);
    std::printf("ratio                   : %9.3f\n", scanNs / bareNs);
    std::printf("scan without a last list: %9.1f us (ratio %.3f; every record built)\n",
                median(firstScan) / 1000.0, median(firstScan) / bareNs);
    return 0;
}
