#include "mediator/devicereadcache.h"

#include <utility>

namespace UIMediator {

namespace {

bool shows(const Io::IoDeviceInfoList& devices, const QByteArray& path) {
    for (const Io::IoDeviceInfo& device : devices) {
        for (auto it = device.paths().cbegin(); it != device.paths().cend(); ++it) {
            if (*it == path) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

DeviceReadCache::DeviceReadCache(Reader reader) : m_reader(std::move(reader)) {
    m_clock.start();
}

DeviceReadCache::~DeviceReadCache() {
    m_stopping.store(true);
    if (m_retryThread.joinable()) {
        m_retryThread.join();
    }
}

void DeviceReadCache::setRetryPause(int ms) {
    const std::lock_guard<std::mutex> locker(m_mutex);
    m_retryPauseMs = ms;
}

Global::Version DeviceReadCache::read(Query query, const Io::DeviceId& id, const QByteArray& path) {
    {
        const std::lock_guard<std::mutex> locker(m_mutex);
        const auto it = answers(query).find(path);
        if (it != answers(query).end()) {
            const bool due =
                !it->value.isValid() && it->retry == 0 && m_clock.elapsed() - it->askedAtMs >= m_retryPauseMs;
            if (due && startRetry(query, id, path, m_lastRetry + 1)) {
                it->retry = ++m_lastRetry;
            }
            return it->value;
        }
    }
    // Outside the lock: the exchange may take a whole reply time-out, and the worker's scans must not wait
    // for it here.
    const Global::Version value = m_reader(query, id, path, nullptr);
    const std::lock_guard<std::mutex> locker(m_mutex);
    Answer& answer = answers(query)[path];
    answer.value = value;
    answer.askedAtMs = m_clock.elapsed();
    answer.retry = 0;
    return value;
}

void DeviceReadCache::keepOnly(const Io::IoDeviceInfoList& devices) {
    const std::lock_guard<std::mutex> locker(m_mutex);
    for (Answers* known : {&m_versions, &m_revisions}) {
        for (auto it = known->begin(); it != known->end();) {
            it = shows(devices, it.key()) ? std::next(it) : known->erase(it);
        }
    }
}

bool DeviceReadCache::startRetry(Query query, const Io::DeviceId& id, const QByteArray& path, quint64 retry) {
    if (m_stopping.load() || m_retryRunning.load()) {
        return false;
    }
    // The last retry has left its body; what remains of its thread ends at once.
    if (m_retryThread.joinable()) {
        m_retryThread.join();
    }
    m_retryRunning.store(true);
    m_retryThread = std::thread([this, query, id, path, retry] {
        finishRetry(query, path, retry, m_reader(query, id, path, &m_stopping));
        m_retryRunning.store(false);
    });
    return true;
}

void DeviceReadCache::finishRetry(Query query, const QByteArray& path, quint64 retry,
                                  const Global::Version& value) {
    const std::lock_guard<std::mutex> locker(m_mutex);
    const auto it = answers(query).find(path);
    // A path that left the bus meanwhile was forgotten, and one that came back belongs to a new appearance.
    if (it == answers(query).end() || it->retry != retry) {
        return;
    }
    it->value = value;
    it->askedAtMs = m_clock.elapsed();
    it->retry = 0;
}

}  // namespace UIMediator
