#include "sim/hidsim.h"

#include "sim/bus.h"
#include "sim/devicemodel.h"
#include "sim/scenario.h"

namespace HidSim {

void reset() {
    Bus::instance().reset();
}

bool loadScenario(const QByteArray& json, QString* error) {
    QVector<DeviceSetup> devices;
    Timings timings;
    QString problem;
    QStringList warnings;
    const bool ok = Scenario::parse(json, &devices, &timings, &problem, &warnings);
    Bus::instance().load(ok ? devices : QVector<DeviceSetup>(), ok ? timings : Timings());
    if (error)
        *error = problem;
    return ok;
}

bool loadScenarioFile(const QString& path, QString* error) {
    QVector<DeviceSetup> devices;
    Timings timings;
    QString problem;
    QStringList warnings;
    const bool ok = Scenario::parseFile(path, &devices, &timings, &problem, &warnings);
    Bus::instance().load(ok ? devices : QVector<DeviceSetup>(), ok ? timings : Timings());
    if (error)
        *error = problem;
    return ok;
}

int plug(const DeviceSetup& setup) {
    return Bus::instance().plug(setup);
}

bool unplug(int id) {
    return Bus::instance().unplug(id);
}

int unplugSerial(const QString& serial) {
    int count = 0;
    for (int id : findSerial(serial))
        count += unplug(id) ? 1 : 0;
    return count;
}

bool replug(int id, int afterMs) {
    return Bus::instance().replug(id, afterMs);
}

bool setFaults(int id, const Faults& faults, quint16 usagePage) {
    return Bus::instance().withDevice(id, [&](SimDevice& device) {
        device.faults[usagePage] = faults;
        device.writesUntilUnplug = faults.unplugAfterWrites;
    });
}

bool setFirmware(int id, const QString& firmware) {
    DeviceModel::Firmware parsed;
    QString error;
    if (!DeviceModel::parseFirmware(firmware, &parsed, &error))
        return false;
    return Bus::instance().withDevice(id, [&](SimDevice& device) { device.setup.firmware = firmware; });
}

bool setRevision(int id, int revision) {
    if (revision < 0 || revision > 0xff)
        return false;
    return Bus::instance().withDevice(id, [&](SimDevice& device) { device.setup.revision = revision; });
}

bool setRepair(int id, const RepairScript& script) {
    return Bus::instance().withDevice(id, [&](SimDevice& device) {
        device.setup.repair = script;
        device.pollsWhilePairing = 0;
    });
}

bool setLink(int id, const Link& link) {
    if (link.ackLatencyMs < 0 || link.ackJitterMs < 0 || link.unsolicitedEveryMs < 0)
        return false;
    return Bus::instance().setLink(id, link);
}

bool setMode(int id, Mode mode, int afterMs) {
    return Bus::instance().setMode(id, mode, afterMs);
}

void setTimings(const Timings& timings) {
    Bus::instance().setTimings(timings);
}

Timings timings() {
    return Bus::instance().timings();
}

QVector<DeviceState> devices() {
    return Bus::instance().devices();
}

QVector<int> findSerial(const QString& serial) {
    QVector<int> ids;
    for (const DeviceState& state : devices()) {
        if (!state.serial.isNull() && state.serial == serial)
            ids.append(state.id);
    }
    return ids;
}

DeviceState device(int id) {
    for (const DeviceState& state : devices()) {
        if (state.id == id)
            return state;
    }
    return DeviceState();
}

QVector<TrafficEntry> traffic(const TrafficFilter& filter) {
    return Bus::instance().traffic(filter);
}

int count(const TrafficFilter& filter) {
    return Bus::instance().count(filter);
}

void clearTraffic() {
    Bus::instance().clearTraffic();
}

void setAnnouncing(bool announcing) {
    Bus::instance().setAnnouncing(announcing);
}

int enumerations() {
    return Bus::instance().enumerations();
}

void setTrafficLimit(int entries) {
    Bus::instance().setTrafficLimit(entries);
}

bool startControl(const QString& path, QString* error) {
    QString problem;
    const bool ok = Bus::instance().startControl(path, &problem);
    if (error)
        *error = problem;
    return ok;
}

QString deviceTypeName(DeviceType type) {
    switch (type) {
        case DeviceType::SorrelHeadset:
            return QStringLiteral("SorrelHeadset");
        case DeviceType::SorrelReceiver:
            return QStringLiteral("SorrelReceiver");
        case DeviceType::SorrelPlusHeadset:
            return QStringLiteral("SorrelPlusHeadset");
        case DeviceType::SorrelPlusReceiver:
            return QStringLiteral("SorrelPlusReceiver");
        case DeviceType::Unknown:
            break;
    }
    return QStringLiteral("Unknown");
}

}  // namespace HidSim
