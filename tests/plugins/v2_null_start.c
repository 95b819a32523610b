/* Version 2: nothing to start, a host-profile entry, an empty tag list. */
#include <stdio.h>

#include "dawnstep/native_plugin.h"

static const char* const no_tags[] = {NULL};

static int32_t ApplyHostProfile(void) {
  puts("v2: apply_host_profile ran");
  fflush(stdout);
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = 2,
    .requires_ = NULL,
    .provides = no_tags,
};

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {
    .start = NULL,
    .apply_host_profile = ApplyHostProfile,
};
