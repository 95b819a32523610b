#include "main/logging.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/host_log.h"
#include "tests/child_process.h"
#include "tests/log_capture.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::ChildOutcome;
using testing::LogCapture;
using testing::LogRecord;
using testing::RunInChild;
using testing::TempRoot;

// The library as a fresh process finds it, with the system logger replaced
// by a list that the child's report can show.
std::vector<std::pair<int, std::string>>& Sent() {
  static std::vector<std::pair<int, std::string>> sent;
  return sent;
}

void FreshLibrary(HostLogHooks hooks) {
  ResetHostLog();
  Sent().clear();
  hooks.syslog = [](int priority, const std::string& text) { Sent().emplace_back(priority, text); };
  SetHostLogHooks(hooks);
}

std::string StatusReport() {
  HostLogStatus status = CurrentHostLogStatus();
  return std::string("line-buffered=") + (__flbf(stdout) ? "yes" : "no") +
         " syslog=" + (status.syslogRunning ? status.syslogIdentity : "off") +
         " stdio=" + std::to_string(status.stdioOutputs) +
         " echo=" + std::to_string(status.stderrLevel) +
         " dicts=" + std::to_string(status.liveDictionaries);
}

TEST(InitLogging, SetsUpSyslogAndOneDecoratedStdoutChannel) {
  ChildOutcome child = RunInChild([] {
    FreshLibrary({});
    init_logging("Kestor2");
    Log_Level(5, "Invoking method start on plugin %s\n", "net");
    Log_Level(6, "below info\n");
    std::string report = StatusReport() + "\n";
    for (const auto& [priority, text] : Sent())
      report += std::to_string(priority) + " " + text + "\n";
    return report + std::to_string(getpid());
  });
  ASSERT_EQ(child.exitCode, 0) << child.report;
  std::string pid = child.report.substr(child.report.rfind('\n') + 1);
  EXPECT_EQ(child.report, "line-buffered=yes syslog=Kestor2 stdio=1 echo=-1 dicts=0\n" +
                              std::to_string(LOG_INFO) + " dawnstep " + ProductState_GetVersion() +
                              " build " + ProductState_GetBuildNumberString() + " (" +
                              ProductState_GetCompilationOption() + "), product orvo\n" +
                              std::to_string(LOG_INFO) + " Invoking method start on plugin net\n" +
                              pid);
  EXPECT_TRUE(std::regex_match(
      child.out, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z In\(5\) Kestor2\[)" + pid +
                            R"(\]: Invoking method start on plugin net\n)")))
      << child.out;
  EXPECT_EQ(child.err, "") << "echo on standard error is off";
}

TEST(InitLogging, EachFailureIsReportedAndLeavesTheRestAsItWas) {
  struct Case {
    const char* name;
    HostLogHooks hooks;
    std::string message;
    std::string status;
  };
  auto failing = [](bool syslogInit, bool newStdio, bool add) {
    HostLogHooks hooks;
    hooks.failSyslogInit = syslogInit;
    hooks.failNewStdioOutput = newStdio;
    hooks.failAddOutput = add;
    return hooks;
  };
  const std::string defaultEcho = std::to_string(kLogInfo);
  const std::vector<Case> cases = {
      {"syslog", failing(true, false, false), "Failed to initialize logging to syslog.\n",
       "line-buffered=yes syslog=off stdio=0 echo=" + defaultEcho + " dicts=0"},
      {"new stdio", failing(false, true, false),
       "Failed creating standard out logging interface.\n",
       "line-buffered=yes syslog=Kestor2 stdio=0 echo=" + defaultEcho + " dicts=0"},
      {"add stdio", failing(false, false, true), "Failed adding standard out logging interface.\n",
       "line-buffered=yes syslog=Kestor2 stdio=0 echo=" + defaultEcho + " dicts=0"},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.name);
    ChildOutcome child = RunInChild([&failure] {
      FreshLibrary(failure.hooks);
      init_logging("Kestor2");
      return StatusReport();
    });
    EXPECT_EQ(child.exitCode, 0);
    EXPECT_EQ(child.report, failure.status);
    EXPECT_EQ(child.err, failure.message);
    EXPECT_EQ(child.out, "");
  }
}

struct Descriptor {
  dev_t dev;
  ino_t ino;
  bool operator==(const Descriptor&) const = default;
};

Descriptor Identify(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return {0, 0};
  return {info.st_dev, info.st_ino};
}

Descriptor IdentifyPath(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {0, 0};
  return {info.st_dev, info.st_ino};
}

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

