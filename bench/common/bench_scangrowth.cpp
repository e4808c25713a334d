// Prints the cost of a scan with the welcome page's filters, and of the bare enumeration under it, for
// buses of growing size: the growth, not one point, is what tells whether a crowded machine hurts.
// Usage: bench_scangrowth [interfaces...]   (default 10 40 160)
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

// A fifth of the interfaces belong to our devices (a receiver brings two), the rest to foreign ones.
int plugBus(int wanted) {
    HidSim::reset();
    int interfaces = 0;
    for (int i = 0; interfaces < wanted; ++i) {
        HidSim::DeviceSetup setup;
        setup.serial = QStringLiteral("D-%1").arg(i);
        if (i % 5 == 0) {
            setup.type = i % 10 == 0 ? HidSim::DeviceType::SorrelReceiver : HidSim::DeviceType::SorrelHeadset;
        } else {
            setup.vendorId = 0x1234;
            setup.productId = quint16(0x5000 + i);
            setup.usagePage = 0x1;
            setup.usage = quint16(i % 2 != 0 ? 6 : 2);
        }
        HidSim::plug(setup);
        interfaces = 0;
        for (const HidSim::DeviceState& device : HidSim::devices()) {
            interfaces += device.interfaces.size();
        }
    }
    return interfaces;
}

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

// One welcome-page poll as the mediator makes it: a scan handed its last result, then the filters.
std::size_t scanAndFilter(Io::IoDeviceScanner& scanner, Io::IoDeviceInfoList& last) {
    static const QVector<QVector<Io::DeviceId>> kTypes = {
        {Io::DeviceId(0x46d, 0xa93, 0xff00, 1), Io::DeviceId(0x46d, 0xa91, 0xffc0, 1)},
        {Io::DeviceId(0x46d, 0xa92, 0xff00, 1), Io::DeviceId(0x46d, 0xa90, 0xffa0, 1)},
        {Io::DeviceId(0x46d, 0xaac, 0xff00, 1), Io::DeviceId(0x46d, 0xaab, 0xffc0, 1)},
        {Io::DeviceId(0x46d, 0xaa9, 0xff00, 1), Io::DeviceId(0x46d, 0xaa8, 0xffa0, 1)},
    };
    last = scanner.scan(last);
    const Io::IoDeviceInfoList& list = last;
    std::size_t kept = 0;
    for (const auto& ids : kTypes) {
        kept += std::size_t(Io::IoDeviceScanner::filterByIds(list, ids).size());
    }
    return kept;
}

template <typename Body>
double microsPerCall(int iterations, Body body, std::size_t& sink) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < iterations; ++i) {
        sink += body();
    }
    return double(timer.nsecsElapsed()) / iterations / 1000.0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::max(1, atoi(argv[i])));
    }
    if (sizes.empty()) {
        sizes = {10, 40, 160};
    }
    auto context = std::make_shared<Io::IoContext>();
    std::printf("%10s %14s %14s %8s %16s\n", "interfaces", "bare (us)", "scan (us)", "ratio",
                "scan per if (us)");
    std::size_t sink = 0;
    for (const int wanted : sizes) {
        const int interfaces = plugBus(wanted);
        Io::IoDeviceScanner scanner(context);
        Io::IoDeviceInfoList last;
        // Roughly the same wall time per size, so that a busy machine weighs on every row alike.
        const int iterations = std::max(50, 40000 / interfaces);
        std::vector<double> bare;
        std::vector<double> scan;
        for (int r = 0; r < 9; ++r) {
            bare.push_back(microsPerCall(iterations, bareWalk, sink));
            scan.push_back(microsPerCall(
                iterations, [&] { return scanAndFilter(scanner, last); }, sink));
        }
        const double b = median(bare);
        const double s = median(scan);
        std::printf("%10d %14.1f %14.1f %8.3f %16.3f\n", interfaces, b, s, s / b, s / interfaces);
    }
    std::printf("(sink %zu)\n", sink % 10);
    return 0;
}
