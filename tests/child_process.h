#pragma once

#include <functional>
#include <string>

namespace dawnstep::testing {

// How a forked child ended and what it left: its standard output and
// error, and the report its body returned.
struct ChildOutcome {
  int exitCode = -1;  // -1 when the child did not exit normally
  std::string out;
  std::string err;
  std::string report;
};

// Runs `body` in a forked child, for code that changes process-wide state
// for good (descriptors, flags never cleared). The child exits 0 after
// `body` returns, or 1 with an exception's text as the report; the body's
// checks belong in the report, where the parent asserts on them.
ChildOutcome RunInChild(const std::function<std::string()>& body);

// For state that even a fork inherits (static locals set once per process):
// runs the current test again, alone, in a new process of the test binary,
// where InFreshProcess() is true; the outer test asserts that it passed.
bool InFreshProcess();
ChildOutcome RerunInFreshProcess();

}  // namespace dawnstep::testing
