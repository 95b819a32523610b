#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "plugin/plugin.h"

namespace dawnstep::fuzzing {

// A fresh directory that DAWNSTEP_ROOT points at until the process exits, so
// no fixed path a target reaches is the machine's own. In memory when it can
// be: a file rewritten per input on disk costs more than the input's work.
inline const std::string& ScratchRoot() {
  static struct Scratch {
    std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/dawnstep-fuzz-XXXXXX";
    Scratch() {
      if (mkdtemp(path.data()) == nullptr) abort();
      setenv("DAWNSTEP_ROOT", path.c_str(), 1);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
  } scratch;
  return scratch.path;
}

// A failed property ends the run; libFuzzer keeps the input that broke it.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

// Empties the registry in place: a reset that retired it would keep every
// input's plugins alive, while the targets free their own.
inline void ClearRegistry() {
  Plugin::Registry& registry = Plugin::registry();
  registry.disabledNames.clear();
  registry.pendingPlugins.clear();
  registry.providers.clear();
  registry.interactiveTags.clear();
  registry.runOnceCount = 0;
}

}  // namespace dawnstep::fuzzing
