#pragma once

#include <cstdint>

namespace dawnstep {

// What start-up does beyond its own state: ending the process, silencing
// the kernel log, limiting the worker pool, reading the clock. Tests
// substitute a recorder, since none of it can be undone in-process.
class StartupHooks {
 public:
  virtual ~StartupHooks() = default;
  // Prints the usage text and ends the process with status 0.
  virtual void Help() = 0;
  virtual void Quiet() = 0;
  virtual void LimitWorkers(int n) = 0;
  // Wall-clock seconds, truncated to 32 bits.
  virtual uint32_t Now() = 0;
};

// The hooks that act on this process.
StartupHooks& ProcessHooks();

}  // namespace dawnstep
