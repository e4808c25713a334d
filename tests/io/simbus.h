#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

#include "sim/hidsim.h"

Q_DECLARE_METATYPE(HidSim::DeviceSetup)
Q_DECLARE_METATYPE(QVector<HidSim::DeviceSetup>)

// Small helpers over the simulated bus shared by the device tests.
namespace SimBus {

inline HidSim::DeviceSetup device(HidSim::DeviceType type, const QString& serial,
                                 HidSim::Mode mode = HidSim::Mode::Normal) {
    HidSim::DeviceSetup setup;
    setup.type = type;
    setup.serial = serial;
    setup.mode = mode;
    return setup;
}

// One interface with raw ids, the way a keyboard or a mouse shows up.
inline HidSim::DeviceSetup foreign(quint16 vendor_id, quint16 product_id, quint16 usage_page, quint16 usage,
                                  const QString& serial) {
    HidSim::DeviceSetup setup;
    setup.vendorId = vendor_id;
    setup.productId = product_id;
    setup.usagePage = usage_page;
    setup.usage = usage;
    setup.serial = serial;
    return setup;
}

inline HidSim::Interface interfaceOf(int id, quint16 usage_page) {
    for (const HidSim::Interface& i : HidSim::device(id).interfaces) {
        if (i.usagePage == usage_page) {
            return i;
        }
    }
    return {};
}

inline QByteArray pathOf(int id, quint16 usage_page) {
    return interfaceOf(id, usage_page).path.toUtf8();
}

inline int countOf(HidSim::TrafficKind kind, const QString& serial = QString()) {
    HidSim::TrafficFilter filter;
    filter.kind = int(kind);
    filter.serial = serial;
    return HidSim::count(filter);
}

// Every report written to the interfaces of one serial number, as hex, in order.
inline QStringList writes(const QString& serial, quint16 usage_page = 0) {
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

}  // namespace SimBus
