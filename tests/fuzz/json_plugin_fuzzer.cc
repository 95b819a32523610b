// A plugin file's bytes become a registered plugin or a clean refusal.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "json/json_plugin.h"
#include "tests/fuzz/fuzz_support.h"

namespace dawnstep::fuzzing {
namespace {

const std::string& PluginPath() {
  static const std::string path = [] {
    std::filesystem::create_directories(ScratchRoot() + "/plugins");
    return ScratchRoot() + "/plugins/net-setup.json";
  }();
  return path;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  Require(file.good(), "the plugin file was written");
}

bool ParsesToObject(const uint8_t* data, size_t size) {
  return nlohmann::json::parse(data, data + size, nullptr, false).is_object();
}

void CheckLoaded(const JsonPlugin& plugin) {
  const Plugin::Registry& registry = Plugin::registry();
  Require(registry.pendingPlugins.size() == 1 && registry.pendingPlugins.front() == &plugin,
          "a loaded plugin is registered once");
  Require(plugin.name == "net-setup", "the name is the base name without extension");
  Require(plugin.Provides(Plugin::kJsonKind), "a JSON plugin provides its kind tag");
  Require(plugin.apiVersion >= 1 && plugin.apiVersion <= 5, "the API version is supported");
  Require(plugin.nothingToStart == plugin.startCommands.empty(),
          "only an empty start list leaves nothing to start");
  Require(plugin.hostProfileAware || plugin.hostProfileCommands.empty(),
          "host profile commands only in an aware plugin");
  Require(!plugin.hostProfileAware || plugin.apiVersion >= 2,
          "version 1 never reads host profile commands");
  Require(!plugin.disabled, "nothing disabled the plugin");
  for (const std::string& tag : plugin.provides) {
    if (registry.kindTags.count(tag) != 0) continue;
    auto [first, last] = registry.providers.equal_range(tag);
    Require(std::distance(first, last) == 1 && first->second == &plugin,
            "every provided tag names the plugin");
  }
}

void CheckRefused(const Exception& refusal, bool parsesToObject) {
  const std::string text = refusal.what();
  const bool kindFailure = text.starts_with('\'') && text.find("' is not a '") != std::string::npos;
  const bool versionFailure = text.starts_with("Unsupported API version: ");
  Require(kindFailure || versionFailure, "a refusal names the check that failed");
  Require(parsesToObject == (text != "'value' is not a 'JsonObject'"),
          "only a file that holds no object fails the first check");
  Require(Plugin::registry().pendingPlugins.empty() && Plugin::registry().providers.empty(),
          "a refused file registers nothing");
}

}  // namespace
}  // namespace dawnstep::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dawnstep;
  using namespace dawnstep::fuzzing;
  const std::string& path = PluginPath();
  WriteFile(path, data, size);
  const bool parsesToObject = ParsesToObject(data, size);
  try {
    // JsonPlugin is final, so deleting it here frees exactly what the
    // constructor made; the program itself never frees a plugin.
    JsonPlugin* plugin = new JsonPlugin(path);
    Require(parsesToObject, "a loaded file holds an object");
    CheckLoaded(*plugin);
    delete plugin;
  } catch (const Exception& refusal) {
    CheckRefused(refusal, parsesToObject);
  }
  ClearRegistry();
  return 0;
}
