// The program as a whole: command line, exit statuses and what reaches
// standard error and the kernel nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "main/option.h"
#include "platform/file_system.h"
#include "tests/run_binary.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::BinaryRun;
using testing::NodeTexts;
using testing::RunBinary;
using testing::TempRoot;

const char kAlertNode[] = "/run/hkn/system.sysAlert";
const char kPluginDir[] = "/usr/libexec/dawnstep/plugins";

class MainTest : public ::testing::Test {
 protected:
  void SetUp() override { root.MakeDir("/run"); }

  BinaryRun Run(const std::vector<std::string>& args, const std::string& input = "") {
    return RunBinary(args, root.path(), input);
  }

  std::vector<std::string> Alerts() { return NodeTexts(root, kAlertNode); }

  // The alert records that complain about the command line.
  std::vector<std::string> CommandLineAlerts() {
    std::vector<std::string> complaints;
    for (const std::string& text : Alerts()) {
      if (text.starts_with("Invalid ") || text.starts_with("Missing ")) complaints.push_back(text);
    }
    return complaints;
  }

  static std::string UsageText() {
    std::ostringstream text;
    WriteUsage(text);
    return text.str();
  }

  TempRoot root;
};

TEST_F(MainTest, HelpPrintsTheOptionTableOnStandardErrorOnly) {
  for (const char* help : {"--help", "-h", "--help=now"}) {
    BinaryRun run = Run({help, "--bogus"});
    EXPECT_EQ(0, run.status) << help;
    EXPECT_EQ("", run.out);
    EXPECT_EQ(UsageText(), run.err);
  }
  std::istringstream lines(Run({"--help"}).err);
  int entries = 0;
  for (std::string line; std::getline(lines, line);) entries += !line.starts_with('\t');
  EXPECT_EQ(13, entries);
  EXPECT_EQ(std::vector<std::string>{}, Alerts());
}

TEST_F(MainTest, UnknownOptionIsReportedAsTyped) {
  BinaryRun run = Run({"--dry", "--bogus=1", "--help"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(UsageText(), run.err);
  EXPECT_EQ(std::vector<std::string>{"Invalid arg --bogus=1"}, Alerts());
}

TEST_F(MainTest, QuietSilencesCommandLineComplaintsButNotUsage) {
  BinaryRun run = Run({"--quiet", "--bogus"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(UsageText(), run.err);
  EXPECT_EQ(std::vector<std::string>{}, Alerts());
}

TEST_F(MainTest, MissingMandatoryValue) {
  BinaryRun run = Run({"--max-workers"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(UsageText(), run.err);
  EXPECT_EQ(std::vector<std::string>{"Missing arg for --max-workers"}, Alerts());
}

TEST_F(MainTest, InvalidNumbersEndWithUsage) {
  BinaryRun run = Run({"--max-workers", "many"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(UsageText(), run.err);
  run = Run({"--randomize=99999999999"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ((std::vector<std::string>{"Invalid value for --max-workers: many",
                                      "Invalid value for --randomize: 99999999999"}),
            Alerts());
}

TEST_F(MainTest, HelpEndsTheRunBeforeLoading) {
  root.WriteFile(std::string(kPluginDir) + "/readme.txt", "");
  BinaryRun run = Run({"--dry", "--help"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(UsageText(), run.err);
}

TEST_F(MainTest, UnloadablePluginIsSkippedAndTheRunSucceeds) {
  root.WriteFile(std::string(kPluginDir) + "/readme.txt", "");
  BinaryRun run = Run({"", "=x", "--dry", "--max-workers", "-1", "--randomize=0"});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos,
            run.err.find("Skipping " + root.Path(kPluginDir) + "/readme.txt: unknown type\n"))
      << run.err;
  EXPECT_EQ(std::vector<std::string>{}, CommandLineAlerts());
}

TEST_F(MainTest, QueryWithItsTagLeftOutAtTheEndSucceeds) {
  BinaryRun run = Run({"--tags", "--requires", "usb", "--provides"});
  EXPECT_EQ(0, run.status);
  // An empty provides tag lists every plugin: here only the built-in one,
  // whose kind tag the tag list leaves out.
  EXPECT_EQ("end-autoconf: builtin plugins\n", run.out);
  EXPECT_EQ(std::vector<std::string>{}, CommandLineAlerts());
}

TEST_F(MainTest, RunOnceRecordIsEmptiedInEveryMode) {
  const std::vector<std::vector<std::string>> modes = {
      {"--help"}, {"--bogus"}, {"--max-workers"}, {"--tags"}, {"--dry"}, {}};
  for (const auto& args : modes) {
    root.WriteFile("/.runonce", "dawnstep.run-once=stale");
    Run(args);
    EXPECT_EQ("", root.ReadFile("/.runonce")) << ::testing::PrintToString(args);
  }
  std::remove(root.Path("/.runonce").c_str());
  Run({"--help"});
  EXPECT_TRUE(PathExists(root.Path("/.runonce")));
}

TEST_F(MainTest, RunnerCopesWithLargeOutputAndUnreadInput) {
  std::vector<std::string> args;
  for (int batch = 0; batch < 4; ++batch) {
    std::string list;
    for (int i = 0; i < 1000; ++i) {
      list += "/no/such/plugin-" + std::to_string(batch * 1000 + i) + ".txt,";
    }
    args.push_back("--plugin");
    args.push_back(list);
  }
  BinaryRun run = Run(args, std::string(1 << 20, 'y'));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(4000, std::count(run.err.begin(), run.err.end(), '\n'));
  EXPECT_NE(std::string::npos, run.err.find("Skipping /no/such/plugin-3999.txt: unknown type\n"));
}

}  // namespace
}  // namespace dawnstep
