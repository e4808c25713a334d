#include "updater/globalid.h"

#include <atomic>

namespace Global {

namespace {

std::atomic<qint32> g_counter{0};

}  // namespace

Id Id::nextId() {
    // The fetch-and-add below wraps to the smallest value after the largest one (two's complement in
    // std::atomic, no undefined overflow); a negative counter restarts the sequence at 0.
    if (g_counter.load() < 0) {
        qint32 observed = g_counter.load();
        while (observed < 0 && !g_counter.compare_exchange_weak(observed, 0)) {
        }
    }
    return Id(g_counter.fetch_add(1));
}

}  // namespace Global
