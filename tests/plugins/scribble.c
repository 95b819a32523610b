/* Its start writes junk into every pipe it can find, the worker's own included. */
#include <sys/stat.h>
#include <unistd.h>

#include "dawnstep/native_plugin.h"

static int32_t Start(void) {
  static const char junk[40] = "not a worker response, just junk bytes";
  for (int fd = 3; fd < 1024; ++fd) {
    struct stat status;
    if (fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode)) {
      if (write(fd, junk, sizeof junk) < 0) continue;
    }
  }
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = 1};
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
