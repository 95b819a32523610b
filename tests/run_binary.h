#pragma once

#include <string>
#include <vector>

namespace dawnstep::testing {

struct BinaryRun {
  std::string out;  // standard output
  std::string err;  // standard error
  // The exit status, or 128 plus the signal number when a signal ended it.
  int status = -1;
};

// Runs the program under test (no shell) with `args`, DAWNSTEP_ROOT set to
// `root` and `input` on its standard input. Returns once the program has
// exited and every process holding its output (e.g. workers) has let go.
BinaryRun RunBinary(const std::vector<std::string>& args, const std::string& root,
                    const std::string& input = "");

// The same for any program: `command` is its path followed by its
// arguments (e.g. a wrapper that runs the program under test).
BinaryRun RunCommand(const std::vector<std::string>& command, const std::string& root,
                     const std::string& input = "");

}  // namespace dawnstep::testing
