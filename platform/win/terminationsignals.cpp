#include "platform/terminationsignals.h"

namespace Platform {

bool watchTerminationSignals(QObject* /*owner*/, std::function<void(int signal)> /*onSignal*/) {
    return false;
}

}  // namespace Platform
