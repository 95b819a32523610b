#include "analyze/boot.h"

#include <map>
#include <set>

namespace dawnstep::analyze {
namespace {

std::optional<Outcome> RecordedOutcome(const PluginRecords& records) {
  if (records.final) return records.final;
  if (records.skipLines > 0) return Outcome::kSkipped;
  return Outcome::kNeverStarted;
}

}  // namespace

std::string OutcomeText(const std::optional<Outcome>& outcome) {
  return outcome ? OutcomeName(*outcome) : "unknown";
}

const PluginRun* Boot::Find(const std::string& name) const {
  for (const PluginRun& run : plugins) {
    if (run.name == name) return &run;
  }
  return nullptr;
}

std::optional<std::pair<size_t, std::string>> Boot::Preemptor(const PluginRun& run) const {
  if (!run.installed) return std::nullopt;
  for (const Blocker& blocker : graph.BlockersOf(*run.installed)) {
    if (!blocker.preemption) continue;
    const PluginRun* provider = Find(graph.plugins()[blocker.plugin].name);
    if (provider != nullptr && provider->outcome == Outcome::kActivated) {
      return std::make_pair(blocker.plugin, blocker.tag);
    }
  }
  return std::nullopt;
}

Boot MakeBoot(BootProfile profile, bool haveProfile, BootRecords records, bool haveRecords,
              PluginGraph graph) {
  Boot boot;
  boot.profile = std::move(profile);
  boot.haveProfile = haveProfile;
  boot.records = std::move(records);
  boot.haveRecords = haveRecords;
  boot.graph = std::move(graph);
  std::map<std::string, const Activation*> last;
  for (const Activation& record : boot.profile.activations) last[record.name] = &record;
  // Looked up by name, not with Find: a boot of many plugins would take
  // quadratic time.
  std::set<std::string> added;
  auto add = [&](const std::string& name, std::optional<size_t> installed) {
    if (!added.insert(name).second) return;
    std::optional<Outcome> outcome;
    if (boot.haveRecords) {
      auto found = boot.records.plugins.find(name);
      outcome = found == boot.records.plugins.end() ? Outcome::kNeverStarted
                                                    : RecordedOutcome(found->second);
    }
    auto record = last.find(name);
    boot.plugins.push_back({name, outcome, record == last.end() ? nullptr : record->second,
                            installed});
  };
  for (size_t i = 0; i < boot.graph.plugins().size(); ++i) add(boot.graph.plugins()[i].name, i);
  for (const std::string& name : boot.records.order) add(name, std::nullopt);
  for (const Activation& record : boot.profile.activations) add(record.name, std::nullopt);
  // Skip lines alone: disabled, unless a successful preemptive provider
  // shared a tag with the plugin and took its place.
  for (PluginRun& run : boot.plugins) {
    if (run.outcome == Outcome::kSkipped && boot.Preemptor(run)) run.outcome = Outcome::kPreempted;
  }
  return boot;
}

}  // namespace dawnstep::analyze
