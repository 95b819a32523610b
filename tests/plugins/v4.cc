// Version 4 in C++: reads what version 3 reads, so the preemptive byte
// set here must be ignored.
#include <cstdio>

#include "dawnstep/native_plugin.h"

namespace {

const char* const requires_tags[] = {"net", nullptr};
const char* const provides_tags[] = {"storage", nullptr};
const char* const disabling_flags[] = {"da", nullptr};

int32_t Start() {
  std::puts("v4: start ran");
  std::fflush(stdout);
  return 0;
}

int32_t ApplyHostProfile() {
  std::puts("v4: apply_host_profile ran");
  std::fflush(stdout);
  return 0;
}

}  // namespace

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = 4,
    .requires_ = requires_tags,
    .provides = provides_tags,
    .plugin_version = "4.1",
    .run_once = 2,
    .required_flags = nullptr,
    .disabling_flags = disabling_flags,
    .preemptive_provider = 1,
};

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {
    .start = Start,
    .apply_host_profile = ApplyHostProfile,
};
