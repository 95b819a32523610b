#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "analyze/boot_profile.h"
#include "worker/worker.h"

namespace dawnstep::analyze {

// What the boot of the registered plugins would look like.
struct Simulation {
  // One record per plugin started, on a clock that starts at 0.
  BootProfile timeline;
  Micros predicted = 0;  // when the last activation ends
  bool stuck = false;    // the run would end in unmet dependencies
};

// What handing one plugin to a worker costs the scheduler's single process,
// which hands plugins over one at a time, when it has a processor to itself:
// starting a new worker costs more than waking an idle one.
struct HandOver {
  Micros fork = 0;   // every worker is busy: a new one is started
  Micros reuse = 0;  // a worker is idle or its last activation has ended
};

// How long the pool waits for an answer before it starts a worker, while
// answers keep coming.
constexpr Micros kAnswerWait = Worker::kAnswerWaitMs * Micros{1000};

// How many times longer a hand-over takes with `running` activations in
// progress than with a processor of its own: the scheduler's process gets
// its even share of the processors.
double HandOverStretch(size_t running, uint32_t processors);

// How to replay the boot.
struct Replay {
  std::map<std::string, Micros> durations;  // plugins not named take 0
  std::set<std::string> failing;            // plugins whose activation fails
  std::set<std::string> disabled;           // plugins the boot skipped (--disable)
  std::optional<uint32_t> maxWorkers;       // none: no limit
  HandOver handOver;
  uint32_t processors = 1;  // that the scheduler shares with the activations
};

// Runs the registered plugins through the scheduler with a simulated
// worker side on a virtual clock: nothing is activated. Consumes the
// registry's pending list, as a real activation run does.
Simulation Simulate(const Replay& replay);

}  // namespace dawnstep::analyze
