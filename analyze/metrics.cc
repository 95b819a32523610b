#include "analyze/metrics.h"

#include <optional>
#include <vector>

#include "analyze/json_output.h"
#include "analyze/time_report.h"

namespace dawnstep::analyze {
namespace {

struct Sample {
  std::string labels;  // "{name=\"value\",...}" or empty
  std::string value;
};

struct Family {
  const char* name;
  const char* help;
  std::vector<Sample> samples;
};

void AddSeconds(Family& family, const std::optional<Micros>& micros) {
  if (micros) family.samples.push_back({"", FormatSeconds(*micros)});
}

bool Failed(const PluginRun& run) {
  return run.outcome == Outcome::kFailed || run.outcome == Outcome::kOpportunisticFailed;
}

std::vector<Family> TimeFamilies(const Boot& boot) {
  TimeReport report = MakeTimeReport(boot);
  Family started{"dawnstep_boot_timestamp_seconds",
                 "When the last boot began activating plugins, in Unix time.", {}};
  Family kernel{"dawnstep_kernel_init_seconds", "Kernel initialisation time of the last boot.", {}};
  Family activation{"dawnstep_activation_seconds",
                    "Plugin activation time of the last boot, from start to end.", {}};
  Family chain{"dawnstep_critical_chain_seconds",
               "End of the last boot's critical chain, from the activation start.", {}};
  AddSeconds(started, boot.profile.start);
  AddSeconds(kernel, report.kernel);
  AddSeconds(activation, report.activation);
  AddSeconds(chain, report.criticalChain);
  return {started, kernel, activation, chain};
}

std::vector<Family> PluginFamilies(const Boot& boot) {
  Family outcomes{"dawnstep_plugins", "Plugins of the last boot by outcome.", {}};
  Family durations{"dawnstep_plugin_activation_seconds",
                   "Activation time of each plugin in the last boot.", {}};
  Family failed{"dawnstep_plugin_failed",
                "1 for a plugin whose activation failed in the last boot, else 0.", {}};
  Family unmet{"dawnstep_unmet_dependencies",
               "1 when the last boot ended in unmet dependencies, else 0.", {}};
  for (const PluginRun& run : boot.plugins) {
    std::string plugin = "plugin=\"" + LabelValue(run.name) + "\"";
    if (run.record != nullptr) {
      durations.samples.push_back(
          {"{" + plugin + ",outcome=\"" + OutcomeText(run.outcome) + "\"}",
           FormatSeconds(run.record->Duration())});
    }
    if (boot.haveRecords) failed.samples.push_back({"{" + plugin + "}", Failed(run) ? "1" : "0"});
  }
  if (boot.haveRecords) {
    for (Outcome outcome : kAllOutcomes) {
      size_t count = 0;
      for (const PluginRun& run : boot.plugins) count += run.outcome == outcome;
      outcomes.samples.push_back({std::string("{outcome=\"") + OutcomeName(outcome) + "\"}",
                                  std::to_string(count)});
    }
    unmet.samples.push_back({"", boot.records.unmetDependencies ? "1" : "0"});
  }
  return {outcomes, durations, failed, unmet};
}

void WriteFamily(const Family& family, std::ostream& out) {
  if (family.samples.empty()) return;
  out << "# HELP " << family.name << ' ' << family.help << '\n'
      << "# TYPE " << family.name << " gauge\n";
  for (const Sample& sample : family.samples) {
    out << family.name << sample.labels << ' ' << sample.value << '\n';
  }
}

}  // namespace

std::string LabelValue(const std::string& value) {
  std::string escaped;
  for (char c : ValidUtf8(value)) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return escaped;
}

void WriteMetrics(const Boot& boot, std::ostream& out) {
  for (const Family& family : TimeFamilies(boot)) WriteFamily(family, out);
  for (const Family& family : PluginFamilies(boot)) WriteFamily(family, out);
}

}  // namespace dawnstep::analyze
