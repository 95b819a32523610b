#include "worker/worker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>

#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TempRoot;
using testing::TestPlugin;
using Outcomes = std::map<std::string, int>;

const char kSystemLog[] = "/run/hkn/system.log";

// Waits until a process has ended without reaping it, so that the pool
// still finds it to reap.
void AwaitDeath(pid_t pid) {
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
}

// A pipe that blocked plugins read one byte from before they finish.
class Gate {
 public:
  Gate() {
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
  }
  ~Gate() {
    close(fds[0]);
    close(fds[1]);
  }
  bool Pass() const {
    char byte;
    return read(fds[0], &byte, 1) == 1;
  }
  void Open(int plugins) const {
    for (int i = 0; i < plugins; ++i) ASSERT_EQ(1, write(fds[1], "x", 1));
  }

 private:
  int fds[2];
};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.MakeDir("/var/log");
    root.MakeDir("/run/hkn");
    Plugin::ResetRegistry();
    Worker::ResetPool();
  }
  void TearDown() override { Worker::ResetPool(); }

  // Collects results until `count` plugins have been reported.
  static Outcomes Collect(size_t count) {
    Outcomes outcomes;
    size_t seen = 0;
    while (seen < count) {
      for (auto [plugin, code] : Worker::PluginResults()) {
        outcomes[plugin->name] = code;
        ++seen;
      }
    }
    return outcomes;
  }

  static std::set<pid_t> PoolPids() {
    std::set<pid_t> pids;
    for (const auto& worker : Worker::Pool()) pids.insert(worker->pid);
    return pids;
  }

  static pid_t WorkerOf(const Plugin& plugin) {
    for (const auto& worker : Worker::Pool()) {
      if (worker->plugin == &plugin) return worker->pid;
    }
    return 0;
  }

  TempRoot root;
};

TEST_F(WorkerTest, LimitsDecideHowManyWorkersAreForked) {
  TestPlugin skipped("skipped", {}, {});
  skipped.nothingToStart = true;
  TestPlugin work("work", {}, {});

  Worker::LimitWorkers(0);
  EXPECT_FALSE(Worker::ActivatePlugin(&work, 0));
  EXPECT_TRUE(Worker::ActivatePlugin(&skipped, 0));
  EXPECT_TRUE(Worker::Pool().empty());
  EXPECT_EQ((Outcomes{{"skipped", 0}}), Collect(1));
  EXPECT_FALSE(work.assigned);

  Worker::LimitWorkers(-1);
  std::vector<std::unique_ptr<TestPlugin>> many;
  for (int i = 0; i < 6; ++i) {
    many.push_back(std::make_unique<TestPlugin>("p" + std::to_string(i),
                                                std::vector<std::string>{},
                                                std::vector<std::string>{}));
    EXPECT_TRUE(Worker::ActivatePlugin(many.back().get(), 0));
  }
  EXPECT_EQ(6u, Worker::Pool().size());
  EXPECT_EQ(6u, Collect(6).size());
}

TEST_F(WorkerTest, ThreeWorkersServeFivePluginsAndAreReused) {
  Worker::LimitWorkers(3);
  std::vector<std::unique_ptr<TestPlugin>> plugins;
  for (int i = 0; i < 5; ++i) {
    plugins.push_back(std::make_unique<TestPlugin>(
        "p" + std::to_string(i), std::vector<std::string>{}, std::vector<std::string>{},
        [i](Plugin::ActivateFlags flags) { return flags == static_cast<uint32_t>(0x40 + i); }));
  }
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Worker::ActivatePlugin(plugins[i].get(), 0x40 + i));
  EXPECT_TRUE(plugins[2]->assigned);
  EXPECT_FALSE(Worker::ActivatePlugin(plugins[3].get(), 0x43));
  EXPECT_FALSE(Worker::ActivatePlugin(plugins[4].get(), 0x44));
  EXPECT_FALSE(plugins[3]->assigned);
  std::set<pid_t> first = PoolPids();
  EXPECT_EQ(3u, first.size());

  Outcomes outcomes;
  size_t next = 3;
  while (outcomes.size() < 5) {
    for (auto [plugin, code] : Worker::PluginResults()) outcomes[plugin->name] = code;
    while (next < 5 && Worker::ActivatePlugin(plugins[next].get(), 0x40 + next)) ++next;
  }
  // Each worker saw the flag word of its own request.
  EXPECT_EQ((Outcomes{{"p0", 0}, {"p1", 0}, {"p2", 0}, {"p3", 0}, {"p4", 0}}), outcomes);
  EXPECT_EQ(first, PoolPids());
  std::vector<std::string> log = NodeTexts(root, kSystemLog);
  EXPECT_EQ(5, std::count_if(log.begin(), log.end(), [](const std::string& line) {
              return line.starts_with("Activating Dawnstep plugin p");
            }));
}

