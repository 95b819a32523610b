// Workers that die and pipes that break, on cue.
#include "worker/worker.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "tests/temp_root.h"
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
  for (TestPlugin* plugin : {&killed, &slow, &exits, &crashes}) {
    ASSERT_TRUE(Worker::ActivatePlugin(plugin, 0));
  }
  kill(Worker::Pool()[0]->pid, SIGKILL);
  for (size_t dying : {0, 2, 3}) AwaitDeath(Worker::Pool()[dying]->pid);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ((Outcomes{{"killed", 9}, {"exits", 7}, {"crashes", 15}}), Collect(3));
  EXPECT_EQ("killed: exited with signal 9\ncrashes: exited with signal 15\n"
            "exits: exited with code 7\n",
            ::testing::internal::GetCapturedStdout());
  ASSERT_EQ(1u, Worker::Pool().size());

  // A request to a worker that died idle fails; a new worker takes its slot.
  Worker::LimitWorkers(2);
  TestPlugin first("first", {}, {}), second("second", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&first, 0));
  EXPECT_EQ((Outcomes{{"first", 0}}), Collect(1));
  pid_t dead = Worker::Pool()[1]->pid;
  kill(dead, SIGKILL);
  AwaitDeath(dead);
  ASSERT_TRUE(Worker::ActivatePlugin(&second, 0));
  EXPECT_EQ((Outcomes{{"second", 0}}), Collect(1));
  EXPECT_NE(dead, Worker::Pool()[1]->pid);
  EXPECT_EQ("Dawnstep worker communication failed Broken pipe",
            NodeTexts(root, "/run/hkn/system.log").at(6));
  // Left for TearDown: `slow` busy for good, and an idle worker.
}

}  // namespace
}  // namespace dawnstep
