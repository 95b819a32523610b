/* Version 5: a preemptive provider of "net". */
#include <stdio.h>

#include "dawnstep/native_plugin.h"

static const char* const provides_tags[] = {"net", NULL};

static int32_t Start(void) {
  puts("v5: start ran");
  fflush(stdout);
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = 5,
    .requires_ = NULL,
    .provides = provides_tags,
    .plugin_version = "5.0",
    .run_once = 0,
    .required_flags = NULL,
    .disabling_flags = NULL,
    .preemptive_provider = 1,
};

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {
    .start = Start,
    .apply_host_profile = NULL,
};
