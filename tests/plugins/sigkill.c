/* Its start names its process on standard output, then kills it. */
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "dawnstep/native_plugin.h"

static int32_t Start(void) {
  printf("sigkill: worker %ld\n", (long)getpid());
  fflush(stdout);
  kill(getpid(), SIGKILL);
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = 1};
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
