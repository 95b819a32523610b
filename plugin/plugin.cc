#include "plugin/plugin.h"

#include <iostream>

#include "platform/file_system.h"
#include "platform/root.h"

namespace dawnstep {
namespace {

// Never destroyed: plugin objects must stay reachable until the process
// ends, worker processes included.
Plugin::Registry*& RegistryInstance() {
  static Plugin::Registry* instance = nullptr;
  return instance;
}

}  // namespace

Plugin::Registry::Registry() : kindTags{kJsonKind, kNativeKind, kBuiltinKind} {}

Plugin::Registry& Plugin::registry() {
  Registry*& instance = RegistryInstance();
  if (instance == nullptr) instance = new Registry;
  return *instance;
}

void Plugin::OpenRunOnceRecord() {
  registry().runOnceFile.Open(RootPath("/.runonce"));
}

void Plugin::ResetRegistry() {
  // Plugins are never destroyed, so a retired registry stays reachable with
  // them rather than leaving them dangling.
  static auto* retired = new std::vector<Registry*>;
  Registry*& instance = RegistryInstance();
  if (instance != nullptr) {
    instance->runOnceFile.Close();
    retired->push_back(instance);
  }
  instance = new Registry;
  OpenRunOnceRecord();
}

Plugin::Plugin(const std::string& name, const std::vector<std::string>& provides,
               const std::vector<std::string>& requiredTags)
    : name(name),
      requires_(requiredTags.begin(), requiredTags.end()),
      provides(provides.begin(), provides.end()),
      disabled(registry().disabledNames.count(name) != 0) {}

void Plugin::Register() {
  Registry& reg = registry();
  if (runOnce && RunOnce(name + pluginVersion)) disabled = true;
  for (const std::string& tag : provides) {
    if (reg.disabledNames.count(tag) != 0) disabled = true;
    if (reg.kindTags.count(tag) == 0) reg.providers.emplace(tag, this);
  }
  reg.registered.push_back(this);
  reg.pendingPlugins.push_back(this);
}

bool Plugin::Provides(const std::string& tag) const { return provides.count(tag) != 0; }

void Plugin::DisablePlugins(const std::vector<std::string>& names) {
  registry().disabledNames.insert(names.begin(), names.end());
}

uint32_t Plugin::Interactive(const std::vector<std::string>& tags) {
  registry().interactiveTags.insert(tags.begin(), tags.end());
  return InteractiveMode;
}

bool Plugin::RunOnce(const std::string& key) {
  Registry& reg = registry();
  ++reg.runOnceCount;
  if (reg.runOnceCount == 1) {
    reg.runOnceFile << "dawnstep.run-once=" << key;
  } else {
    reg.runOnceFile << "," << key;
  }
  reg.runOnceFile.flush();
  return reg.disabledNames.count(key) != 0;
}

bool Plugin::IsDryRun(ActivateFlags& flags) { return (flags & DryRun) != 0; }

bool Plugin::IsPreemptivePluginsDisabled(const ActivateFlags& flags) {
  return (flags & PreemptiveDisabled) != 0;
}

bool Plugin::ApplyHostProfiles(ActivateFlags& flags, bool hostProfileAware) {
  if (!hostProfileAware) return false;
  if ((flags & HostProfileBarrier) != 0) {
    std::cerr << "Plugin tries to execute before host profile requirement." << std::endl;
    return false;
  }
  return (flags & HostProfilePresent) != 0;
}

bool Plugin::IsStatelessNetprov() { return PathExists(RootPath("/stateless.tgz")); }

}  // namespace dawnstep
