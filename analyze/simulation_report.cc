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

Overheads RecordedOverheads(const Boot& boot) {
  Overheads overheads;
  const BootProfile& profile = boot.profile;
  if (profile.activations.empty() || !profile.start || !profile.end) return overheads;
  std::vector<Micros> events;  // every start but the first, and every end
  for (const Activation& record : profile.activations) {
    events.push_back(record.start);
    events.push_back(record.end);
  }
  std::sort(events.begin(), events.end());
  // The scheduler hands plugins over one at a time, after taking a result
  // or handing over the one before: the time since the latest such event
  // before a start is what one hand-over costs.
  std::vector<Micros> gaps;
  for (const PluginRun& run : boot.plugins) {
    if (run.record == nullptr || !run.installed) continue;
    if (!boot.graph.plugins()[*run.installed].hasWork) continue;
    // Its own start is one of the events at that time; another means no gap.
    auto [from, to] = std::equal_range(events.begin(), events.end(), run.record->start);
    if (to - from > 1) {
      gaps.push_back(0);
    } else if (from != events.begin()) {
      gaps.push_back(run.record->start - *(from - 1));
    }
  }
  if (!gaps.empty()) {
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    overheads.startDelay = gaps[gaps.size() / 2];
  }
  Micros first = profile.activations.front().start, last = profile.activations.front().end;
  for (const Activation& record : profile.activations) {
    first = std::min(first, record.start);
    last = std::max(last, record.end);
  }
  // The simulated first start is delayed like any other already.
  overheads.lead = std::max<Micros>(0, first - *profile.start - overheads.startDelay);
  overheads.tail = std::max<Micros>(0, *profile.end - last);
  return overheads;
}

SimulationReport MakeSimulationReport(const Boot& boot, const Replay& replay,
                                      const Overheads& overheads, Simulation simulation) {
  SimulationReport report;
  report.predicted = overheads.lead + simulation.predicted + overheads.tail;
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
