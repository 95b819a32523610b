#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "plugin/plugin.h"

// A failed property ends the run; libFuzzer keeps the input that broke it.
#define REQUIRE(property) \
  ((property) ? void() : (std::fprintf(stderr, "property failed: %s\n", #property), abort()))

namespace dawnstep::fuzzing {

// DAWNSTEP_ROOT at a fresh directory until exit, in memory when it can be:
// a file rewritten per input on disk costs more than the input's own work.
inline const std::string& ScratchRoot() {
  static struct Scratch {
    std::string path = access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz-XXXXXX" : "/tmp/fuzz-XXXXXX";
    Scratch() { setenv("DAWNSTEP_ROOT", mkdtemp(path.data()) ? path.c_str() : (abort(), ""), 1); }
    ~Scratch() { std::filesystem::remove_all(path); }
  } scratch;
  return scratch.path;
}

// Empties the registry in place: the targets free their own plugins, which
// a reset that retired the registry would keep alive.
inline void ClearRegistry() {
  Plugin::Registry& registry = Plugin::registry();
  registry.disabledNames.clear();
  registry.registered.clear();
  registry.pendingPlugins.clear();
  registry.providers.clear();
  registry.interactiveTags.clear();
  registry.runOnceCount = 0;
}

}  // namespace dawnstep::fuzzing
