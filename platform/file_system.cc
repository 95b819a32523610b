#include "platform/file_system.h"

#include <sys/stat.h>

namespace dawnstep {

bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

}  // namespace dawnstep
