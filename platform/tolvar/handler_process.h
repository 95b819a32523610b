#pragma once

#include <string>
#include <vector>

namespace Tolvar::AutoCli {

// How a command handler ended.
struct HandlerOutcome {
  int status = 0;           // as waitpid reports it
  std::string errorOutput;  // everything the handler wrote to standard error
};

// Runs `program` with `arguments` and waits for it. The handler reads
// /dev/null, shares the caller's standard output, and has its standard error
// captured; its environment is the caller's with `settings` ("NAME=value")
// added or replaced. Signals start at their defaults, none blocked.
// Throws std::system_error when the handler cannot be started or waited for.
HandlerOutcome RunHandler(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& settings);

}  // namespace Tolvar::AutoCli