TEST_F(WorkerTest, ASkippedPluginIsReportedWhileEveryWorkerIsBusy) {
  Gate gate;
  Worker::LimitWorkers(1);
  TestPlugin busy("busy", {}, {}, [&](Plugin::ActivateFlags) { return gate.Pass(); });
  TestPlugin off("off", {}, {});
  off.disabled = true;
  TestPlugin asked("asked", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&busy, 0));
  EXPECT_TRUE(Worker::ActivatePlugin(&off, 0));
  EXPECT_TRUE(Worker::ActivatePlugin(&asked, Plugin::SkipPlugin));
  std::vector<Worker::Outcome> results = Worker::PluginResults();
  EXPECT_EQ((std::vector<Worker::Outcome>{{&off, 0}, {&asked, 0}}), results);
  EXPECT_EQ((std::vector<std::string>{"Activating Dawnstep plugin busy.",
                                      "Dawnstep plugin off skipped.",
                                      "Dawnstep plugin asked skipped."}),
            NodeTexts(root, kSystemLog));
  gate.Open(1);
  EXPECT_EQ((Outcomes{{"busy", 0}}), Collect(1));
  std::string profile = root.ReadFile("/var/log/sysboot.log");
  EXPECT_NE(std::string::npos, profile.find("] sysboot: off\n"));
  EXPECT_NE(std::string::npos, profile.find("] sysboot: busy\n"));
}

TEST_F(WorkerTest, FailuresAndExceptionsKeepTheWorker) {
  Worker::LimitWorkers(1);
  TestPlugin refuses("refuses", {}, {}, [](Plugin::ActivateFlags) { return false; });
  TestPlugin throws("throws", {}, {}, [](Plugin::ActivateFlags) -> bool {
    throw std::runtime_error("disk on fire");
  });
  TestPlugin fine("fine", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&refuses, 0));
  pid_t worker = *PoolPids().begin();
  EXPECT_EQ((Outcomes{{"refuses", 1}}), Collect(1));
  ASSERT_TRUE(Worker::ActivatePlugin(&throws, 0));
  EXPECT_EQ((Outcomes{{"throws", 1}}), Collect(1));
  ASSERT_TRUE(Worker::ActivatePlugin(&fine, 0));
  EXPECT_EQ((Outcomes{{"fine", 0}}), Collect(1));
  EXPECT_EQ(std::set<pid_t>{worker}, PoolPids());
  EXPECT_NE(std::string::npos,
            root.ReadFile("/var/log/dawnstep-stdout.log").find("throws failed: disk on fire"));
}

