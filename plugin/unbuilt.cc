// Entry points whose subsystems are still being built. Each definition here
// leaves as its real one lands.
#include "plugin/plugin.h"
#include "worker/worker.h"

namespace dawnstep {

void Plugin::LoadBuiltins() {}

void Plugin::ActivatePlugins(ActivateFlags&) {}

void Worker::LimitWorkers(int) {}

}  // namespace dawnstep
