#pragma once

#include <string>
#include <vector>

namespace dawnstep::testing {

struct BinaryRun {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or 128 plus the signal that ended it
};

// Runs the program under test with `args`, DAWNSTEP_ROOT set to `root` and
// `input` on its standard input. Returns once it has exited and every
// process holding its output (workers, say) has let go.
BinaryRun RunBinary(const std::vector<std::string>& args, const std::string& root,
                    const std::string& input = "");

}  // namespace dawnstep::testing
