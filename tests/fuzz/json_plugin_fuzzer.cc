// A plugin file's bytes become a registered plugin or a clean refusal.
#include <fstream>
#include <nlohmann/json.hpp>

#include "json/json_plugin.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dawnstep;
using namespace dawnstep::fuzzing;

static void CheckLoaded(const JsonPlugin& plugin) {
  const Plugin::Registry& registry = Plugin::registry();
  Require(registry.pendingPlugins.size() == 1 && registry.pendingPlugins.front() == &plugin,
          "a loaded plugin is registered once");
  Require(plugin.name == "net-setup" && plugin.Provides(Plugin::kJsonKind) && !plugin.disabled,
          "named by its file, of its kind, enabled");
  Require(plugin.apiVersion >= 1 && plugin.apiVersion <= 5, "the API version is supported");
  Require(plugin.nothingToStart == plugin.startCommands.empty(),
          "only an empty start list leaves nothing to start");
  Require(plugin.hostProfileAware ? plugin.apiVersion >= 2 : plugin.hostProfileCommands.empty(),
          "host profile commands only in an aware plugin of version 2 or more");
  for (const std::string& tag : plugin.provides) {
    auto [first, last] = registry.providers.equal_range(tag);
    Require(registry.kindTags.count(tag) != 0 ||
                (std::distance(first, last) == 1 && first->second == &plugin),
            "every provided tag names the plugin");
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    std::filesystem::create_directories(ScratchRoot() + "/plugins");
    return ScratchRoot() + "/plugins/net-setup.json";
  }();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
  const bool isObject = nlohmann::json::parse(data, data + size, nullptr, false).is_object();
  try {
    // JsonPlugin is final, so this frees what the constructor made; the
    // program itself never frees a plugin.
    JsonPlugin* plugin = new JsonPlugin(path);
    Require(isObject, "a loaded file holds an object");
    CheckLoaded(*plugin);
    delete plugin;
  } catch (const Exception& refusal) {
    const std::string text = refusal.what();
    Require(text.find("' is not a '") != std::string::npos ||
                text.starts_with("Unsupported API version: "),
            "a refusal names the check that failed");
    Require(isObject == (text != "'value' is not a 'JsonObject'"),
            "only a non-object fails the first check");
    Require(Plugin::registry().pendingPlugins.empty() && Plugin::registry().providers.empty(),
            "a refused file registers nothing");
  }
  ClearRegistry();
  return 0;
}
