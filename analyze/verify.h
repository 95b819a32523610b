#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "analyze/plugin_graph.h"
#include "platform/tolvar/dispatcher.h"

namespace dawnstep::analyze {

// Loads each plugin file through the plugin loader (which registers it) and
// writes one "Skipping PATH: MESSAGE" line per file that fails. Returns the
// number of failures. Nothing is activated.
size_t LoadPluginFiles(const std::vector<std::string>& paths, std::ostream& out);

// Problems of a plugin set that loading does not catch, as lines beginning
// "warning: ", in this order: required tags that no plugin provides (plugins
// in list order, tags in byte order; kind tags are never reported), one
// requirement cycle per set of plugins that wait for each other (the chain
// from its first plugin in list order), tags with more than one preemptive
// provider (byte order).
std::vector<std::string> PluginWarnings(const PluginGraph& graph);

// The management command lines of one JSON plugin, as its activation would
// run them.
struct PluginCommands {
  std::string plugin;
  std::vector<std::string> start;
  std::vector<std::string> hostProfile;  // "apply_host_profile"
};

// The command lines of the registered JSON plugins, in registration order.
std::vector<PluginCommands> RegisteredCommands();

// Command lines that would fail before any handler runs, as lines beginning
// "warning: ": one per parse error of a line that does not parse, one for a
// line whose command `commands` does not define. Plugins in list order,
// "start" lines before "apply_host_profile" lines. Runs nothing.
std::vector<std::string> CommandWarnings(const std::vector<PluginCommands>& plugins,
                                         const Tolvar::AutoCli::Dispatcher& commands);

}  // namespace dawnstep::analyze
