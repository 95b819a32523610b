#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "analyze/boot_profile.h"

namespace dawnstep::analyze {

// What the boot of the registered plugins would look like.
struct Simulation {
  // One record per plugin started, on a clock that starts at 0.
  BootProfile timeline;
  Micros predicted = 0;  // when the last activation ends
  bool stuck = false;    // the run would end in unmet dependencies
};

// How to replay the boot.
struct Replay {
  std::map<std::string, Micros> durations;  // plugins not named take 0
  std::set<std::string> failing;            // plugins whose activation fails
  std::set<std::string> disabled;           // plugins the boot skipped (--disable)
  std::optional<uint32_t> maxWorkers;       // none: no limit
  Micros startDelay = 0;  // what handing one plugin to a worker costs; one at a time
};

// Runs the registered plugins through the scheduler with a simulated
// worker side on a virtual clock: nothing is activated. Consumes the
// registry's pending list, as a real activation run does.
Simulation Simulate(const Replay& replay);

}  // namespace dawnstep::analyze
