#include "analyze/simulation_report.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <queue>
#include <tuple>

namespace dawnstep::analyze {

namespace {

// An activation that a worker ran, and when its requirements were all met.
struct HandedOver {
  Micros start;
  Micros end;
  Micros ready;
};

bool WithWork(const Boot& boot, const PluginRun& run) {
  if (run.record == nullptr || run.outcome == Outcome::kSkipped) return false;
  return !run.installed || boot.graph.plugins()[*run.installed].hasWork;
}

// In start order. Requirements alone make a plugin ready: one held back by
// a preemptive competitor is rare enough to count as ready from the start.
std::vector<HandedOver> HandOvers(const Boot& boot, Micros origin) {
  std::map<std::string, Micros> provided;  // a tag's last provider's end
  for (const PluginRun& run : boot.plugins) {
    if (run.record == nullptr || !run.installed) continue;
    for (const std::string& tag : boot.graph.plugins()[*run.installed].provides) {
      auto [at, added] = provided.emplace(tag, run.record->end);
      if (!added) at->second = std::max(at->second, run.record->end);
    }
  }
  std::vector<HandedOver> handed;
  for (const PluginRun& run : boot.plugins) {
    if (!WithWork(boot, run)) continue;
    Micros ready = origin;
    const TagSet none;
    for (const std::string& tag : run.installed ? boot.graph.plugins()[*run.installed].requires_
                                                : none) {
      auto found = provided.find(tag);
      if (found != provided.end() && found->second <= run.record->start) {
        ready = std::max(ready, found->second);
      }
    }
    handed.push_back({run.record->start, run.record->end, ready});
  }
  std::sort(handed.begin(), handed.end(), [](const HandedOver& a, const HandedOver& b) {
    return std::tie(a.start, a.end) < std::tie(b.start, b.end);
  });
  return handed;
}

Micros Average(const std::vector<double>& costs) {
  if (costs.empty()) return 0;
  return std::llround(std::accumulate(costs.begin(), costs.end(), 0.0) / costs.size());
}

}  // namespace

std::optional<uint32_t> RecordedWorkerLimit(const Boot& boot) {
  std::vector<std::pair<Micros, int>> changes;  // ends before starts at one moment
  for (const PluginRun& run : boot.plugins) {
    if (!WithWork(boot, run)) continue;
    changes.emplace_back(run.record->start, 1);
    changes.emplace_back(run.record->end, -1);
  }
  std::sort(changes.begin(), changes.end());
  int running = 0, peak = 0;
  for (auto [time, change] : changes) peak = std::max(peak, running += change);
  if (peak == 1) return 1;
  return std::nullopt;
}

Overheads RecordedOverheads(const Boot& boot, uint32_t processors) {
  Overheads overheads;
  const BootProfile& profile = boot.profile;
  if (profile.activations.empty() || !profile.start || !profile.end) return overheads;
  // The pool as the runner keeps it: a worker is started only when every
  // one is at work, and one whose activation has ended is reused.
  std::priority_queue<Micros, std::vector<Micros>, std::greater<>> inProgress;  // their ends
  size_t workers = 0;
  bool answersArriving = false;
  Micros previous = *profile.start, freed = *profile.start;
  std::vector<double> forks, reuses;
  std::vector<HandedOver> handed = HandOvers(boot, *profile.start);
  for (const HandedOver& activation : handed) {
    while (!inProgress.empty() && inProgress.top() <= activation.start) {
      if (inProgress.size() == workers) freed = inProgress.top();
      inProgress.pop();
      answersArriving = true;
    }
    bool fork = inProgress.size() == workers;
    Micros from = std::max({previous, activation.ready, fork ? *profile.start : freed});
    // The wait for an answer that came first is the replay's to charge.
    if (fork && workers > 0) {
      if (answersArriving) from = std::min(activation.start, from + kAnswerWait);
      answersArriving = false;
    }
    if (fork) ++workers;
    (fork ? forks : reuses)
        .push_back(static_cast<double>(std::max<Micros>(0, activation.start - from)) /
                   HandOverStretch(inProgress.size(), processors));
    inProgress.push(activation.end);
    previous = activation.start;
  }
  overheads.handOver = {Average(forks), Average(reuses)};
  // The first hand-over starts a worker, which the replay charges already.
  if (!handed.empty()) {
    overheads.lead =
        std::max<Micros>(0, handed.front().start - *profile.start - overheads.handOver.fork);
  }
  Micros last = profile.activations.front().end;
  for (const Activation& record : profile.activations) last = std::max(last, record.end);
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
