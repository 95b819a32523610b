#pragma once

#include "main/command_line.h"
#include "main/startup_hooks.h"
#include "plugin/plugin.h"

namespace dawnstep {

// Loads the plugins, then answers the queries of `line` or activates.
// Returns the process's exit status. Failures of loading, the queries and
// the activation propagate.
int Run(CommandLine& line, StartupHooks& hooks);

// Serial activation on a stateless boot or a host with at most 5 GiB of
// main memory, whatever --max-workers asked for.
void LimitWorkersToHost(Plugin::ActivateFlags& flags, StartupHooks& hooks);

}  // namespace dawnstep
