#include "analyze/compare.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "analyze/json_output.h"

namespace dawnstep::analyze {
namespace {

const char kActivated[] = "activated";

std::optional<Micros> Difference(const Change& change) {
  if (!change.before || !change.after) return std::nullopt;
  return *change.after - *change.before;
}

bool GrewPast(const Change& change, const Gate& gate) {
  std::optional<Micros> growth = Difference(change);
  return growth && *growth > gate.minimum && *growth * 100.0 > *change.before * gate.percent;
}

// In the order they are listed.
enum class Kind { kOutcome, kDuration, kAdded, kRemoved };

Kind KindOf(const PluginChange& plugin) {
  if (!plugin.beforeOutcome) return Kind::kAdded;
  if (!plugin.afterOutcome) return Kind::kRemoved;
  return *plugin.beforeOutcome != *plugin.afterOutcome ? Kind::kOutcome : Kind::kDuration;
}

// Larger changes first; a change with an unknown side after all known ones.
Micros Magnitude(const PluginChange& plugin) {
  std::optional<Micros> change = Difference(plugin.duration);
  return change ? std::max(*change, -*change) : -1;
}

bool ListedBefore(const PluginChange& a, const PluginChange& b) {
  if (KindOf(a) != KindOf(b)) return KindOf(a) < KindOf(b);
  if (Magnitude(a) != Magnitude(b)) return Magnitude(a) > Magnitude(b);
  return a.name < b.name;
}

std::vector<PluginChange> PluginChanges(const SnapshotSummary& before,
                                        const SnapshotSummary& after) {
  std::map<std::string, const SnapshotPlugin*> earlier, later;
  for (const SnapshotPlugin& plugin : before.plugins) earlier[plugin.name] = &plugin;
  for (const SnapshotPlugin& plugin : after.plugins) later[plugin.name] = &plugin;
  std::vector<PluginChange> changes;
  for (const SnapshotPlugin& was : before.plugins) {
    auto now = later.find(was.name);
    if (now == later.end()) {
      changes.push_back({was.name, {was.duration, std::nullopt}, was.outcome, std::nullopt});
    } else if (now->second->outcome != was.outcome || now->second->duration != was.duration) {
      changes.push_back({was.name, {was.duration, now->second->duration}, was.outcome,
                         now->second->outcome});
    }
  }
  for (const SnapshotPlugin& is : after.plugins) {
    if (earlier.count(is.name) == 0) {
      changes.push_back({is.name, {std::nullopt, is.duration}, std::nullopt, is.outcome});
    }
  }
  std::sort(changes.begin(), changes.end(), ListedBefore);
  return changes;
}

std::string Signed(Micros micros, std::string (*format)(Micros)) {
  std::string text = format(micros);
  if (micros >= 0) text.insert(text.begin(), '+');
  return text;
}

// "BEFORE -> AFTER  +CHANGE  +PERCENT%", in `unit`.
std::string ChangeText(const Change& change, std::string (*format)(Micros), const char* unit) {
  auto shown = [&](const std::optional<Micros>& micros) {
    return micros ? format(*micros) + " " + unit : std::string("unknown");
  };
  std::string text = shown(change.before) + " -> " + shown(change.after);
  std::optional<Micros> difference = Difference(change);
  if (!difference) return text;
  text += "  " + Signed(*difference, format) + " " + unit;
  if (*change.before > 0) {
    char percent[32];
    snprintf(percent, sizeof percent, "  %+.1f%%", *difference * 100.0 / *change.before);
    text += percent;
  }
  return text;
}

std::string Side(const std::optional<std::string>& outcome, const std::optional<Micros>& duration) {
  return *outcome + (duration ? ", " + FormatMillis(*duration) + " ms" : "");
}

std::string PluginLine(const PluginChange& plugin) {
  Kind kind = KindOf(plugin);
  if (kind == Kind::kAdded) {
    return plugin.name + ": added (" + Side(plugin.afterOutcome, plugin.duration.after) + ")";
  }
  if (kind == Kind::kRemoved) {
    return plugin.name + ": removed (" + Side(plugin.beforeOutcome, plugin.duration.before) + ")";
  }
  std::string line = plugin.name + ": ";
  if (kind == Kind::kOutcome) line += *plugin.beforeOutcome + " -> " + *plugin.afterOutcome;
  if (plugin.duration.before != plugin.duration.after) {
    line += (kind == Kind::kOutcome ? ", " : "") + ChangeText(plugin.duration, FormatMillis, "ms");
  }
  return line;
}

const char* Mark(bool failed) { return failed ? "  [fail]" : ""; }

}  // namespace

bool Comparison::Failed() const {
  return activationFailed ||
         std::any_of(plugins.begin(), plugins.end(), [](auto& plugin) { return plugin.failed; });
}

Comparison Compare(const SnapshotSummary& before, const SnapshotSummary& after,
                   const std::optional<Gate>& gate) {
  Comparison comparison;
  comparison.activation = {before.activation, after.activation};
  comparison.criticalChain = {before.criticalChain, after.criticalChain};
  comparison.plugins = PluginChanges(before, after);
  comparison.gate = gate;
  for (PluginChange& plugin : comparison.plugins) {
    if (!plugin.beforeOutcome) comparison.added.push_back(plugin.name);
    if (!plugin.afterOutcome) comparison.removed.push_back(plugin.name);
    if (!gate) continue;
    plugin.failed = GrewPast(plugin.duration, *gate) ||
                    (plugin.beforeOutcome == kActivated && plugin.afterOutcome != kActivated);
  }
  if (gate) comparison.activationFailed = GrewPast(comparison.activation, *gate);
  return comparison;
}

void WriteComparison(const Comparison& comparison, std::ostream& out) {
  out << "Activation time: " << ChangeText(comparison.activation, FormatSeconds, "s")
      << Mark(comparison.activationFailed) << '\n'
      << "Critical chain:  " << ChangeText(comparison.criticalChain, FormatSeconds, "s") << '\n';
  if (comparison.plugins.empty()) out << "No plugin changed.\n";
  for (const PluginChange& plugin : comparison.plugins) {
    out << PluginLine(plugin) << Mark(plugin.failed) << '\n';
  }
  if (!comparison.gate) return;
  char limit[64];
  snprintf(limit, sizeof limit, "%g%% and %s ms", comparison.gate->percent,
           FormatMillis(comparison.gate->minimum).c_str());
  if (comparison.Failed()) {
    out << "Gate failed: the marked lines grew by more than " << limit
        << " or no longer activated.\n";
  } else {
    out << "Gate passed: nothing grew by more than " << limit << ", nothing stopped activating.\n";
  }
}

nlohmann::json ComparisonJson(const Comparison& comparison) {
  auto change = [](const Change& times) {
    return nlohmann::json{{"before_us", ValueOrNull(times.before)}, {"after_us", ValueOrNull(times.after)}};
  };
  nlohmann::json plugins = nlohmann::json::array();
  for (const PluginChange& plugin : comparison.plugins) {
    nlohmann::json entry = {{"name", plugin.name},
                            {"before_us", ValueOrNull(plugin.duration.before)},
                            {"after_us", ValueOrNull(plugin.duration.after)},
                            {"change_us", ValueOrNull(Difference(plugin.duration))},
                            {"before_outcome", ValueOrNull(plugin.beforeOutcome)},
                            {"after_outcome", ValueOrNull(plugin.afterOutcome)}};
    if (comparison.gate) entry["failed"] = plugin.failed;
    plugins.push_back(entry);
  }
  nlohmann::json document = {{"activation", change(comparison.activation)},
                             {"critical_chain", change(comparison.criticalChain)},
                             {"plugins", plugins},
                             {"added", comparison.added},
                             {"removed", comparison.removed}};
  if (comparison.gate) {
    document["activation"]["failed"] = comparison.activationFailed;
    document["failed"] = comparison.Failed();
  }
  return document;
}

}  // namespace dawnstep::analyze
