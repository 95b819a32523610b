/* Its start sends SIGNAL_TO_SEND to its own process, then reports success. */
#include <signal.h>
#include <unistd.h>

#include "dawnstep/native_plugin.h"

static int32_t Start(void) {
  kill(getpid(), SIGNAL_TO_SEND);
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = 1};
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
