#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "analyze/snapshot.h"

namespace dawnstep::analyze {

// A release gate: a time that grew by more than `percent` and by more than
// `minimum` fails it, and so does a plugin that activated before and not after.
struct Gate {
  double percent;
  Micros minimum;
};

// One time before and after; unknown on a side that lacks it.
struct Change {
  std::optional<Micros> before;
  std::optional<Micros> after;
};

// A plugin that changed between two boots. A side without the plugin has
// no outcome and no duration.
struct PluginChange {
  std::string name;
  Change duration;
  std::optional<std::string> beforeOutcome;
  std::optional<std::string> afterOutcome;
  bool failed = false;  // failed the gate
};

struct Comparison {
  Change activation;
  Change criticalChain;
  // Outcome changes first, then duration changes, largest first, then
  // plugins added, then plugins removed.
  std::vector<PluginChange> plugins;
  std::vector<std::string> added;
  std::vector<std::string> removed;
  std::optional<Gate> gate;
  bool activationFailed = false;

  bool Failed() const;
};

Comparison Compare(const SnapshotSummary& before, const SnapshotSummary& after,
                   const std::optional<Gate>& gate);

// Activation and critical chain times in seconds, then one line per plugin,
// lines that failed the gate marked, and with a gate the verdict.
void WriteComparison(const Comparison& comparison, std::ostream& out);

// {activation, critical_chain, plugins, added, removed}, and with a gate
// whether each time failed it and whether the whole did.
nlohmann::json ComparisonJson(const Comparison& comparison);

}  // namespace dawnstep::analyze
