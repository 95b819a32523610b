#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "analyze/boot.h"
#include "analyze/critical_chain.h"
#include "analyze/simulate.h"

namespace dawnstep::analyze {

// The worker limit the recorded boot evidently ran under: one when no two
// activations with work ever overlapped, else none (no limit).
std::optional<uint32_t> RecordedWorkerLimit(const Boot& boot);

// What a real run spends besides activations, as the recorded boot shows
// it: from Start to the first activation, from the last activation to End,
// and the costs of a hand-over. A hand-over's cost is the time from when
// the scheduler could first have handed the plugin over (the start before,
// the end of its last requirement, the end that freed a worker of a full
// pool) to its start, taken back to a processor of its own; the costs
// are averages, not typical values, because a boot's length is their sum
// and a few long ones weigh in it.
struct Overheads {
  Micros lead = 0;
  HandOver handOver;
  Micros tail = 0;
};
Overheads RecordedOverheads(const Boot& boot, uint32_t processors);

struct SimulationReport {
  Micros predicted = 0;
  std::optional<Micros> recorded;  // the profile's Start to End
  std::optional<uint32_t> maxWorkers;
  bool stuck = false;
  BootProfile timeline;  // owns what `chain` points into
  std::vector<ChainLink> chain;
};

// The prediction is the simulated run plus the lead and tail overheads.
SimulationReport MakeSimulationReport(const Boot& boot, const Replay& replay,
                                      const Overheads& overheads, Simulation simulation);

void WriteSimulation(const SimulationReport& report, std::ostream& out);

// {predicted_us, recorded_us, max_workers, critical_chain}.
nlohmann::json SimulationJson(const SimulationReport& report);

}  // namespace dawnstep::analyze
