/* Exports the operations table only. */
#include "dawnstep/native_plugin.h"

static int32_t Start(void) { return 0; }

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
