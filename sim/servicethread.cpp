#include "sim/servicethread.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <utility>

#include "sim/controlserver.h"

namespace HidSim {

ServiceThread::ServiceThread(std::mutex& busMutex, Tick tick) : m_mutex(busMutex), m_tick(std::move(tick)) {
    if (::pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wakeFds[0] = m_wakeFds[1] = -1;
}

ServiceThread::~ServiceThread() {
    stop();
    if (m_pendingListenFd >= 0)
        ::close(m_pendingListenFd);
    for (int fd : m_wakeFds) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ServiceThread::start() {
    m_thread = std::thread([this] { run(); });
}

void ServiceThread::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void ServiceThread::wake() {
    if (m_wakeFds[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wakeFds[1], &byte, 1);
    }
}

void ServiceThread::run() {
    ControlServer control;
    for (;;) {
        int timeoutMs = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                break;
            timeoutMs = m_tick();
            if (m_controlChanged) {
                control.adopt(m_pendingListenFd, m_pendingListenPath);
                m_pendingListenFd = -1;
                m_pendingListenPath.clear();
                m_controlChanged = false;
            }
        }
        // Requests call back into the bus, so they run with the lock released.
        control.poll(m_wakeFds[0], timeoutMs);
    }
    control.adopt(-1, std::string());
}

bool ServiceThread::startControl(const QString& path, QString* error) {
    int fd = -1;
    if (!path.isEmpty()) {
        fd = ControlServer::listen(path, error);
        if (fd < 0)
            return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pendingListenFd >= 0)
            ::close(m_pendingListenFd);
        m_pendingListenFd = fd;
        // A plain byte string: the service thread keeps it, and a QString shared with this thread would be
        // released inside Qt, where the race detector cannot see the reference count.
        m_pendingListenPath = QFile::encodeName(path).toStdString();
        m_controlChanged = true;
    }
    wake();
    return true;
}

}  // namespace HidSim
