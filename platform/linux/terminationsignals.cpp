#include "platform/terminationsignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "base/logging.h"

namespace Platform {

namespace {

int g_signalPair[2] = {-1, -1};

void onTerminationSignal(int signal) {
    const int saved = errno;
    const char byte = char(signal);
    // A full buffer already holds a request that has not been served.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPair[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool watchTerminationSignals(QObject* owner, std::function<void(int signal)> onSignal) {
    if (g_signalPair[0] >= 0) {
        return false;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalPair) != 0) {
        qCWarning(lcPlatform) << "cannot watch for termination signals:" << std::strerror(errno);
        return false;
    }
    auto* notifier = new QSocketNotifier(g_signalPair[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [onSignal = std::move(onSignal)] {
        char signal = 0;
        while (::read(g_signalPair[0], &signal, 1) > 0) {
        }
        onSignal(signal);
    });
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
            continue;
        }
        action = {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
    return true;
}

}  // namespace Platform