TEST_F(WorkerTest, DeadWorkersAreReportedAndReplaced) {
  Gate gate;
  Worker::LimitWorkers(4);
  TestPlugin killed("killed", {}, {}, [](Plugin::ActivateFlags) -> bool { pause(); return true; });
  TestPlugin slow("slow", {}, {}, [&](Plugin::ActivateFlags) { return gate.Pass(); });
  TestPlugin exits("exits", {}, {}, [](Plugin::ActivateFlags) -> bool { exit(7); });
  TestPlugin crashes("crashes", {}, {}, [](Plugin::ActivateFlags) -> bool {
    raise(SIGTERM);
    return true;
  });
  for (TestPlugin* plugin : {&killed, &slow, &exits, &crashes}) {
    ASSERT_TRUE(Worker::ActivatePlugin(plugin, 0));
  }
  kill(WorkerOf(killed), SIGKILL);
  // Three of the four die before the pool looks, at positions 0, 2 and 3.
  for (TestPlugin* plugin : {&killed, &exits, &crashes}) AwaitDeath(WorkerOf(*plugin));
  ::testing::internal::CaptureStdout();
  std::vector<Worker::Outcome> results = Worker::PluginResults();
  std::string printed = ::testing::internal::GetCapturedStdout();
  Outcomes outcomes;
  for (auto [plugin, code] : results) outcomes[plugin->name] = code;
  EXPECT_EQ((Outcomes{{"killed", 9}, {"exits", 7}, {"crashes", SIGTERM}}), outcomes);
  EXPECT_NE(std::string::npos, printed.find("killed: exited with signal 9\n"));
  EXPECT_NE(std::string::npos, printed.find("exits: exited with code 7\n"));
  EXPECT_NE(std::string::npos,
            printed.find("crashes: exited with signal " + std::to_string(SIGTERM) + "\n"));
  ASSERT_EQ(1u, Worker::Pool().size());
  EXPECT_EQ(&slow, Worker::Pool()[0]->plugin);

  TestPlugin later("later", {}, {});
  std::set<pid_t> before = PoolPids();
  ASSERT_TRUE(Worker::ActivatePlugin(&later, 0));
  EXPECT_EQ(2u, Worker::Pool().size());
  EXPECT_FALSE(before.count(WorkerOf(later)));
  gate.Open(1);
  EXPECT_EQ((Outcomes{{"later", 0}, {"slow", 0}}), Collect(2));
}

TEST_F(WorkerTest, AWorkerThatDiesIdleLeavesQuietly) {
  TestPlugin first("first", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&first, 0));
  EXPECT_EQ((Outcomes{{"first", 0}}), Collect(1));
  pid_t worker = Worker::Pool()[0]->pid;
  kill(worker, SIGKILL);
  AwaitDeath(worker);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(Worker::PluginResults().empty());
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_TRUE(Worker::Pool().empty());
}

TEST_F(WorkerTest, ARequestToADeadWorkerIsACommunicationFailure) {
  Worker::LimitWorkers(1);
  TestPlugin first("first", {}, {});
  // A worker must restore the default broken-pipe disposition for the
  // programs its plugins start, whatever the main process inherited.
  TestPlugin second("second", {}, {}, [](Plugin::ActivateFlags) {
    struct sigaction action;
    sigset_t mask;
    sigaction(SIGPIPE, nullptr, &action);
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    return action.sa_handler == SIG_DFL && !sigismember(&mask, SIGPIPE);
  });
  ASSERT_TRUE(Worker::ActivatePlugin(&first, 0));
  EXPECT_EQ((Outcomes{{"first", 0}}), Collect(1));
  pid_t dead = Worker::Pool()[0]->pid;
  kill(dead, SIGKILL);
  AwaitDeath(dead);

  signal(SIGPIPE, SIG_IGN);
  bool started = Worker::ActivatePlugin(&second, 0);
  signal(SIGPIPE, SIG_DFL);
  ASSERT_TRUE(started);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  ASSERT_EQ(1u, Worker::Pool().size());
  EXPECT_NE(dead, Worker::Pool()[0]->pid);
  EXPECT_EQ((Outcomes{{"second", 0}}), Collect(1));
  EXPECT_EQ((std::vector<std::string>{"Activating Dawnstep plugin first.",
                                      "Activating Dawnstep plugin second.",
                                      "Dawnstep worker communication failed Broken pipe",
                                      "Activating Dawnstep plugin second."}),
            NodeTexts(root, kSystemLog));
}

// The write end of this process's response pipe: its only pipe opened for
// writing above the standard descriptors.
int ResponseDescriptor() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(entry.path().filename().string());
    struct stat info;
    if (fd > 2 && fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) &&
        (fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY) {
      return fd;
    }
  }
  return -1;
}

TEST_F(WorkerTest, AnAnswerForAnotherPluginCondemnsTheWorker) {
  TestPlugin bystander("bystander", {}, {});
  TestPlugin liar("liar", {}, {}, [&](Plugin::ActivateFlags) -> bool {
    struct {
      Plugin* plugin;
      int32_t result;
      uint32_t padding;
    } forged{&bystander, 0, 0};
    if (write(ResponseDescriptor(), &forged, sizeof forged) != sizeof forged) return false;
    pause();
    return true;
  });
  ASSERT_TRUE(Worker::ActivatePlugin(&liar, 0));
  ::testing::internal::CaptureStdout();
  Outcomes outcomes = Collect(1);
  EXPECT_EQ("liar: invalid worker response\n", ::testing::internal::GetCapturedStdout());
  EXPECT_EQ((Outcomes{{"liar", 1}}), outcomes);
  EXPECT_TRUE(Worker::Pool().empty());
}

