// Workers that die and pipes that break, on cue.
#include "worker/worker.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

#include "tests/temp_root.h"
#include "worker/profile.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TestPlugin;
using Outcomes = std::map<std::string, int>;

void AwaitDeath(pid_t pid) {
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
}

void AwaitAnswer(const Worker& worker) {
  pollfd answer{worker.responseFd, POLLIN, 0};
  while (poll(&answer, 1, -1) < 0 && errno == EINTR) {
  }
}

Outcomes Collect(size_t count) {
  Outcomes outcomes;
  while (outcomes.size() < count) {
    for (auto [plugin, code] : Worker::PluginResults()) outcomes[plugin->name] = code;
  }
  return outcomes;
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.MakeDir("/var/log");
    Plugin::ResetRegistry();
  }
  void TearDown() override {  // ends busy and idle workers alike, or hangs
    Worker::ResetPool();
    EXPECT_TRUE(Worker::Pool().empty());
  }

  testing::TempRoot root;
};

TEST_F(WorkerTest, DeadWorkersAndBrokenPipesCostOnlyTheirWorker) {
  auto forever = [](Plugin::ActivateFlags) { return pause() == 0; };
  TestPlugin killed("killed", {}, {}, forever);
  TestPlugin slow("slow", {}, {}, forever);
  TestPlugin exits("exits", {}, {}, [](Plugin::ActivateFlags) -> bool { exit(7); });
  TestPlugin crashes("crashes", {}, {}, [](Plugin::ActivateFlags) { return raise(SIGTERM) == 0; });
  // Workers see only the plugins that existed when they were forked.
  TestPlugin quick("quick", {}, {}), next("next", {}, {}), brief("brief", {}, {}),
      after("after", {}, {});
  TestPlugin first("first", {}, {}), second("second", {}, {}), third("third", {}, {});
  TestPlugin throws("throws", {}, {}, [](Plugin::ActivateFlags) -> bool { throw 42; });
  // A worker may be found dead early, while another plugin looks for one.
  ::testing::internal::CaptureStdout();
  for (TestPlugin* plugin : {&killed, &slow, &exits, &crashes}) {
    ASSERT_TRUE(Worker::ActivatePlugin(plugin, 0));
  }
  kill(Worker::Pool()[0]->pid, SIGKILL);
  for (const auto& worker : Worker::Pool()) {
    if (worker->plugin != &slow) AwaitDeath(worker->pid);
  }
  EXPECT_EQ((Outcomes{{"killed", 9}, {"exits", 7}, {"crashes", 15}}), Collect(3));
  std::string printed = ::testing::internal::GetCapturedStdout();
  for (const char* line : {"killed: exited with signal 9\n", "crashes: exited with signal 15\n",
                           "exits: exited with code 7\n"}) {
    EXPECT_NE(std::string::npos, printed.find(line)) << line;
  }
  EXPECT_EQ(3u, std::count(printed.begin(), printed.end(), '\n'));
  ASSERT_EQ(1u, Worker::Pool().size());

  // A busy worker that has answered takes the next plugin instead of a
  // fork; its own result comes with the next ones.
  ASSERT_TRUE(Worker::ActivatePlugin(&quick, 0));
  AwaitAnswer(*Worker::Pool()[1]);
  ASSERT_TRUE(Worker::ActivatePlugin(&next, 0));
  EXPECT_EQ(2u, Worker::Pool().size());
  EXPECT_EQ((Outcomes{{"quick", 0}, {"next", 0}}), Collect(2));
  // While answers keep coming, one about to come is waited for (briefly,
  // but long here: a loaded machine may answer late).
  Worker::SetAnswerWait(60000);
  ASSERT_TRUE(Worker::ActivatePlugin(&brief, 0));
  ASSERT_TRUE(Worker::ActivatePlugin(&after, 0));
  EXPECT_EQ(2u, Worker::Pool().size());
  EXPECT_EQ((Outcomes{{"brief", 0}, {"after", 0}}), Collect(2));
  Worker::SetAnswerWait(Worker::kAnswerWaitMs);
  // Whatever a plugin throws fails its activation alone, and says why.
  ASSERT_TRUE(Worker::ActivatePlugin(&throws, 0));
  EXPECT_EQ((Outcomes{{"throws", 1}}), Collect(1));
  EXPECT_NE(std::string::npos, root.ReadFile("/var/log/dawnstep-stdout.log")
                                   .find("Plugin throws failed: unknown exception\n"));

  // A request to a worker that died idle fails; a new worker takes its slot.
  Worker::LimitWorkers(2);
  ASSERT_TRUE(Worker::ActivatePlugin(&first, 0));
  EXPECT_EQ((Outcomes{{"first", 0}}), Collect(1));
  pid_t dead = Worker::Pool()[1]->pid;
  kill(dead, SIGKILL);
  AwaitDeath(dead);
  ASSERT_TRUE(Worker::ActivatePlugin(&second, 0));
  EXPECT_EQ((Outcomes{{"second", 0}}), Collect(1));
  EXPECT_NE(dead, Worker::Pool()[1]->pid);
  auto lines = NodeTexts(root, "/run/hkn/system.log");
  EXPECT_EQ("Dawnstep worker communication failed Broken pipe", lines.at(lines.size() - 2));
  // Such a request consumes its own broken-pipe signal, not one that was
  // blocked and pending before.
  sigset_t brokenPipe, pending;
  sigemptyset(&brokenPipe);
  sigaddset(&brokenPipe, SIGPIPE);
  sigprocmask(SIG_BLOCK, &brokenPipe, nullptr);
  raise(SIGPIPE);
  kill(Worker::Pool()[1]->pid, SIGKILL);
  AwaitDeath(Worker::Pool()[1]->pid);
  ASSERT_TRUE(Worker::ActivatePlugin(&third, 0));
  EXPECT_EQ((Outcomes{{"third", 0}}), Collect(1));
  sigpending(&pending);
  EXPECT_TRUE(sigismember(&pending, SIGPIPE));
  timespec noWait{};
  sigtimedwait(&brokenPipe, nullptr, &noWait);
  sigprocmask(SIG_UNBLOCK, &brokenPipe, nullptr);
  // Left for TearDown: `slow` busy for good, and an idle worker.
}

// A profile time stamp shows its moment to the microsecond, also when
// the second changes back and forth.
TEST(Profile, TimestampsShowTheirMomentToTheMicrosecond) {
  const std::vector<std::pair<timeval, std::string>> rows = {
      {{1709622489, 500000}, "2024-03-05 07:08:09.500000"},
      {{1709622490, 42}, "2024-03-05 07:08:10.000042"},
      {{1709622489, 7}, "2024-03-05 07:08:09.000007"},
      {{1709622489, 999999}, "2024-03-05 07:08:09.999999"}};
  for (const auto& [time, text] : rows) EXPECT_EQ(ProfileTimestamp(time), text);
}

}  // namespace
}  // namespace dawnstep
