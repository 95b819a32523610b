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
  // Loads the library in the main process, with the metadata the probe
  // read from it (PackedMetadata): this process never reads library memory.
  NativePlugin(const std::string& path, const std::string& packedMetadata);

  bool Activate(ActivateFlags flags) override;

  // Loads and reads the library as the main process will, without entering
  // the plugin in the registry, then closes it: the probe's trial. Returns
  // what it read, packed.
  static std::string LoadUnregistered(const std::string& path);

 private:
  explicit NativePlugin(const std::string& path);

  void Open(const std::string& path);
  void ReadMetadata();
  std::string PackedMetadata() const;
  void UnpackMetadata(const std::string& packed);

  void* library = nullptr;
};

// The plugin name for a library path: the base name without its last
// extension and without a leading "lib". Throws std::out_of_range when the
// base name has no ".".
std::string NativePluginName(const std::string& path);

}  // namespace dawnstep