std::string Yes(bool condition) { return condition ? "yes" : "no"; }

// Standard input on a pipe, so that a move to /dev/null shows.
void StdinFromPipe() {
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
  dup2(ends[0], STDIN_FILENO);
  close(ends[0]);
  close(ends[1]);
}

TEST(InitFds, PointsStandardDescriptorsAtDevNullAndTheAppendedLog) {
  TempRoot root;
  const std::string log = root.Path("/work.log");
  root.WriteFile("/work.log", "earlier run\n");
  ChildOutcome child = RunInChild([&log] {
    StdinFromPipe();
    LogCapture warnings;
    int before = OpenDescriptors();
    init_fds(log.c_str());
    int after = OpenDescriptors();
    printf("to stdout\n");
    fflush(stdout);
    fprintf(stderr, "to stderr\n");
    return "stdin=" + Yes(Identify(0) == IdentifyPath("/dev/null")) +
           " stdout=" + Yes(Identify(1) == IdentifyPath(log)) +
           " stderr=" + Yes(Identify(2) == IdentifyPath(log)) +
           " append=" + Yes((fcntl(1, F_GETFL) & O_APPEND) != 0) +
           " leaked=" + std::to_string(after - before) +
           " warnings=" + std::to_string(warnings.records().size());
  });
  EXPECT_EQ(child.report, "stdin=yes stdout=yes stderr=yes append=yes leaked=0 warnings=0");
  EXPECT_EQ(root.ReadFile("/work.log"), "earlier run\nto stdout\nto stderr\n");
  EXPECT_EQ(child.out, "");
  EXPECT_EQ(child.err, "");
}

TEST(InitFds, MissingDirectoryWarnsOnceAndStillQuietsStdin) {
  TempRoot root;
  const std::string log = root.Path("/no/such/dir/work.log");
  ChildOutcome child = RunInChild([&log] {
    StdinFromPipe();
    LogCapture warnings;
    Descriptor out = Identify(1);
    Descriptor err = Identify(2);
    init_fds(log.c_str());
    bool ok = warnings.records() ==
              std::vector<LogRecord>{{kLogWarning, "Failed opening log file " + log}};
    return "warning=" + Yes(ok) + " stdin=" + Yes(Identify(0) == IdentifyPath("/dev/null")) +
           " stdout kept=" + Yes(Identify(1) == out) + " stderr kept=" + Yes(Identify(2) == err);
  });
  EXPECT_EQ(child.report, "warning=yes stdin=yes stdout kept=yes stderr kept=yes");
  EXPECT_NE(child.err.find("Failed opening log file " + log + "\n"), std::string::npos)
      << "echoed, since no process log is set up: " << child.err;
}

TEST(InitFds, ClosedStandardDescriptorsEndUpOpen) {
  TempRoot root;
  const std::string log = root.Path("/work.log");
  ChildOutcome child = RunInChild([&log] {
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    init_fds(log.c_str());
    const char text[] = "still written\n";
    bool written = write(STDOUT_FILENO, text, sizeof text - 1) == sizeof text - 1;
    return "stdin=" + Yes(Identify(0) == IdentifyPath("/dev/null")) + " written=" + Yes(written);
  });
  EXPECT_EQ(child.report, "stdin=yes written=yes");
  EXPECT_EQ(root.ReadFile("/work.log"), "still written\n");
}

// The warnings are read from their echo on standard error: with no
// descriptor to spare, the sanitizers' own checks of a virtual call fail.
TEST(InitFds, WithoutFreeDescriptorsEveryStepWarnsAndNothingMoves) {
  TempRoot root;
  const std::string log = root.Path("/work.log");
  ChildOutcome child = RunInChild([&log] {
    Descriptor in = Identify(0);
    int lowestFree = dup(0);
    close(lowestFree);
    rlimit limit{static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
    setrlimit(RLIMIT_NOFILE, &limit);
    init_fds(log.c_str());
    return "stdin kept=" + Yes(Identify(0) == in);
  });
  ASSERT_EQ(child.exitCode, 0) << child.err;
  EXPECT_EQ(child.report, "stdin kept=yes");
  EXPECT_TRUE(
      std::regex_match(child.err, std::regex(".* Wa\\(4\\) [^ ]+: Failed opening /dev/null\n"
                                             ".* Wa\\(4\\) [^ ]+: Failed opening log file " +
                                             log + "\n")))
      << child.err;
}

}  // namespace
}  // namespace dawnstep
