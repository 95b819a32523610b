#pragma once

#include <functional>
#include <string>

namespace dawnstep::testing {

// What a forked child left behind: how it ended, what it wrote on its
// standard output and standard error, and the report its body returned.
struct ChildOutcome {
  int exitCode = -1;  // -1 when the child did not exit normally
  std::string out;
  std::string err;
  std::string report;
};

// Runs `body` in a forked child whose standard output and standard error
// go to files of their own; the child's standard input is left alone.
// Use it for code that changes process-wide state for good (descriptors,
// flags that are never cleared). The child exits 0 after `body` returns;
// an exception from `body` exits 1 with its text as the report. The body's
// own checks belong in the report, where the parent can assert on them.
ChildOutcome RunInChild(const std::function<std::string()>& body);

// For state that even a fork inherits (static locals set once per
// process): runs the current test again, alone, in a new process of the
// test binary. In that process InFreshProcess() is true and the test does
// its real work; the outer test asserts that the new process passed.
//
//   if (!InFreshProcess()) {
//     ChildOutcome fresh = RerunInFreshProcess();
//     EXPECT_EQ(fresh.exitCode, 0) << fresh.out;
//     return;
//   }
bool InFreshProcess();
ChildOutcome RerunInFreshProcess();

}  // namespace dawnstep::testing
