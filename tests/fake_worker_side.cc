#include "tests/fake_worker_side.h"

#include <algorithm>
#include <ostream>

#include "log/kernel_log.h"

namespace dawnstep::testing {

bool FakeWorkerSide::ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) {
  bool skip = (flags & Plugin::SkipPlugin) != 0 || plugin->nothingToStart || plugin->disabled;
  if (!skip && running.size() >= capacity) return false;
  KernelLog() << (skip ? "Dawnstep plugin " : "Activating Dawnstep plugin ") << plugin->name
              << (skip ? " skipped." : ".") << std::endl;
  std::string event = (skip ? "skip " : "start ") + plugin->name + " " + std::to_string(flags);
  if (events != nullptr) events->push_back(event);
  if (skip) {
    completed.emplace_back(plugin, 0);
    return true;
  }
  running.emplace_back(plugin, !activate || plugin->Activate(flags) ? 0 : 1);
  plugin->assigned = true;
  return true;
}

std::vector<WorkerSide::Outcome> FakeWorkerSide::PluginResults() {
  std::vector<Outcome> results;
  results.swap(completed);
  // Skipped plugins first; running ones are due when nothing else is.
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
    if (events != nullptr) events->push_back("result " + plugin->name + " " + std::to_string(code));
  }
  return results;
}

}  // namespace dawnstep::testing
