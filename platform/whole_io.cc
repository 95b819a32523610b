#include "platform/whole_io.h"

#include <unistd.h>

#include <cerrno>

namespace dawnstep {

bool WriteWhole(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t put = write(fd, at, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    at += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

ssize_t WriteOnce(int fd, const void* data, size_t size) {
  ssize_t written;
  do {
    written = write(fd, data, size);
  } while (written < 0 && errno == EINTR);
  return written;
}

}  // namespace dawnstep
