#pragma once

#include <ostream>

#include "analyze/plugin_graph.h"

namespace dawnstep::analyze {

struct DotOptions {
  bool kindTags = true;  // false: no edges for required kind tags
  std::string around;    // non-empty: only plugins within `depth` steps of it
  size_t depth = 1;
};

// The requirement graph in the Graphviz language. Plugin i is node "pI",
// labelled with its name, in list order; preemptive providers are octagons.
// For each plugin (list order), required tag (byte order) and provider of
// that tag (list order) an edge provider -> requirer labelled with the tag.
// A required tag (not a kind tag) that no plugin provides gets a red node "mI" of its own
// (tags in byte order) and a dashed edge to each plugin requiring it.
void WriteDot(const PluginGraph& graph, const DotOptions& options, std::ostream& out);

// A Graphviz quoted string.
std::string DotQuote(const std::string& text);

}  // namespace dawnstep::analyze
