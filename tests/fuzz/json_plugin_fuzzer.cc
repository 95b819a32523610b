// A plugin file's bytes become one registered plugin or a clean refusal.
#undef NDEBUG  // the asserts are the properties under test
#include <unistd.h>

#include <cassert>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "json/json_plugin.h"

using namespace dawnstep;

// In memory when it can be: a file rewritten per input on disk costs more than the parse.
static std::string root = access("/dev/shm", W_OK) ? "/tmp/fuzz-XXXXXX" : "/dev/shm/fuzz-XXXXXX";

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!mkdtemp(root.data()) || setenv("DAWNSTEP_ROOT", root.c_str(), 1) != 0) abort();
  return std::atexit([] { std::filesystem::remove_all(root); });
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = root + "/net-setup.json";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
  const bool isObject = nlohmann::json::parse(data, data + size, nullptr, false).is_object();
  Plugin::Registry& registry = Plugin::registry();
  try {
    JsonPlugin* plugin = new JsonPlugin(path);  // final: deleting it frees what this made
    assert(isObject && plugin->name == "net-setup" && plugin->Provides(Plugin::kJsonKind));
    assert(registry.pendingPlugins == std::list<Plugin*>{plugin} && !plugin->disabled);
    assert(plugin->apiVersion >= 1 && plugin->apiVersion <= 5);
    assert(plugin->nothingToStart == plugin->startCommands.empty());
    // Host profile commands only in an aware plugin, of version 2 or more.
    assert(plugin->hostProfileAware ? plugin->apiVersion >= 2
                                    : plugin->hostProfileCommands.empty());
    for (const std::string& tag : plugin->provides) {
      auto [first, last] = registry.providers.equal_range(tag);
      assert(registry.kindTags.count(tag) ||
             (std::distance(first, last) == 1 && first->second == plugin));
    }
    delete plugin;
  } catch (const Exception& refusal) {
    // A refusal names the check that failed; only a non-object fails the first.
    const std::string text = refusal.what();
    assert(text.find("' is not a '") != std::string::npos ||
           text.starts_with("Unsupported API version: "));
    assert(isObject == (text != "'value' is not a 'JsonObject'"));
    assert(registry.pendingPlugins.empty() && registry.providers.empty());
  }
  // Each input's plugin is freed, so the registry is emptied in place, not retired with it.
  registry.registered.clear();
  registry.pendingPlugins.clear();
  registry.providers.clear();
  return 0;
}
