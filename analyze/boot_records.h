#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dawnstep::analyze {

// How a plugin's part in a boot ended.
enum class Outcome {
  kActivated,
  kFailed,
  kSkipped,
  kPreempted,
  kOpportunisticFailed,
  kOpportunisticSkipped,
  kNeverStarted,
};
constexpr Outcome kAllOutcomes[] = {
    Outcome::kActivated,           Outcome::kFailed,
    Outcome::kSkipped,             Outcome::kPreempted,
    Outcome::kOpportunisticFailed, Outcome::kOpportunisticSkipped,
    Outcome::kNeverStarted,
};
const char* OutcomeName(Outcome outcome);

// What the node records say about one plugin.
struct PluginRecords {
  bool started = false;               // "Activating Dawnstep plugin NAME."
  int skipLines = 0;                  // "Dawnstep plugin NAME skipped."
  std::optional<Outcome> final;       // activated, failed or one of the opportunistic ones
  std::vector<std::string> alerts;    // alert texts that name the plugin
};

// The last boot as its kernel log and alert node records tell it.
struct BootRecords {
  std::map<std::string, PluginRecords> plugins;
  std::vector<std::string> order;  // plugin names in the order they first appear
  bool unmetDependencies = false;
  std::string diagnosis;  // the dependency chain printed after it, if any
  std::string began;      // time of the boot's first record, as written there
};

// One node record: its time as written and its text.
struct NodeRecord {
  std::string time;
  std::string text;
};

// Records of the last boot (from its "Activating Dawnstep Plugins" progress
// line on) out of the system log and alert records, which are merged in
// time order.
BootRecords ReadBootRecords(const std::vector<NodeRecord>& log, const std::vector<NodeRecord>& alerts,
                            const std::vector<NodeRecord>& progress);

// The records of a node file (JSON Lines); lines that are not records are
// skipped. Nothing when the file cannot be opened, with the reason in `error`.
std::vector<NodeRecord> ReadNodeFile(const std::string& path, std::string& error);

}  // namespace dawnstep::analyze
