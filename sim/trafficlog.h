#pragma once

#include <QByteArray>
#include <QVector>
#include <deque>

#include "sim/hidsim.h"

namespace HidSim {

struct SimInterface;

// What went over the bus, newest last, bounded so that a long run does not grow without end. Lives under
// the bus lock.
class TrafficLog {
public:
    void record(TrafficKind kind, const SimInterface& interface, const QByteArray& bytes, int result);

    [[nodiscard]] QVector<TrafficEntry> entries(const TrafficFilter& filter) const;
    [[nodiscard]] int count(const TrafficFilter& filter) const;
    // Sequence numbers go on across a clear, so that a test can tell old entries from new ones.
    void clear();
    void setLimit(int entries);

private:
    [[nodiscard]] static bool matches(const TrafficEntry& entry, const TrafficFilter& filter);

    std::deque<TrafficEntry> m_entries;
    int m_limit = 10000;
    quint64 m_sequence = 0;
};

}  // namespace HidSim
