// A plugin file's bytes become one registered plugin or a clean refusal.
#include <fstream>
#include <nlohmann/json.hpp>

#include "json/json_plugin.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dawnstep;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzzing::ScratchRoot() + "/net-setup.json";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
  const bool isObject = nlohmann::json::parse(data, data + size, nullptr, false).is_object();
  const Plugin::Registry& registry = Plugin::registry();
  try {
    // JsonPlugin is final, so this frees what the constructor made.
    JsonPlugin* plugin = new JsonPlugin(path);
    REQUIRE(isObject && plugin->name == "net-setup" && plugin->Provides(Plugin::kJsonKind));
    REQUIRE(registry.pendingPlugins == std::list<Plugin*>{plugin} && !plugin->disabled);
    REQUIRE(plugin->apiVersion >= 1 && plugin->apiVersion <= 5);
    REQUIRE(plugin->nothingToStart == plugin->startCommands.empty());
    // Host profile commands only in an aware plugin, of version 2 or more.
    REQUIRE(plugin->hostProfileAware ? plugin->apiVersion >= 2
                                     : plugin->hostProfileCommands.empty());
    for (const std::string& tag : plugin->provides) {
      auto [first, last] = registry.providers.equal_range(tag);
      REQUIRE(registry.kindTags.count(tag) ||
              (std::distance(first, last) == 1 && first->second == plugin));
    }
    delete plugin;
  } catch (const Exception& refusal) {
    // A refusal names the check that failed; only a non-object fails the first.
    const std::string text = refusal.what();
    REQUIRE(text.find("' is not a '") != std::string::npos ||
            text.starts_with("Unsupported API version: "));
    REQUIRE(isObject == (text != "'value' is not a 'JsonObject'"));
    REQUIRE(registry.pendingPlugins.empty() && registry.providers.empty());
  }
  fuzzing::ClearRegistry();
  return 0;
}
