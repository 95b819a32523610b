#include "analyze/simulation_report.h"

#include <algorithm>

namespace dawnstep::analyze {

std::optional<uint32_t> RecordedWorkerLimit(const Boot& boot) {
  std::vector<std::pair<Micros, int>> changes;  // ends before starts at one moment
  for (const PluginRun& run : boot.plugins) {
    bool withWork = !run.installed || boot.graph.plugins()[*run.installed].hasWork;
    if (run.record == nullptr || !withWork || run.outcome == Outcome::kSkipped) continue;
    changes.emplace_back(run.record->start, 1);
    changes.emplace_back(run.record->end, -1);
  }
  std::sort(changes.begin(), changes.end());
  int running = 0, peak = 0;
  for (auto [time, change] : changes) peak = std::max(peak, running += change);
  if (peak == 1) return 1;
  return std::nullopt;
}

SimulationReport MakeSimulationReport(const Boot& boot, const Replay& replay,
                                      Simulation simulation) {
  SimulationReport report;
  report.predicted = simulation.predicted;
  if (boot.profile.start && boot.profile.end) {
    report.recorded = *boot.profile.end - *boot.profile.start;
  }
  report.maxWorkers = replay.maxWorkers;
  report.stuck = simulation.stuck;
  report.timeline = std::move(simulation.timeline);
  report.chain = CriticalChain(report.timeline, boot.graph, "");
  return report;
}

void WriteSimulation(const SimulationReport& report, std::ostream& out) {
  out << "Workers:                    "
      << (report.maxWorkers ? std::to_string(*report.maxWorkers) : "no limit") << '\n'
      << "Predicted activation time:  " << FormatMillis(report.predicted) << " ms\n"
      << "Recorded activation time:   "
      << (report.recorded ? FormatMillis(*report.recorded) + " ms" : "unknown") << '\n';
  if (report.stuck) out << "The run would end in unmet dependencies.\n";
  out << "Predicted critical chain:\n";
  std::string indent = "  ";
  for (const ChainLink& link : report.chain) {
    out << indent << link.activation->name << "  start +" << FormatMillis(link.activation->start)
        << " ms  takes " << FormatMillis(link.activation->Duration()) << " ms\n";
    indent += "  ";
  }
}

nlohmann::json SimulationJson(const SimulationReport& report) {
  nlohmann::json chain = nlohmann::json::array();
  for (auto link = report.chain.rbegin(); link != report.chain.rend(); ++link) {
    chain.push_back(link->activation->name);
  }
  return {{"predicted_us", report.predicted},
          {"recorded_us", report.recorded ? nlohmann::json(*report.recorded) : nullptr},
          {"max_workers", report.maxWorkers ? nlohmann::json(*report.maxWorkers) : nullptr},
          {"critical_chain", chain}};
}

}  // namespace dawnstep::analyze
