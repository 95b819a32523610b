#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "plugin/plugin.h"

namespace dawnstep::analyze {

// What the analyzer needs to know of one plugin.
struct PluginInfo {
  std::string name;
  TagSet provides;
  TagSet requires_;
  bool preemptiveProvider = false;
  bool hasWork = true;  // false: nothing to start, completed without a worker
};

// The registered plugins, in registration order.
std::vector<PluginInfo> RegisteredPlugins();

// Why one plugin had to wait for another.
struct Blocker {
  size_t plugin;    // index of the plugin waited for
  std::string tag;  // the tag that links them
  bool preemption;  // held back by a preemptive provider, not a requirement
};

// The requirement graph of a plugin set. Plugins are named by their index
// in the list; every listing is in list order, tags in byte order.
class PluginGraph {
 public:
  explicit PluginGraph(std::vector<PluginInfo> plugins);

  const std::vector<PluginInfo>& plugins() const { return list; }
  // Plugins that provide `tag`, kind tags included.
  std::vector<size_t> ProvidersOf(const std::string& tag) const;
  // Everything `plugin` waits for: the providers of its required tags
  // (itself included when it provides one of them), then the preemptive
  // providers that share a non-kind tag with it.
  std::vector<Blocker> BlockersOf(size_t plugin) const;
  // Indexes of the plugins named `name`.
  std::vector<size_t> Named(const std::string& name) const;

  // Every tag a plugin provides or requires, kind tags excepted.
  TagSet UsedTags() const;

  static bool IsKindTag(const std::string& tag);

 private:
  std::vector<PluginInfo> list;
};

// The used tags in byte order as an array of {tag, providers, requirers}.
nlohmann::json TagsJson(const PluginGraph& graph);

}  // namespace dawnstep::analyze
