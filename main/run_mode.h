#pragma once

#include <functional>

#include "main/command_line.h"
#include "main/startup_hooks.h"
#include "plugin/plugin.h"

namespace dawnstep {

// Loads the plugins, then answers the queries of `line` or activates.
// Returns the process's exit status. Failures of loading, the queries and
// the activation propagate.
int Run(CommandLine& line, StartupHooks& hooks);

// Runs `run`; a failure escaping it is reported on the alert node and the
// process log and gives status 1.
int ReportFailures(const std::function<int()>& run);

// Serial activation on a stateless boot or a host with at most 5 GiB of
// main memory, whatever --max-workers asked for.
void LimitWorkersToHost(Plugin::ActivateFlags& flags, StartupHooks& hooks);

}  // namespace dawnstep
