#pragma once

#include <functional>

class QObject;

namespace Platform {

// SIGTERM, SIGHUP and SIGINT (a logout, a shutdown, Ctrl-C, a fleet tool that gives up) arrive as calls of
// onSignal with the signal's number, on the event loop of owner's thread: the handler itself only wakes
// that loop, as a handler may do next to nothing safely. A signal that was ignored when the process
// started (nohup, a background job) stays ignored. Once per process. Returns false when nothing is
// watched: it could not be set up, or the platform has no such signals (Windows ends a windowed program
// by closing its windows).
bool watchTerminationSignals(QObject* owner, std::function<void(int signal)> onSignal);

}  // namespace Platform
