#include "main/run_mode.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/memory.h"
#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TempRoot;
using testing::TestPlugin;

constexpr uint64_t kGiB = uint64_t{1} << 30;
const char kAlertNode[] = "/run/hkn/system.sysAlert";
const char kSerialNotice[] =
    "There is not enough memory for parallel dawnstep. Activating dawnstep plugins serially.";

class LimitRecorder final : public StartupHooks {
 public:
  void Help() override { ADD_FAILURE() << "help"; }
  void Quiet() override { ADD_FAILURE() << "quiet"; }
  void LimitWorkers(int n) override { limits.push_back(n); }
  uint32_t Now() override { return 0; }

  std::vector<int> limits;
};

uint64_t hostBytes;

class RunModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Plugin::ResetRegistry();
    root.MakeDir("/run");
    SetMainMemoryQuery([] { return std::optional<uint64_t>(hostBytes); });
  }
  void TearDown() override { SetMainMemoryQuery(nullptr); }

  // The worker limits set and the alert lines written for a host of `bytes`.
  std::vector<int> LimitsFor(uint64_t bytes) {
    hostBytes = bytes;
    hooks.limits.clear();
    LimitWorkersToHost(flags, hooks);
    return hooks.limits;
  }

  TempRoot root;
  LimitRecorder hooks;
  Plugin::ActivateFlags flags = 0;
};

TEST_F(RunModeTest, AtMostFiveGibibytesActivatesSerially) {
  EXPECT_EQ(std::vector<int>{1}, LimitsFor(5 * kGiB));
  EXPECT_EQ(std::vector<int>{1}, LimitsFor(4 * kGiB));
  EXPECT_EQ(std::vector<int>{1}, LimitsFor(0));
  // The size is compared in single precision: 255 bytes over rounds away.
  EXPECT_EQ(std::vector<int>{1}, LimitsFor(5 * kGiB + 255));
  EXPECT_EQ(std::vector<std::string>(4, kSerialNotice), NodeTexts(root, kAlertNode));
  EXPECT_EQ(0u, flags);
}

TEST_F(RunModeTest, LargerHostKeepsTheLimit) {
  EXPECT_EQ(std::vector<int>{}, LimitsFor(5 * kGiB + 512));
  EXPECT_EQ(std::vector<int>{}, LimitsFor(64 * kGiB));
  EXPECT_EQ(std::vector<int>{}, LimitsFor(UINT64_MAX));
  EXPECT_EQ(std::vector<std::string>{}, NodeTexts(root, kAlertNode));
}

TEST_F(RunModeTest, FailedMemoryQueryIsReportedAndKeepsTheLimit) {
  SetMainMemoryQuery([] { return std::optional<uint64_t>(); });
  LimitWorkersToHost(flags, hooks);
  EXPECT_EQ(std::vector<int>{}, hooks.limits);
  EXPECT_EQ(std::vector<std::string>{"Retrieving system main memory size failed."},
            NodeTexts(root, kAlertNode));
}

TEST_F(RunModeTest, StatelessBootIsSerialBehindTheHostProfileBarrier) {
  root.WriteFile("/stateless.tgz", "");
  EXPECT_EQ(std::vector<int>{1}, LimitsFor(64 * kGiB));
  EXPECT_EQ(Plugin::HostProfileBarrier, flags);
  EXPECT_EQ((std::vector<int>{1, 1}), LimitsFor(kGiB));
}

TEST_F(RunModeTest, QueriesAnswerInFixedOrderWithoutActivating) {
  bool activated = false;
  auto activate = [&activated](Plugin::ActivateFlags) { return activated = true; };
  TestPlugin reader("reader", {"json plugins", "scan"}, {"usb"}, activate);
  TestPlugin hub("hub", {"native plugins", "usb"}, {}, activate);

  CommandLine line;
  line.tagsQuery = true;
  line.requiresQuery = true;
  line.requiresTag = "usb";
  line.providesQuery = true;
  line.providesTag = "usb";
  // An explicit list keeps the built-in plugin out of this registry.
  line.plugins = {"/no/such/plugin"};
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(0, dawnstep::Run(line, hooks));
  EXPECT_EQ("reader: usb\nhub: native plugins,usb\nscan\nusb\n",
            ::testing::internal::GetCapturedStdout());
  EXPECT_EQ("Skipping /no/such/plugin: unknown type\n", ::testing::internal::GetCapturedStderr());
  EXPECT_FALSE(activated);
  EXPECT_EQ(std::vector<int>{}, hooks.limits);
}

TEST_F(RunModeTest, EscapingFailuresGiveStatusOne) {
  EXPECT_EQ(7, ReportFailures([] { return 7; }));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(1, ReportFailures([]() -> int { throw std::runtime_error("disk on fire"); }));
  EXPECT_EQ(1, ReportFailures([]() -> int { throw 42; }));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ((std::vector<std::string>{"Dawnstep failed: disk on fire", "Dawnstep failed"}),
            NodeTexts(root, kAlertNode));
}

}  // namespace
}  // namespace dawnstep
