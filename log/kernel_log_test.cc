#include "log/kernel_log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hkn.h"
#include "tests/child_process.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::ChildOutcome;
using testing::NodeTexts;
using testing::RunInChild;
using testing::TempRoot;
using Texts = std::vector<std::string>;

const char* SystemLog() { return HknNodeFile(HKN_NODE_system_log); }
const char* Alert() { return HknNodeFile(HKN_NODE_system_sysAlert); }
const char* Progress() { return HknNodeFile(HKN_NODE_system_progressTerm_progressText); }
const char* Status() { return HknNodeFile(HKN_NODE_system_progressTerm_statusText); }

TEST(KernelLog, EachStreamSendsWhatItsRulesLeave) {
  TempRoot root;
  KernelLog() << "abc" << std::endl;
  AlertLog() << "a\nb" << std::flush;
  ProgressLog() << "x\ry" << std::flush;
  StatusLog() << "Loading" << std::endl;
  KernelLog().flush();

  EXPECT_EQ(NodeTexts(root, SystemLog()), (Texts{"abc", ""}));
  EXPECT_EQ(NodeTexts(root, Alert()), Texts{"ab"});
  EXPECT_EQ(NodeTexts(root, Progress()), Texts{"y"});
  EXPECT_EQ(NodeTexts(root, Status()), Texts{"Loading\n"});
}

TEST(KernelLog, RecordsNameTheirSenderAndTime) {
  TempRoot root;
  KernelLog() << "stamped" << std::endl;
  std::string line = root.ReadFile(SystemLog());
  nlohmann::json record = nlohmann::json::parse(line);
  EXPECT_EQ(record.at("pid").get<int>(), getpid());
  EXPECT_TRUE(std::regex_match(record.at("time").get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)")))
      << record.dump();
}

TEST(KernelLog, DeactivationDiscardsPendingAndLaterText) {
  TempRoot root;
  ChildOutcome child = RunInChild([] {
    StatusLog() << "written before";
    DeactivateKernelLog();
    StatusLog() << "after" << std::endl;
    KernelLog() << "after" << std::endl;
    return std::string(StatusLog().good() && KernelLog().good() ? "good" : "not good");
  });
  EXPECT_EQ(child.report, "good");
  EXPECT_FALSE(std::filesystem::exists(root.Path(Status())));
  EXPECT_FALSE(std::filesystem::exists(root.Path(SystemLog())));

  KernelLog() << "still on here" << std::endl;
  EXPECT_EQ(NodeTexts(root, SystemLog()), Texts{"still on here"});
}

TEST(KernelLog, OneFailedSendDoesNotSilenceTheStream) {
  TempRoot root;
  ChildOutcome child = RunInChild([&root] {
    root.WriteFile("/run", "a file where the node directory should go");
    std::ostream& log = AlertLog();
    log << "lost" << std::endl;
    bool wentBad = log.bad();
    std::filesystem::remove(root.Path("/run"));
    AlertLog() << "arrives" << std::endl;
    return std::string(wentBad ? "went bad" : "stayed good");
  });
  EXPECT_EQ(child.report, "went bad");
  EXPECT_EQ(child.err, "Failed to set HKN node.\n");
  EXPECT_EQ(NodeTexts(root, Alert()), Texts{"arrives"});
}

TEST(KernelLog, ConcurrentWritersLeaveWholeRecords) {
  TempRoot root;
  const int kWriters = 4;
  const int kRecords = 50;
  const std::string padding(3000, '.');
  std::vector<std::string> expected;
  std::vector<pid_t> writers;
  fflush(nullptr);
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int record = 0; record < kRecords; ++record) {
      expected.push_back(std::to_string(writer) + ":" + std::to_string(record) + padding);
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int record = 0; record < kRecords; ++record) {
        KernelLog() << writer << ":" << record << padding << std::endl;
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  Texts texts = NodeTexts(root, SystemLog());  // throws on a torn line
  std::sort(texts.begin(), texts.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(texts, expected);
}

}  // namespace
}  // namespace dawnstep
