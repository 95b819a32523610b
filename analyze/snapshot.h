#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analyze/boot.h"

namespace dawnstep::analyze {

// The schema that SnapshotJson writes and ReadSnapshot reads. Later
// versions may add members; changing or removing one raises it.
inline constexpr int kSnapshotSchema = 1;

// The boot as one portable document: schema, host, dawnstep_version,
// boot_start, kernel_us, activation_us, critical_chain (names, first to
// last), unmet_dependencies and plugins, each {name, outcome, offset_us,
// duration_us, provides, requires}. Unknown values are null. Names are
// UTF-8, as the document is written.
nlohmann::json SnapshotJson(const Boot& boot, const std::string& host, const std::string& version);

// What a comparison needs of one plugin in a snapshot.
struct SnapshotPlugin {
  std::string name;
  std::string outcome;
  std::optional<Micros> offset;  // from the boot's start
  std::optional<Micros> duration;
};

// What a comparison needs of a snapshot.
struct SnapshotSummary {
  std::optional<Micros> activation;
  std::optional<Micros> criticalChain;  // end of its last plugin, from the start
  std::vector<SnapshotPlugin> plugins;  // in the snapshot's order
};

// A document that is not a snapshot this version reads; what() says why.
struct SnapshotError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

SnapshotSummary ReadSnapshot(const nlohmann::json& document);

}  // namespace dawnstep::analyze