TEST_F(WorkerTest, DryRunWorkersKeepStandardOutputAndRecordNoTimes) {
  auto chatty = [](Plugin::ActivateFlags flags) {
    std::cout << "said with flags " << flags << std::endl;
    return true;
  };
  TestPlugin dry("dry", {}, {}, chatty);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(Worker::ActivatePlugin(&dry, Plugin::DryRun));
  Collect(1);
  Worker::ResetPool();
  EXPECT_EQ("said with flags 1\n", ::testing::internal::GetCapturedStdout());
  std::string profile = root.ReadFile("/var/log/sysboot.log");
  EXPECT_TRUE(profile.starts_with("HVKernel Initialization Time: "));
  EXPECT_EQ(std::string::npos, profile.find("sysboot: dry"));

  TestPlugin real("real", {}, {}, chatty);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(Worker::ActivatePlugin(&real, 0));
  Collect(1);
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_EQ("said with flags 0\n", root.ReadFile("/var/log/dawnstep-stdout.log"));
  EXPECT_NE(std::string::npos, root.ReadFile("/var/log/sysboot.log").find("] sysboot: real\n"));
}

TEST_F(WorkerTest, TextBufferedBeforeAForkIsWrittenOnce) {
  ::testing::internal::CaptureStdout();
  std::cout << "once ";
  printf("and once\n");
  TestPlugin plugin("plugin", {}, {});
  ASSERT_TRUE(Worker::ActivatePlugin(&plugin, Plugin::DryRun));
  Collect(1);
  Worker::ResetPool();
  EXPECT_EQ("once and once\n", ::testing::internal::GetCapturedStdout());
}

// Pipe identities (inode and access mode) open in this process.
std::set<std::pair<ino_t, int>> OpenPipes() {
  std::set<std::pair<ino_t, int>> pipes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(entry.path().filename().string());
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode)) {
      pipes.insert({info.st_ino, fcntl(fd, F_GETFL) & O_ACCMODE});
    }
  }
  return pipes;
}

ino_t Inode(int fd) {
  struct stat info;
  fstat(fd, &info);
  return info.st_ino;
}

TEST_F(WorkerTest, AWorkerHoldsOnlyItsOwnPipeEnds) {
  std::vector<std::unique_ptr<TestPlugin>> plugins;
  for (int i = 0; i < 3; ++i) {
    std::string name = "p" + std::to_string(i);
    plugins.push_back(std::make_unique<TestPlugin>(
        name, std::vector<std::string>{}, std::vector<std::string>{},
        [this, name](Plugin::ActivateFlags) {
          std::ofstream out(root.Path("/pipes-" + name));
          for (auto [inode, mode] : OpenPipes()) out << inode << ' ' << mode << '\n';
          return true;
        }));
    ASSERT_TRUE(Worker::ActivatePlugin(plugins.back().get(), 0));
  }
  std::set<ino_t> poolPipes;
  for (const auto& worker : Worker::Pool()) {
    poolPipes.insert(Inode(worker->requestFd));
    poolPipes.insert(Inode(worker->responseFd));
  }
  std::map<std::string, std::set<std::pair<ino_t, int>>> expected;
  for (const auto& worker : Worker::Pool()) {
    expected[worker->plugin->name] = {{Inode(worker->requestFd), O_RDONLY},
                                      {Inode(worker->responseFd), O_WRONLY}};
  }
  Collect(3);
  for (const auto& [name, own] : expected) {
    std::set<std::pair<ino_t, int>> seen;
    std::ifstream in(root.Path("/pipes-" + name));
    ino_t inode;
    int mode;
    while (in >> inode >> mode) {
      if (poolPipes.count(inode)) seen.insert({inode, mode});
    }
    EXPECT_EQ(own, seen) << name;
  }
}

}  // namespace
}  // namespace dawnstep
