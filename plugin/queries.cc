#include <iostream>

#include "plugin/plugin.h"

namespace dawnstep {
namespace {

// One line per selected plugin: its name, a colon, then the tags of its
// `listed` set joined by commas. An empty `tag` selects every plugin.
void DumpPlugins(const std::string& tag, TagSet Plugin::*listed) {
  for (const Plugin* plugin : Plugin::registry().pendingPlugins) {
    const TagSet& tags = plugin->*listed;
    if (!tag.empty() && tags.count(tag) == 0) continue;
    std::cout << plugin->name << ':';
    const char* separator = " ";
    for (const std::string& listedTag : tags) {
      std::cout << separator << listedTag;
      separator = ",";
    }
    std::cout << std::endl;
  }
}

}  // namespace

void Plugin::DumpPluginsRequiring(const std::string& tag) { DumpPlugins(tag, &Plugin::requires_); }

void Plugin::DumpPluginsProviding(const std::string& tag) { DumpPlugins(tag, &Plugin::provides); }

void Plugin::ListTags() {
  const Registry& reg = registry();
  TagSet tags;
  for (const Plugin* plugin : reg.pendingPlugins) {
    tags.insert(plugin->provides.begin(), plugin->provides.end());
    tags.insert(plugin->requires_.begin(), plugin->requires_.end());
  }
  for (const std::string& kind : reg.kindTags) tags.erase(kind);
  for (const std::string& tag : tags) std::cout << tag << std::endl;
}

}  // namespace dawnstep
