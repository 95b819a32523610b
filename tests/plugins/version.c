/* Built once per API version given as PLUGIN_API_VERSION. */
#include "dawnstep/native_plugin.h"

static int32_t Start(void) { return 0; }

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = PLUGIN_API_VERSION};
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
