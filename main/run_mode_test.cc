#include "main/run_mode.h"

#include <gtest/gtest.h>

#include "platform/memory.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

const char kSerial[] =
    "There is not enough memory for parallel dawnstep. Activating dawnstep plugins serially.";

class LimitRecorder final : public StartupHooks {
 public:
  void Help() override {}
  void Quiet() override {}
  void LimitWorkers(int n) override { limits.push_back(n); }
  uint32_t Now() override { return 0; }
  std::vector<int> limits;
};

std::optional<uint64_t> hostBytes;

// A host of at most five gibibytes (compared in single precision), or a
// stateless boot, activates serially.
TEST(RunMode, WorkerLimitFollowsTheHost) {
  constexpr uint64_t kGiB = uint64_t{1} << 30;
  const struct {
    std::optional<uint64_t> bytes;
    bool stateless;
    std::vector<int> limits;
    std::vector<std::string> alerts;
  } cases[] = {
      {0, false, {1}, {kSerial}},
      {5 * kGiB + 255, false, {1}, {kSerial}},
      {5 * kGiB + 512, false, {}, {}},
      {UINT64_MAX, false, {}, {}},
      {std::nullopt, false, {}, {"Retrieving system main memory size failed."}},
      {64 * kGiB, true, {1}, {}},
      {kGiB, true, {1, 1}, {kSerial}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.value_or(-1));
    testing::TempRoot root;
    if (c.stateless) root.WriteFile("/stateless.tgz", "");
    hostBytes = c.bytes;
    SetMainMemoryQuery([] { return hostBytes; });
    LimitRecorder hooks;
    Plugin::ActivateFlags flags = 0;
    LimitWorkersToHost(flags, hooks);
    SetMainMemoryQuery(nullptr);
    EXPECT_EQ(hooks.limits, c.limits);
    EXPECT_EQ(flags, c.stateless ? Plugin::HostProfileBarrier : Plugin::ActivateFlags{0});
    EXPECT_EQ(testing::NodeTexts(root, "/run/hkn/system.sysAlert"), c.alerts);
  }
}

}  // namespace
}  // namespace dawnstep
