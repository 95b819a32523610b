/*
 * Its start closes every descriptor above the standard three, the worker's
 * pipe ends included, and puts one end of a socket pair in their place: the
 * worker can still write its answer and then waits for a request that never
 * comes, while its real answer pipe is closed.
 */
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dawnstep/native_plugin.h"

static int32_t Start(void) {
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 1;
  /* The far end stays open out of the way, so reads block for good. */
  if (fcntl(ends[1], F_DUPFD, 1000) < 0) return 1;
  close(ends[1]);
  for (int fd = 3; fd < 64; ++fd) {
    if (fd != ends[0]) dup2(ends[0], fd);
  }
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = 1};
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
