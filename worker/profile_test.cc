#include "worker/profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <deque>
#include <memory>

#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::TempRoot;

// Hands out the times it was given, in order.
class ScriptedClock : public Profile::Clock {
 public:
  timeval Now() override {
    timeval next = times.front();
    times.pop_front();
    return next;
  }
  long UptimeSeconds() override { return uptime; }

  std::deque<timeval> times;
  long uptime = 12;
};

timeval At(int hour, int minute, int second, long micros) {
  tm parts{};
  parts.tm_year = 2026 - 1900;
  parts.tm_mon = 2;
  parts.tm_mday = 5;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return {timegm(&parts), micros};
}

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.MakeDir("/var/log");
    Profile::SetClock(&clock);
  }
  void TearDown() override { Profile::SetClock(nullptr); }

  TempRoot root;
  ScriptedClock clock;
};

TEST_F(ProfileTest, WritesEveryLineInTheExactFormat) {
  clock.times = {At(7, 0, 0, 1), At(7, 8, 10, 42), At(23, 59, 59, 999999)};
  {
    Profile profile;
    EXPECT_EQ("HVKernel Initialization Time: 12000000\n", root.ReadFile("/var/log/sysboot.log"));
    Profile::RecordPlugin("net", At(7, 8, 9, 500000));
  }
  EXPECT_EQ(
      "HVKernel Initialization Time: 12000000\n"
      "[2026-03-05 07:08:09.500000 - 2026-03-05 07:08:10.000042] sysboot: net\n"
      "=== Dawnstep configuration info ===\n"
      " Start: 2026-03-05 07:00:00.000001\n"
      " End: 2026-03-05 23:59:59.999999\n",
      root.ReadFile("/var/log/sysboot.log"));
  EXPECT_EQ("1970-01-01 00:00:00.000000", ProfileTimestamp({0, 0}));
}

TEST_F(ProfileTest, ASecondRunTruncatesAndRecordsNeedALiveProfile) {
  root.WriteFile("/var/log/sysboot.log", "an old run that was much longer than this one\n");
  clock.uptime = 0;
  clock.times = {At(1, 0, 0, 0), At(1, 0, 0, 1)};
  {
    Profile profile;
    EXPECT_EQ("HVKernel Initialization Time: 0\n", root.ReadFile("/var/log/sysboot.log"));
  }
  // With the profile gone a record is dropped, not written through a
  // dangling instance.
  Profile::RecordPlugin("late", At(1, 0, 0, 0));
  EXPECT_TRUE(clock.times.empty());
  EXPECT_EQ(std::string::npos, root.ReadFile("/var/log/sysboot.log").find("late"));
}

TEST_F(ProfileTest, OnlyTheCreatorWritesTheTrailer) {
  Profile::SetClock(nullptr);
  auto profile = std::make_unique<Profile>();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Profile::RecordPlugin("in-worker", {0, 0});
    profile.reset();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string afterWorker = root.ReadFile("/var/log/sysboot.log");
  EXPECT_NE(std::string::npos, afterWorker.find("] sysboot: in-worker\n"));
  EXPECT_EQ(std::string::npos, afterWorker.find("==="));
  profile.reset();
  std::string text = root.ReadFile("/var/log/sysboot.log");
  ASSERT_EQ(0u, text.find(afterWorker));
  std::string trailer = text.substr(afterWorker.size());
  EXPECT_EQ(0u, trailer.find("=== Dawnstep configuration info ===\n Start: "));
  EXPECT_NE(std::string::npos, trailer.find("\n End: "));
  EXPECT_EQ(5, std::count(text.begin(), text.end(), '\n'));
}

TEST_F(ProfileTest, AFileThatCannotBeOpenedIsSilentlyDropped) {
  TempRoot bare;  // no /var/log
  clock.times = {At(1, 0, 0, 0), At(1, 0, 0, 1), At(1, 0, 0, 2)};
  {
    Profile profile;
    Profile::RecordPlugin("net", At(1, 0, 0, 0));
  }
  EXPECT_TRUE(clock.times.empty());
  EXPECT_EQ("", bare.ReadFile("/var/log/sysboot.log"));
}

}  // namespace
}  // namespace dawnstep
