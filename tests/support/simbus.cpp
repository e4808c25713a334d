#include "tests/support/simbus.h"

namespace TestSupport {

HidSim::Timings fastBusTimings() {
    HidSim::Timings timings;
    timings.leaveMs = 0;
    timings.reenumerateMs = 50;
    timings.resetMs = 50;
    timings.replyDelayMs = 0;
    timings.updateReportIntervalUs = 0;
    return timings;
}

HidSim::DeviceSetup device(HidSim::DeviceType type, const QString& serial, HidSim::Mode mode) {
    HidSim::DeviceSetup setup;
    setup.type = type;
    setup.serial = serial;
    setup.mode = mode;
    return setup;
}

HidSim::DeviceSetup device(HidSim::DeviceType type, const QString& serial, const QString& firmware,
                           int revision, HidSim::Mode mode) {
    HidSim::DeviceSetup setup = device(type, serial, mode);
    setup.firmware = firmware;
    setup.revision = revision;
    return setup;
}

HidSim::DeviceSetup foreign(quint16 vendor_id, quint16 product_id, quint16 usage_page, quint16 usage,
                            const QString& serial) {
    HidSim::DeviceSetup setup;
    setup.vendorId = vendor_id;
    setup.productId = product_id;
    setup.usagePage = usage_page;
    setup.usage = usage;
    setup.serial = serial;
    return setup;
}

int plug(HidSim::DeviceType type, const QString& serial, const QString& firmware, HidSim::Mode mode,
         const HidSim::RepairScript& repair) {
    HidSim::DeviceSetup setup = device(type, serial, firmware, 3, mode);
    setup.repair = repair;
    return HidSim::plug(setup);
}

HidSim::Interface interfaceOf(int id, quint16 usage_page) {
    for (const HidSim::Interface& i : HidSim::device(id).interfaces) {
        if (i.usagePage == usage_page) {
            return i;
        }
    }
    return {};
}

QByteArray pathOf(int id, quint16 usage_page) {
    return interfaceOf(id, usage_page).path.toUtf8();
}

int count(std::initializer_list<HidSim::TrafficKind> kinds, const QString& serial, quint16 usage_page,
          const QByteArray& prefix) {
    HidSim::TrafficFilter filter;
    filter.serial = serial;
    filter.usagePage = usage_page;
    filter.prefix = prefix;
    int total = 0;
    for (HidSim::TrafficKind kind : kinds) {
        filter.kind = int(kind);
        total += HidSim::count(filter);
    }
    return total;
}

int countOf(HidSim::TrafficKind kind, const QString& serial) {
    return count({kind}, serial);
}

int reportsWritten(quint16 usage_page, const QString& serial, const QByteArray& prefix) {
    return count({HidSim::TrafficKind::Write, HidSim::TrafficKind::SendFeature}, serial, usage_page, prefix);
}

QStringList writes(const QString& serial, quint16 usage_page) {
    HidSim::TrafficFilter filter;
    filter.kind = int(HidSim::TrafficKind::Write);
    filter.serial = serial;
    filter.usagePage = usage_page;
    QStringList out;
    for (const HidSim::TrafficEntry& entry : HidSim::traffic(filter)) {
        out << QString::fromLatin1(entry.bytes.toHex());
    }
    return out;
}

HidSim::Faults faultsOf(Fault fault) {
    HidSim::Faults f;
    f.openFails = fault == Fault::OpenFails;
    f.writeFails = fault == Fault::WriteFails;
    f.readFails = fault == Fault::ReadFails;
    f.readTimeout = fault == Fault::ReadTimeout;
    f.unplugAfterWrites = fault == Fault::UnplugAfterFirstWrite ? 1 : 0;
    return f;
}

}  // namespace TestSupport
