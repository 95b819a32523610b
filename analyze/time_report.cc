#include "analyze/time_report.h"

#include "analyze/critical_chain.h"
#include "analyze/json_output.h"

namespace dawnstep::analyze {
namespace {

std::string Shown(const std::optional<Micros>& micros) {
  return micros ? FormatMillis(*micros) + " ms" : "unknown";
}

}  // namespace

TimeReport MakeTimeReport(const Boot& boot) {
  TimeReport report;
  report.kernel = boot.profile.kernel;
  if (boot.profile.start && boot.profile.end) {
    report.activation = *boot.profile.end - *boot.profile.start;
  }
  std::vector<ChainLink> chain = CriticalChain(boot.profile, boot.graph, "");
  if (!chain.empty()) report.criticalChain = chain.front().activation->end - boot.profile.Origin();
  for (const PluginRun& run : boot.plugins) ++report.outcomes[OutcomeText(run.outcome)];
  return report;
}

void WriteTime(const TimeReport& report, std::ostream& out) {
  out << "Kernel initialisation: " << Shown(report.kernel) << '\n'
      << "Plugin activation:     " << Shown(report.activation) << '\n'
      << "Critical chain:        " << Shown(report.criticalChain) << '\n';
  size_t total = 0;
  std::string counts;
  for (Outcome outcome : kAllOutcomes) {
    auto count = report.outcomes.find(OutcomeName(outcome));
    if (count == report.outcomes.end()) continue;
    total += count->second;
    counts += (counts.empty() ? "" : ", ") + std::to_string(count->second) + " " + count->first;
  }
  auto unknown = report.outcomes.find("unknown");
  if (unknown != report.outcomes.end()) {
    total += unknown->second;
    counts += (counts.empty() ? "" : ", ") + std::to_string(unknown->second) + " unknown";
  }
  out << "Plugins:               " << total << (counts.empty() ? "" : " (" + counts + ")") << '\n';
}

nlohmann::json TimeJson(const TimeReport& report) {
  return {{"kernel_us", ValueOrNull(report.kernel)},
          {"activation_us", ValueOrNull(report.activation)},
          {"critical_chain_us", ValueOrNull(report.criticalChain)},
          {"outcomes", report.outcomes}};
}

}  // namespace dawnstep::analyze
