#include "analyze/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace dawnstep::analyze {
namespace {

// "DIR/.NAME.XXXXXX" for "DIR/NAME": the same file system, so rename is atomic.
std::string TemporaryTemplate(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return directory + "." + name + ".XXXXXX";
}

bool WriteAll(int fd, const std::string& content) {
  size_t written = 0;
  while (written < content.size()) {
    ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& content) {
  std::string temporary = TemporaryTemplate(path);
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot write " + path + ": " + strerror(errno));
  bool done = fchmod(fd, 0644) == 0 && WriteAll(fd, content) && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && done) {
    done = false;
    error = errno;
  }
  if (done && rename(temporary.c_str(), path.c_str()) != 0) {
    done = false;
    error = errno;
  }
  if (!done) {
    unlink(temporary.c_str());
    throw std::runtime_error("cannot write " + path + ": " + strerror(error));
  }
}

}  // namespace dawnstep::analyze
