#pragma once

#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/private_file.h"
#include "plugin/exception.h"

namespace dawnstep {

// Tag sets iterate in byte order, so every listing and walk is stable.
using TagSet = std::set<std::string>;

// One unit of boot-time configuration work. Plugins are created by the
// loaders, register themselves as the last step of construction, and live
// until the process ends: a worker names a plugin by its address.
class Plugin {
 public:
  using ActivateFlags = uint32_t;
  enum : ActivateFlags {
    DryRun = 0x01,
    InteractiveMode = 0x02,
    TimeOps = 0x04,
    SkipPlugin = 0x08,
    HostProfilePresent = 0x10,
    HostProfileBarrier = 0x20,
    PreemptiveDisabled = 0x40,
  };

  static constexpr const char* kJsonKind = "json plugins";
  static constexpr const char* kNativeKind = "native plugins";
  static constexpr const char* kBuiltinKind = "builtin plugins";

  // The process-wide registry.
  struct Registry {
    Registry();
    PrivateFile runOnceFile;
    std::unordered_set<std::string> disabledNames;
    // Every plugin ever registered: the registry owns them for the life of
    // the process, also after they leave the pending list.
    std::vector<Plugin*> registered;
    std::list<Plugin*> pendingPlugins;
    std::unordered_multimap<std::string, Plugin*> providers;
    TagSet interactiveTags;
    std::unordered_set<std::string> kindTags;
    std::vector<std::string> pluginFiles;  // every file LoadPlugins tried, in order
    uint32_t runOnceCount = 0;
  };

  Plugin(const std::string& name, const std::vector<std::string>& provides,
         const std::vector<std::string>& requiredTags);

  virtual bool Activate(ActivateFlags flags) = 0;

  void Register();
  bool Provides(const std::string& tag) const;

  // Registry and loading.
  static Registry& registry();
  // Creates or empties the run-once record. The program calls it at start;
  // tools that only read plugins never do, so they leave the record alone.
  static void OpenRunOnceRecord();
  // Starts over with an empty registry (and an emptied run-once record);
  // for tests, which load several plugin sets in one process.
  static void ResetRegistry();
  static void LoadPlugins(const std::unordered_set<std::string>& plugins, uint32_t seed);
  // The files of the plugin directories, sorted, as LoadPlugins would load
  // them without an explicit list.
  static std::vector<std::string> InstalledPluginFiles();
  // The two directories installed plugins are listed from, under the root.
  static std::vector<std::string> PluginDirectories();
  static void LoadPlugin(const std::string& path);
  static void LoadJsonPlugin(const std::string& path);
  static void LoadNativePlugin(const std::string& path);
  // Has the native libraries among `paths` tried in a probe process ahead
  // of LoadNativePlugin, in this order; an empty list ends the probe.
  static void ProbeNativePlugins(const std::vector<std::string>& paths);
  static void LoadBuiltins();
  static void DisablePlugins(const std::vector<std::string>& names);
  static uint32_t Interactive(const std::vector<std::string>& tags);
  static bool RunOnce(const std::string& key);
  static bool IsDryRun(ActivateFlags& flags);
  static bool IsPreemptivePluginsDisabled(const ActivateFlags& flags);
  static bool ApplyHostProfiles(ActivateFlags& flags, bool hostProfileAware);
  static bool IsStatelessNetprov();

  // Dependency-ordered activation.
  static void ActivatePlugins(ActivateFlags& flags);
  static bool ActivatePlugin(Plugin* plugin, ActivateFlags& flags);
  bool Pending() const;
  static bool Pending(const TagSet& tags);
  bool Preempts(const Plugin* other) const;
  void Finish(int32_t result, ActivateFlags& flags);
  void PreemptProviders();
  void UpdateHostProfileBarrier(ActivateFlags& flags);
  bool CheckCycle(std::unordered_set<Plugin*>& visited);
  static void CheckCycles();
  static uint32_t DebugAction(const std::string& name);

  // Tag queries.
  static void DumpPluginsRequiring(const std::string& tag);
  static void DumpPluginsProviding(const std::string& tag);
  static void ListTags();

  std::string name;
  TagSet requires_;  // "requires" is a keyword
  TagSet provides;
  std::string pluginVersion;
  bool runOnce = false;
  TagSet requiredFlags;
  TagSet disablingFlags;
  bool nothingToStart = false;
  bool disabled = false;
  bool preemptiveProvider = false;
  bool hostProfileAware = false;
  int32_t apiVersion = 0;
  bool assigned = false;

 protected:
  // Plugins are never destroyed through the base.
  ~Plugin() = default;
};

}  // namespace dawnstep
