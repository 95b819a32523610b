#include "main/startup_hooks.h"

#include <ctime>

#include "log/hkn_buffer.h"
#include "main/option.h"
#include "worker/worker.h"

namespace dawnstep {
namespace {

class ProcessStartupHooks final : public StartupHooks {
 public:
  void Help() override { Usage(0); }
  void Quiet() override { DeactivateKernelLog(); }
  void LimitWorkers(int n) override { Worker::LimitWorkers(n); }
  uint32_t Now() override { return static_cast<uint32_t>(std::time(nullptr)); }
};

}  // namespace

StartupHooks& ProcessHooks() {
  static ProcessStartupHooks hooks;
  return hooks;
}

}  // namespace dawnstep
