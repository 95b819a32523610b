#include "main/run_mode.h"

#include <exception>
#include <ostream>

#include "cli/orvocli.h"
#include "log/kernel_log.h"
#include "main/logging.h"
#include "platform/host_log.h"
#include "platform/memory.h"
#include "plugin/writable_code.h"

namespace dawnstep {
namespace {

// Several queries are answered in this order, whatever their order on the
// command line.
void AnswerQueries(const CommandLine& line) {
  if (line.requiresQuery) Plugin::DumpPluginsRequiring(line.requiresTag);
  if (line.providesQuery) Plugin::DumpPluginsProviding(line.providesTag);
  if (line.tagsQuery) Plugin::ListTags();
}

bool StartLogging() {
  try {
    init_logging("Kestor2");
    return true;
  } catch (const std::exception& e) {
    Log_Level(3, "Failed to initialize dawnstep: %s\n", e.what());
  } catch (...) {
    Log_Level(3, "Failed to initialize dawnstep\n");
  }
  return false;
}

// Code that anyone could change still runs, so that no boot is lost to a
// packaging slip, but not without a word.
void WarnOfWritableCode(const CommandLine& line) {
  std::vector<std::string> dirs;
  if (line.plugins.empty()) dirs = Plugin::PluginDirectories();
  for (const WritableCode& found :
       FindWritableCode(dirs, Plugin::registry().pluginFiles, Orvocli::SharedDispatcher())) {
    Warning("%s", found.Message().c_str());
    AlertLog() << found.Message() << std::endl;
  }
}

bool SmallHost(uint64_t bytes) {
  const float gibibytes = static_cast<float>(bytes) * 0x1p-30f;
  return gibibytes <= 5.0f;
}

}  // namespace

int Run(CommandLine& line, StartupHooks& hooks) {
  Plugin::LoadPlugins(line.plugins, line.seed);
  if (line.AnyQuery()) {
    AnswerQueries(line);
    return 0;
  }
  if (!StartLogging()) return 1;
  WarnOfWritableCode(line);
  LimitWorkersToHost(line.flags, hooks);
  Plugin::ActivatePlugins(line.flags);
  return 0;
}

int ReportFailures(const std::function<int()>& run) {
  try {
    return run();
  } catch (const std::exception& e) {
    AlertLog() << "Dawnstep failed: " << e.what() << std::endl;
    Log_Level(2, "Dawnstep failed: %s\n", e.what());
  } catch (...) {
    AlertLog() << "Dawnstep failed" << std::endl;
  }
  return 1;
}

void LimitWorkersToHost(Plugin::ActivateFlags& flags, StartupHooks& hooks) {
  if (Plugin::IsStatelessNetprov()) {
    hooks.LimitWorkers(1);
    flags |= Plugin::HostProfileBarrier;
  }
  const std::optional<uint64_t> bytes = MainMemoryBytes();
  if (!bytes) {
    AlertLog() << "Retrieving system main memory size failed." << std::endl;
  } else if (SmallHost(*bytes)) {
    AlertLog() << "There is not enough memory for parallel dawnstep. "
                  "Activating dawnstep plugins serially."
               << std::endl;
    hooks.LimitWorkers(1);
  }
}

}  // namespace dawnstep
