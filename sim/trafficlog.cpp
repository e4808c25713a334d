#include "sim/trafficlog.h"

#include <algorithm>

#include "sim/simdevice.h"
#include "sim/siminterface.h"

namespace HidSim {

void TrafficLog::record(TrafficKind kind, const SimInterface& interface, const QByteArray& bytes,
                        int result) {
    TrafficEntry entry;
    entry.sequence = ++m_sequence;
    entry.kind = kind;
    if (interface.device) {
        entry.deviceId = interface.device->id();
        entry.serial = interface.device->setup.serial;
    }
    entry.path = interface.id.path;
    entry.vendorId = interface.id.vendorId;
    entry.productId = interface.id.productId;
    entry.usagePage = interface.id.usagePage;
    entry.bytes = bytes;
    entry.result = result;
    m_entries.push_back(std::move(entry));
    while (int(m_entries.size()) > m_limit)
        m_entries.pop_front();
}

bool TrafficLog::matches(const TrafficEntry& entry, const TrafficFilter& filter) {
    if (filter.kind >= 0 && int(entry.kind) != filter.kind)
        return false;
    if (!filter.serial.isNull() && entry.serial != filter.serial)
        return false;
    if (filter.usagePage && entry.usagePage != filter.usagePage)
        return false;
    return filter.prefix.isEmpty() || entry.bytes.startsWith(filter.prefix);
}

QVector<TrafficEntry> TrafficLog::entries(const TrafficFilter& filter) const {
    QVector<TrafficEntry> out;
    for (const TrafficEntry& entry : m_entries) {
        if (matches(entry, filter))
            out.append(entry);
    }
    return out;
}

int TrafficLog::count(const TrafficFilter& filter) const {
    return int(std::count_if(m_entries.begin(), m_entries.end(),
                             [&filter](const TrafficEntry& e) { return matches(e, filter); }));
}

void TrafficLog::clear() {
    m_entries.clear();
}

void TrafficLog::setLimit(int entries) {
    m_limit = std::max(1, entries);
    while (int(m_entries.size()) > m_limit)
        m_entries.pop_front();
}

}  // namespace HidSim
