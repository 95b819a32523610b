#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "plugin/scheduler.h"

namespace dawnstep::testing {

// A worker side without processes: up to `capacity` plugins run at once,
// each activated in this process when it starts, and a run's results come
// back either all at once in start order (seed 0) or as a random non-empty
// part in random order, drawn from a generator seeded with `seed`. It
// writes the worker side's own kernel log lines.
class FakeWorkerSide final : public WorkerSide {
 public:
  FakeWorkerSide(uint32_t capacity, uint32_t seed);

  bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) override;
  std::vector<Outcome> PluginResults() override;
  bool CanTakeWork() const override { return running.size() < capacity; }

  // Result codes that replace what a plugin's Activate answers.
  std::unordered_map<const Plugin*, int32_t> codes;
  // Called for each result as it is handed out.
  std::function<void(Plugin*)> onResult;
  // "start NAME FLAGS", "skip NAME FLAGS", "result NAME CODE", in order.
  std::vector<std::string>* events = nullptr;
  // Whether to call each plugin's Activate when it starts.
  bool activate = true;

 private:
  void Note(const std::string& event);

  uint32_t capacity;
  bool randomOrder;
  std::minstd_rand random;
  std::vector<Outcome> running;
  std::vector<Outcome> completed;
};

}  // namespace dawnstep::testing
