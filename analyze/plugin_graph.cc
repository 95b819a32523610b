#include "analyze/plugin_graph.h"

namespace dawnstep::analyze {

std::vector<PluginInfo> RegisteredPlugins() {
  std::vector<PluginInfo> plugins;
  for (const Plugin* plugin : Plugin::registry().pendingPlugins) {
    plugins.push_back({plugin->name, plugin->provides, plugin->requires_,
                       plugin->preemptiveProvider, !plugin->nothingToStart});
  }
  return plugins;
}

PluginGraph::PluginGraph(std::vector<PluginInfo> plugins) : list(std::move(plugins)) {}

bool PluginGraph::IsKindTag(const std::string& tag) {
  return tag == Plugin::kJsonKind || tag == Plugin::kNativeKind || tag == Plugin::kBuiltinKind;
}

std::vector<size_t> PluginGraph::ProvidersOf(const std::string& tag) const {
  std::vector<size_t> providers;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].provides.count(tag) != 0) providers.push_back(i);
  }
  return providers;
}

std::vector<Blocker> PluginGraph::BlockersOf(size_t plugin) const {
  std::vector<Blocker> blockers;
  for (const std::string& tag : list[plugin].requires_) {
    for (size_t provider : ProvidersOf(tag)) blockers.push_back({provider, tag, false});
  }
  for (const std::string& tag : list[plugin].provides) {
    if (IsKindTag(tag)) continue;
    for (size_t provider : ProvidersOf(tag)) {
      if (provider != plugin && list[provider].preemptiveProvider) {
        blockers.push_back({provider, tag, true});
      }
    }
  }
  return blockers;
}

TagSet PluginGraph::UsedTags() const {
  TagSet tags;
  for (const PluginInfo& plugin : list) {
    for (const TagSet* set : {&plugin.provides, &plugin.requires_}) {
      for (const std::string& tag : *set) {
        if (!IsKindTag(tag)) tags.insert(tag);
      }
    }
  }
  return tags;
}

std::vector<size_t> PluginGraph::Named(const std::string& name) const {
  std::vector<size_t> named;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].name == name) named.push_back(i);
  }
  return named;
}

nlohmann::json TagsJson(const PluginGraph& graph) {
  nlohmann::json tags = nlohmann::json::array();
  for (const std::string& tag : graph.UsedTags()) {
    nlohmann::json providers = nlohmann::json::array(), requirers = nlohmann::json::array();
    for (const PluginInfo& plugin : graph.plugins()) {
      if (plugin.provides.count(tag) != 0) providers.push_back(plugin.name);
      if (plugin.requires_.count(tag) != 0) requirers.push_back(plugin.name);
    }
    tags.push_back({{"tag", tag}, {"providers", providers}, {"requirers", requirers}});
  }
  return tags;
}

}  // namespace dawnstep::analyze
