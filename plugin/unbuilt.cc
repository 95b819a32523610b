// Entry points whose subsystems are still being built. Each definition here
// leaves as its real one lands.
#include "main/logging.h"
#include "plugin/plugin.h"

namespace dawnstep {

void Plugin::LoadJsonPlugin(const std::string&) { throw Exception("unknown type"); }

void Plugin::LoadNativePlugin(const std::string&) { throw Exception("unknown type"); }

uint32_t Plugin::DebugAction(const std::string&) { return 0; }

void Plugin::DumpPluginsRequiring(const std::string&) {}

void Plugin::DumpPluginsProviding(const std::string&) {}

void Plugin::ListTags() {}

void init_logging(const char*) {}

void init_fds(const char*) {}

}  // namespace dawnstep
