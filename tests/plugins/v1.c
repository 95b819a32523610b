/* Version 1 with every later field filled in: none of them may be read. */
#include <stdio.h>

#include "dawnstep/native_plugin.h"

static const char* const requires_tags[] = {"base", NULL};
static const char* const provides_tags[] = {"net", "disk", "net", NULL};
static const char* const flags[] = {"ignored", NULL};

static int32_t Start(void) {
  puts("v1: start ran");
  fflush(stdout);
  return 0;
}

static int32_t ApplyHostProfile(void) {
  puts("v1: apply_host_profile ran");
  fflush(stdout);
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = 1,
    .requires_ = requires_tags,
    .provides = provides_tags,
    .plugin_version = "ignored",
    .run_once = 1,
    .required_flags = flags,
    .disabling_flags = flags,
    .preemptive_provider = 1,
};

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {
    .start = Start,
    .apply_host_profile = ApplyHostProfile,
};
