#include "analyze/simulate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "plugin/scheduler.h"

namespace dawnstep::analyze {
namespace {

// Plugins run for their recorded durations on a virtual clock, which
// advances to the next end whenever the scheduler waits for results.
class SimulatedWorkers final : public WorkerSide {
 public:
  SimulatedWorkers(const Replay& replay, Simulation& out) : replay(replay), out(out) {}

  bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) override {
    if ((flags & Plugin::SkipPlugin) != 0 || plugin->nothingToStart || plugin->disabled) {
      Micros at = std::max(now, handedOver);
      out.timeline.activations.push_back({plugin->name, at, at});
      completed.emplace_back(plugin, 0);
      return true;
    }
    if (!CanTakeWork()) return false;
    Micros from = std::max(now, handedOver);
    size_t inProgress = std::count_if(running.begin(), running.end(),
                                      [from](const Run& run) { return run.end > from; });
    // A worker whose activation has ended takes the plugin, as the pool
    // reads its answer first; only when all are at work is one started,
    // after a short wait for an answer while answers keep coming.
    bool fork = inProgress >= workers;
    if (fork && workers > 0 && CanStart()) {
      Micros waited = from + (answersArriving ? kAnswerWait : 0);
      answersArriving = false;
      Micros soonest = SoonestEnd(from);
      if (soonest <= waited) {
        from = soonest;
        --inProgress;
        fork = false;
        answersArriving = true;
      } else {
        from = waited;
      }
    }
    if (fork) ++workers;
    Micros cost = fork ? replay.handOver.fork : replay.handOver.reuse;
    Micros start = from + std::llround(static_cast<double>(cost) *
                                       HandOverStretch(inProgress, replay.processors));
    handedOver = start;
    auto duration = replay.durations.find(plugin->name);
    Micros end = start + (duration != replay.durations.end() ? duration->second : 0);
    running.push_back({plugin, start, end});
    plugin->assigned = true;
    return true;
  }

  bool CanTakeWork() const override {
    return !replay.maxWorkers || running.size() < *replay.maxWorkers;
  }

  bool CanStart() const { return !replay.maxWorkers || workers < *replay.maxWorkers; }

  // The first end after `from` among the activations in progress.
  Micros SoonestEnd(Micros from) const {
    Micros soonest = std::numeric_limits<Micros>::max();
    for (const Run& run : running) {
      if (run.end > from) soonest = std::min(soonest, run.end);
    }
    return soonest;
  }

  // Everything that ended while the scheduler was busy comes back at once,
  // as a real poll finds every answer written meanwhile.
  std::vector<Outcome> PluginResults() override {
    std::vector<Outcome> results;
    results.swap(completed);
    if (!results.empty() || running.empty()) return results;
    Micros firstEnd = std::min_element(running.begin(), running.end(),
                                       [](const Run& a, const Run& b) { return a.end < b.end; })
                          ->end;
    now = std::max({now, handedOver, firstEnd});
    auto due = std::stable_partition(running.begin(), running.end(),
                                     [this](const Run& run) { return run.end <= now; });
    std::stable_sort(running.begin(), due,
                     [](const Run& a, const Run& b) { return a.end < b.end; });
    for (auto run = running.begin(); run != due; ++run) {
      out.timeline.activations.push_back({run->plugin->name, run->start, run->end});
      results.emplace_back(run->plugin, replay.failing.count(run->plugin->name) != 0 ? 1 : 0);
    }
    running.erase(running.begin(), due);
    answersArriving = answersArriving || !results.empty();
    return results;
  }

 private:
  struct Run {
    Plugin* plugin;
    Micros start;
    Micros end;
  };

  const Replay& replay;
  Simulation& out;
  Micros now = 0;
  Micros handedOver = 0;  // when the last plugin was handed to a worker
  size_t workers = 0;     // started so far
  bool answersArriving = false;  // as the pool keeps it
  std::vector<Run> running;
  std::vector<Outcome> completed;
};

// Unmet dependencies end a real run's process; here they end the replay.
struct Stuck {};
[[noreturn]] void ThrowStuck(int) { throw Stuck(); }

}  // namespace

double HandOverStretch(size_t running, uint32_t processors) {
  return std::max(1.0, static_cast<double>(running + 1) / std::max<uint32_t>(processors, 1));
}

Simulation Simulate(const Replay& replay) {
  Simulation simulation;
  simulation.timeline.start = 0;
  for (Plugin* plugin : Plugin::registry().pendingPlugins) {
    if (replay.disabled.count(plugin->name) != 0) plugin->disabled = true;
  }
  SimulatedWorkers workers(replay, simulation);
  SetWorkerSide(&workers);
  SetExitHook(&ThrowStuck);
  Plugin::ActivateFlags flags = 0;
  try {
    Plugin::ActivatePlugins(flags);
  } catch (const Stuck&) {
    simulation.stuck = true;
  }
  SetExitHook(nullptr);
  SetWorkerSide(nullptr);
  for (const Activation& record : simulation.timeline.activations) {
    simulation.predicted = std::max(simulation.predicted, record.end);
  }
  simulation.timeline.end = simulation.predicted;
  return simulation;
}

}  // namespace dawnstep::analyze
