/* Its start ends the process with status 7. */
#include <stdlib.h>

#include "dawnstep/native_plugin.h"

static int32_t Start(void) { exit(7); }

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = 1};
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
