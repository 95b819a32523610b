#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "plugin/scheduler.h"

namespace dawnstep::testing {

// A worker side without processes: up to `capacity` plugins run at once,
// and a run's results come back either all at once in start order (seed 0)
// or as a random non-empty part in random order. It writes the worker
// side's own kernel log lines.
class FakeWorkerSide final : public WorkerSide {
 public:
  FakeWorkerSide(uint32_t capacity, uint32_t seed)
      : capacity(capacity), randomOrder(seed != 0), random(seed != 0 ? seed : 1) {}

  bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) override;
  std::vector<Outcome> PluginResults() override;
  bool CanTakeWork() const override { return running.size() < capacity; }

  std::vector<std::string>* events = nullptr;  // "start|skip NAME FLAGS", "result NAME CODE"
  bool activate = true;                        // call each plugin's Activate as it starts

 private:
  uint32_t capacity;
  bool randomOrder;
  std::minstd_rand random;
  std::vector<Outcome> running, completed;
};

}  // namespace dawnstep::testing
