#pragma once

#include <QString>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace HidSim {

// The library's own thread: it carries out the bus's timed changes and serves the control socket. It
// sleeps in poll() on a wake pipe, the control socket and its clients, never longer than the bus says.
class ServiceThread {
public:
    // Runs with the bus lock held: carries out what is due and answers how long the thread may sleep
    // (-1: until woken).
    using Tick = std::function<int()>;

    ServiceThread(std::mutex& busMutex, Tick tick);
    ~ServiceThread();
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    void start();
    // Joins the thread, which closes the control socket; call it without the bus lock.
    void stop();
    // Safe with or without the bus lock.
    void wake();
    // Binds on this thread, so that the caller learns at once whether the path is usable; the service
    // thread takes the socket over. An empty path stops listening. Call it without the bus lock.
    bool startControl(const QString& path, QString* error);

private:
    void run();

    std::mutex& m_mutex;
    Tick m_tick;
    int m_wakeFds[2] = {-1, -1};
    // Under the bus lock: a socket handed over to the thread, and whether it stops.
    int m_pendingListenFd = -1;
    std::string m_pendingListenPath;
    bool m_controlChanged = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace HidSim
