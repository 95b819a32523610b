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

bool ReadWhole(int fd, void* data, size_t size) {
  char* at = static_cast<char*>(data);
  while (size > 0) {
    ssize_t got = read(fd, at, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    size -= static_cast<size_t>(got);
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
