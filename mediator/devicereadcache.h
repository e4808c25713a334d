#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "base/nocopyable.h"
#include "io/deviceid.h"
#include "io/iodeviceinfo.h"
#include "io/version.h"

namespace UIMediator {

// What each interface answered when asked for its firmware version or revision, kept for as long as it
// stays on the bus. Firmware cannot change without the device leaving the bus and coming back under new
// paths, so one answer per path is enough. The first asking of a path reads on the caller's thread, so
// that the answer is there at once; an interface that did not answer is asked again at most once per
// retry pause, on a thread of its own, while the askers get the failure that is known: otherwise a silent
// device would hold the GUI thread for a whole reply time-out at every poll.
class DeviceReadCache : private Utils::NoCopyable {
public:
    enum class Query { Version, Revision };
    // One exchange with the interface at path. A retry passes give_up: the exchange should then wait for
    // its reply outside the HID lock and end once give_up is set.
    using Reader = std::function<Global::Version(Query query, const Io::DeviceId& id, const QByteArray& path,
                                                 const std::atomic<bool>* give_up)>;

    explicit DeviceReadCache(Reader reader);
    // Ends a running retry at once and waits for its thread.
    ~DeviceReadCache();

    // How long after a failed read the next one may start; the pause of an earlier failure changes too.
    void setRetryPause(int ms);

    [[nodiscard]] Global::Version read(Query query, const Io::DeviceId& id, const QByteArray& path);
    // Forgets every path that the scan no longer shows: its next appearance is read anew.
    void keepOnly(const Io::IoDeviceInfoList& devices);

private:
    struct Answer {
        Global::Version value;
        qint64 askedAtMs = 0;
        quint64 retry = 0;  // the retry under way, 0 when none
    };
    using Answers = QHash<QByteArray, Answer>;

    Answers& answers(Query query) { return query == Query::Version ? m_versions : m_revisions; }
    // Under m_mutex. False when another retry still runs: this one waits for a later asking.
    bool startRetry(Query query, const Io::DeviceId& id, const QByteArray& path, quint64 retry);
    void finishRetry(Query query, const QByteArray& path, quint64 retry, const Global::Version& value);

    const Reader m_reader;
    std::mutex m_mutex;
    Answers m_versions;
    Answers m_revisions;
    QElapsedTimer m_clock;
    int m_retryPauseMs = 5000;
    quint64 m_lastRetry = 0;
    std::thread m_retryThread;
    std::atomic<bool> m_retryRunning{false};
    std::atomic<bool> m_stopping{false};
};

}  // namespace UIMediator
