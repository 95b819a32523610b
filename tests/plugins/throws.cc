// Entries that throw: a standard exception from start, something else
// from the host-profile entry.
#include <stdexcept>

#include "dawnstep/native_plugin.h"

namespace {

int32_t Start() { throw std::runtime_error("start blew up"); }

int32_t ApplyHostProfile() { throw 42; }

}  // namespace

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = 2,
    .requires_ = nullptr,
    .provides = nullptr,
    .plugin_version = nullptr,
    .run_once = 0,
    .required_flags = nullptr,
    .disabling_flags = nullptr,
    .preemptive_provider = 0,
};

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {
    .start = Start,
    .apply_host_profile = ApplyHostProfile,
};
