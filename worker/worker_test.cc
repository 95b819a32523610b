// Worker processes that die, and pipes that break, where the program cannot
// make them do so on cue.
#include "worker/worker.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <map>

#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TestPlugin;
using Outcomes = std::map<std::string, int>;

// Waits until a process has ended, leaving it for the pool to reap.
void AwaitDeath(pid_t pid) {
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
}

pid_t WorkerOf(const Plugin& plugin) {
  for (const auto& worker : Worker::Pool()) {
    if (worker->plugin == &plugin) return worker->pid;
  }
  return 0;
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
  // Must end busy and idle workers alike: a hang here is a failure.
  void TearDown() override {
    Worker::ResetPool();
    EXPECT_TRUE(Worker::Pool().empty());
  }

  testing::TempRoot root;
};

TEST_F(WorkerTest, DeadWorkersAreReportedWhereverTheySitInThePool) {
  auto forever = [](Plugin::ActivateFlags) { return pause() == 0; };
  TestPlugin killed("killed", {}, {}, forever);
  TestPlugin slow("slow", {}, {}, forever);
  TestPlugin exits("exits", {}, {}, [](Plugin::ActivateFlags) -> bool { exit(7); });
  TestPlugin crashes("crashes", {}, {}, [](Plugin::ActivateFlags) { return raise(SIGTERM) == 0; });
  for (TestPlugin* plugin : {&killed, &slow, &exits, &crashes}) {
    ASSERT_TRUE(Worker::ActivatePlugin(plugin, 0));
  }
  ASSERT_EQ(4u, Worker::Pool().size());
  kill(WorkerOf(killed), SIGKILL);
  for (TestPlugin* plugin : {&killed, &exits, &crashes}) AwaitDeath(WorkerOf(*plugin));
  ::testing::internal::CaptureStdout();
  Outcomes outcomes = Collect(3);
  EXPECT_EQ((Outcomes{{"killed", 9}, {"exits", 7}, {"crashes", SIGTERM}}), outcomes);
  EXPECT_EQ("killed: exited with signal 9\ncrashes: exited with signal " +
                std::to_string(SIGTERM) + "\nexits: exited with code 7\n",
            ::testing::internal::GetCapturedStdout());
  ASSERT_EQ(1u, Worker::Pool().size());

  // A worker that dies idle leaves without a word or a result.
  TestPlugin later("later", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&later, 0));
  EXPECT_EQ((Outcomes{{"later", 0}}), Collect(1));
  pid_t idle = WorkerOf(slow) == Worker::Pool()[0]->pid ? Worker::Pool()[1]->pid
                                                         : Worker::Pool()[0]->pid;
  kill(idle, SIGKILL);
  AwaitDeath(idle);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(Worker::PluginResults().empty());
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_EQ(1u, Worker::Pool().size());

  // Left for TearDown: `slow` busy for good, and one idle worker.
  TestPlugin quick("quick", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&quick, 0));
  EXPECT_EQ((Outcomes{{"quick", 0}}), Collect(1));
}

TEST_F(WorkerTest, ARequestToADeadWorkerIsACommunicationFailure) {
  Worker::LimitWorkers(1);
  TestPlugin first("first", {}, {});
  TestPlugin second("second", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&first, 0));
  EXPECT_EQ((Outcomes{{"first", 0}}), Collect(1));
  pid_t dead = Worker::Pool()[0]->pid;
  kill(dead, SIGKILL);
  AwaitDeath(dead);
  // The broken pipe must not end this process, and the dead worker's slot
  // goes to a new one.
  ASSERT_TRUE(Worker::ActivatePlugin(&second, 0));
  EXPECT_NE(dead, Worker::Pool()[0]->pid);
  EXPECT_EQ((Outcomes{{"second", 0}}), Collect(1));
  EXPECT_EQ((std::vector<std::string>{"Activating Dawnstep plugin first.",
                                      "Activating Dawnstep plugin second.",
                                      "Dawnstep worker communication failed Broken pipe",
                                      "Activating Dawnstep plugin second."}),
            NodeTexts(root, "/run/hkn/system.log"));
}

TEST_F(WorkerTest, TextBufferedBeforeAForkIsWrittenOnce) {
  std::filebuf file;
  file.open(root.Path("/clog"), std::ios::out);
  std::streambuf* previous = std::clog.rdbuf(&file);
  std::clog << "once";
  TestPlugin plugin("plugin", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&plugin, Plugin::DryRun));
  Collect(1);
  Worker::ResetPool();  // the worker exits, flushing what it inherited
  std::clog.rdbuf(previous);
  file.close();
  EXPECT_EQ("once", root.ReadFile("/clog"));
}

}  // namespace
}  // namespace dawnstep
