#include "main/run_mode.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/memory.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;

constexpr uint64_t kGiB = uint64_t{1} << 30;
const char kSerial[] =
    "There is not enough memory for parallel dawnstep. Activating dawnstep plugins serially.";
const char kNoSize[] = "Retrieving system main memory size failed.";

class LimitRecorder final : public StartupHooks {
 public:
  void Help() override {}
  void Quiet() override {}
  void LimitWorkers(int n) override { limits.push_back(n); }
  uint32_t Now() override { return 0; }

  std::vector<int> limits;
};

std::optional<uint64_t> hostBytes;

// A host of at most five gibibytes, or a stateless boot, activates serially.
TEST(RunMode, WorkerLimitFollowsTheHost) {
  struct Case {
    std::optional<uint64_t> bytes;
    bool stateless;
    std::vector<int> limits;
    std::vector<std::string> alerts;
  };
  const Case cases[] = {
      {0, false, {1}, {kSerial}},
      {5 * kGiB, false, {1}, {kSerial}},
      // Compared in single precision: 255 bytes over rounds away, 512 do not.
      {5 * kGiB + 255, false, {1}, {kSerial}},
      {5 * kGiB + 512, false, {}, {}},
      {UINT64_MAX, false, {}, {}},
      {std::nullopt, false, {}, {kNoSize}},
      {64 * kGiB, true, {1}, {}},
      {kGiB, true, {1, 1}, {kSerial}},
  };
  for (const Case& c : cases) {
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
    EXPECT_EQ(NodeTexts(root, "/run/hkn/system.sysAlert"), c.alerts);
  }
}

TEST(RunMode, EscapingFailuresGiveStatusOne) {
  testing::TempRoot root;
  EXPECT_EQ(7, ReportFailures([] { return 7; }));
  EXPECT_EQ(1, ReportFailures([]() -> int { throw std::runtime_error("disk on fire"); }));
  EXPECT_EQ(1, ReportFailures([]() -> int { throw 42; }));
  EXPECT_EQ(NodeTexts(root, "/run/hkn/system.sysAlert"),
            (std::vector<std::string>{"Dawnstep failed: disk on fire", "Dawnstep failed"}));
}

}  // namespace
}  // namespace dawnstep
