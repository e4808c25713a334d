#include "sim/updatemodehandler.h"

#include <atomic>

namespace HidSim {

namespace {
// Constant-initialised, so a registration from another file's static initialiser always finds it ready.
std::atomic<UpdateModeHandlerFactory> g_factory{nullptr};
}  // namespace

void setUpdateModeHandlerFactory(UpdateModeHandlerFactory factory) {
    g_factory.store(factory);
}

UpdateModeHandlerFactory updateModeHandlerFactory() {
    return g_factory.load();
}

}  // namespace HidSim
