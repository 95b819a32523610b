#include "platform/root.h"

#include <cstdlib>

namespace dawnstep {

std::string RootPath(const std::string& fixed_path) {
  const char* root = std::getenv("DAWNSTEP_ROOT");
  if (root == nullptr || *root == '\0') return fixed_path;
  return root + fixed_path;
}

}  // namespace dawnstep
