#pragma once

#include <string>

#include "plugin/exception.h"
#include "plugin/plugin.h"

namespace dawnstep {

// A library lacks one of the symbols of the native plugin contract.
class SymbolException : public Exception {
 public:
  explicit SymbolException(const char* symbol) : Exception("missing '%s'", symbol) {}
};

// A plugin whose work is an entry point of a shared library. The library
// is loaded by the constructor, in the main process, and stays loaded for
// the life of the process, so every forked worker has it too.
class NativePlugin final : public Plugin {
 public:
  explicit NativePlugin(const std::string& path) : NativePlugin(path, true) {}

  bool Activate(ActivateFlags flags) override;

  // Loads and reads the library as the constructor does, without entering
  // the plugin in the registry, then closes it: the probe's trial.
  static void LoadUnregistered(const std::string& path);

 private:
  NativePlugin(const std::string& path, bool registering);

  void ReadMetadata();

  void* library = nullptr;
};

// The plugin name for a library path: the base name without its last
// extension and without a leading "lib". Throws std::out_of_range when the
// base name has no ".".
std::string NativePluginName(const std::string& path);

}  // namespace dawnstep
