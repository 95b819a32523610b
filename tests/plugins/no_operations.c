/* Exports the metadata record only. */
#include "dawnstep/native_plugin.h"

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = 1};
