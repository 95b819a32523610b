#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "plugin/plugin.h"

namespace dawnstep {

// Where the scheduler starts plugins and collects their results: the worker
// pool in a real run, a deterministic fake in tests and benchmarks.
class WorkerSide {
 public:
  using Outcome = std::pair<Plugin*, int32_t>;

  virtual ~WorkerSide() = default;
  // True when the plugin was started: handed to a worker, which sets its
  // `assigned`, or completed at once because it is skipped (SkipPlugin,
  // nothingToStart, disabled). False means every worker is busy: until the
  // next PluginResults call only plugins that are completed at once start.
  virtual bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) = 0;
  // True when a plugin with work would be taken now: a worker is idle or
  // another may be started.
  virtual bool CanTakeWork() const = 0;
  // Results since the last call, the ones completed at once first; blocks
  // until there is at least one.
  virtual std::vector<Outcome> PluginResults() = 0;
};

// Null restores the worker pool.
void SetWorkerSide(WorkerSide* side);

// What the scheduler asks before starting a plugin in interactive mode; null
// restores Plugin::DebugAction.
using PromptHook = uint32_t (*)(const std::string& name);
void SetPromptHook(PromptHook hook);

// What ends the process after unmet dependencies; null restores std::exit.
// A hook that returns is followed by std::exit.
using ExitHook = void (*)(int status);
void SetExitHook(ExitHook hook);

}  // namespace dawnstep
