#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "analyze/plugin_graph.h"

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

}  // namespace dawnstep::analyze
