#include "tests/fuzz/fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "plugin/plugin.h"

namespace dawnstep::fuzzing {
namespace {

// Memory-backed when the machine has it: rewriting a file per input on a
// disk file system costs a block discard each time, a hundred times the
// input's own work.
std::filesystem::path ScratchParent() {
  const std::filesystem::path memory = "/dev/shm";
  if (access(memory.c_str(), W_OK | X_OK) == 0) return memory;
  return std::filesystem::temp_directory_path();
}

class Scratch {
 public:
  Scratch() {
    std::string pattern = (ScratchParent() / "dawnstep-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
    setenv("DAWNSTEP_ROOT", path.c_str(), 1);
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }

  std::string path;
};

}  // namespace

const std::string& ScratchRoot() {
  static Scratch scratch;
  return scratch.path;
}

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

void ClearRegistry() {
  Plugin::Registry& registry = Plugin::registry();
  registry.disabledNames.clear();
  registry.pendingPlugins.clear();
  registry.providers.clear();
  registry.interactiveTags.clear();
  registry.runOnceCount = 0;
}

}  // namespace dawnstep::fuzzing
