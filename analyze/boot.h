#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analyze/boot_profile.h"
#include "analyze/boot_records.h"
#include "analyze/plugin_graph.h"

namespace dawnstep::analyze {

// One plugin of the last boot.
struct PluginRun {
  std::string name;
  std::optional<Outcome> outcome;   // none when the node records could not be read
  const Activation* record;         // its last activation record, or null
  std::optional<size_t> installed;  // its index in the plugin graph
};

// Everything the analyzer knows of the last boot: the timing profile, the
// node records and the installed plugins, joined by plugin name.
struct Boot {
  BootProfile profile;
  bool haveProfile = false;
  BootRecords records;
  bool haveRecords = false;
  PluginGraph graph{{}};
  // The installed plugins in registration order, then plugins that only
  // the records name, in the order they appear there.
  std::vector<PluginRun> plugins;

  const PluginRun* Find(const std::string& name) const;
  // The preemptive provider that replaced `run`, if one did: its index in
  // the graph and the tag they share.
  std::optional<std::pair<size_t, std::string>> Preemptor(const PluginRun& run) const;
};

std::string OutcomeText(const std::optional<Outcome>& outcome);

// Joins what was read. The graph's plugins are the installed ones.
Boot MakeBoot(BootProfile profile, bool haveProfile, BootRecords records, bool haveRecords,
              PluginGraph graph);

}  // namespace dawnstep::analyze
