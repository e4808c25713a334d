#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <initializer_list>

#include "sim/hidsim.h"

Q_DECLARE_METATYPE(HidSim::DeviceSetup)
Q_DECLARE_METATYPE(QVector<HidSim::DeviceSetup>)

// The simulated bus as the suites drive it: short timings, devices to plug, the traffic log counted.
namespace TestSupport {

// Devices leave and come back within 50 ms and take image reports as fast as they come; the product's
// real waits stay in the suites that test them.
[[nodiscard]] HidSim::Timings fastBusTimings();

// A device of a known type; the bus's own defaults (firmware 1.0.0, revision 0) stand for the rest.
[[nodiscard]] HidSim::DeviceSetup device(HidSim::DeviceType type, const QString& serial,
                                         HidSim::Mode mode = HidSim::Mode::Normal);
[[nodiscard]] HidSim::DeviceSetup device(HidSim::DeviceType type, const QString& serial,
                                         const QString& firmware, int revision = 0,
                                         HidSim::Mode mode = HidSim::Mode::Normal);
// One interface with raw ids, the way a keyboard or a mouse shows up.
[[nodiscard]] HidSim::DeviceSetup foreign(quint16 vendor_id, quint16 product_id, quint16 usage_page,
                                          quint16 usage, const QString& serial);

// Plugs a device as a person finds it in a shop: the given firmware and the revision byte 3 of a
// shipped headset. Returns the simulator's id.
int plug(HidSim::DeviceType type, const QString& serial, const QString& firmware = QStringLiteral("1.45.0"),
         HidSim::Mode mode = HidSim::Mode::Normal, const HidSim::RepairScript& repair = {});

[[nodiscard]] HidSim::Interface interfaceOf(int id, quint16 usage_page);
[[nodiscard]] QByteArray pathOf(int id, quint16 usage_page);

// Entries of the traffic log of any of the kinds; an empty serial, a zero page, an empty prefix match all.
[[nodiscard]] int count(std::initializer_list<HidSim::TrafficKind> kinds, const QString& serial = {},
                        quint16 usage_page = 0, const QByteArray& prefix = {});
[[nodiscard]] int countOf(HidSim::TrafficKind kind, const QString& serial = {});
// Output and feature reports that reached interfaces with this usage page (0: any).
[[nodiscard]] int reportsWritten(quint16 usage_page, const QString& serial = {},
                                 const QByteArray& prefix = {});
// Every output report written to the interfaces of one serial number, as hex, in order.
[[nodiscard]] QStringList writes(const QString& serial, quint16 usage_page = 0);

enum class Fault { None, OpenFails, WriteFails, ReadFails, ReadTimeout, UnplugAfterFirstWrite };
[[nodiscard]] HidSim::Faults faultsOf(Fault fault);

// Polls until the predicate holds or the time is up, without an event loop: the bus changes on its own
// timer thread.
template <typename Predicate>
bool waitFor(Predicate predicate, int timeout_ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!predicate()) {
        if (timer.elapsed() > timeout_ms) {
            return false;
        }
        QThread::msleep(5);
    }
    return true;
}

}  // namespace TestSupport
