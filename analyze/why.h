#pragma once

#include <string>
#include <vector>

#include "analyze/boot.h"

namespace dawnstep::analyze {

// Why `run` had its outcome, outermost reason first. `failureLines` are
// the error lines its work left in the logs, shown for a failure.
std::vector<std::string> WhyReasons(const Boot& boot, const PluginRun& run,
                                    const std::vector<std::string>& failureLines);

// The error lines of the last boot in a process log's text that name
// `plugin`, with the error line just before one that does ("Method
// invocation failed" precedes the command's own lines). Lines stamped
// before `since` (a node record time) belong to earlier boots.
std::vector<std::string> FailureLines(const std::string& logText, const std::string& plugin,
                                      const std::string& since);

}  // namespace dawnstep::analyze
