#include "tests/fake_worker_side.h"

#include <algorithm>
#include <ostream>

#include "log/kernel_log.h"

namespace dawnstep::testing {

FakeWorkerSide::FakeWorkerSide(uint32_t capacity, uint32_t seed)
    : capacity(capacity), randomOrder(seed != 0), random(seed != 0 ? seed : 1) {}

void FakeWorkerSide::Note(const std::string& event) { events->push_back(event); }

bool FakeWorkerSide::ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) {
  if ((flags & Plugin::SkipPlugin) != 0 || plugin->nothingToStart || plugin->disabled) {
    KernelLog() << "Dawnstep plugin " << plugin->name << " skipped." << std::endl;
    if (events != nullptr) Note("skip " + plugin->name + " " + std::to_string(flags));
    completed.emplace_back(plugin, 0);
    return true;
  }
  if (running.size() >= capacity) return false;
  KernelLog() << "Activating Dawnstep plugin " << plugin->name << "." << std::endl;
  if (events != nullptr) Note("start " + plugin->name + " " + std::to_string(flags));
  bool succeeded = activate ? plugin->Activate(flags) : true;
  auto code = codes.find(plugin);
  running.emplace_back(plugin, code != codes.end() ? code->second : succeeded ? 0 : 1);
  plugin->assigned = true;
  return true;
}

std::vector<WorkerSide::Outcome> FakeWorkerSide::PluginResults() {
  std::vector<Outcome> results;
  results.swap(completed);
  // Skipped plugins come first; running ones are due only when nothing
  // else is, though some may have finished meanwhile.
  if (!running.empty() && (randomOrder || results.empty())) {
    size_t count = running.size();
    if (randomOrder) {
      std::shuffle(running.begin(), running.end(), random);
      count = results.empty() ? 1 + random() % running.size() : random() % (running.size() + 1);
    }
    results.insert(results.end(), running.begin(), running.begin() + count);
    running.erase(running.begin(), running.begin() + count);
  }
  for (auto [plugin, code] : results) {
    if (events != nullptr) Note("result " + plugin->name + " " + std::to_string(code));
    if (onResult) onResult(plugin);
  }
  return results;
}

}  // namespace dawnstep::testing
