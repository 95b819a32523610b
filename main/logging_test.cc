#include "main/logging.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/host_log.h"
#include "tests/child_process.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::RunInChild;

// A failing step is reported on standard error and stops the set-up there.
TEST(InitLogging, EachFailureIsReportedAndStopsTheSetUp) {
  const std::vector<std::vector<std::string>> cases = {
      {"", "syslog=1 stdio=1 echo=-1"},
      {"Failed to initialize logging to syslog.\n", "syslog=0 stdio=0 echo=5"},
      {"Failed creating standard out logging interface.\n", "syslog=1 stdio=0 echo=5"},
      {"Failed adding standard out logging interface.\n", "syslog=1 stdio=0 echo=5"}};
  for (size_t failing = 0; failing < cases.size(); ++failing) {
    testing::ChildOutcome child = RunInChild([failing] {
      ResetHostLog();
      SetHostLogHooks({failing == 1, failing == 2, failing == 3, [](int, const std::string&) {}});
      init_logging("Kestor2");
      HostLogStatus status = CurrentHostLogStatus();
      return "syslog=" + std::to_string(status.syslogIdentity == "Kestor2") + " stdio=" +
             std::to_string(status.stdioOutputs) + " echo=" + std::to_string(status.stderrLevel);
    });
    EXPECT_EQ(child.err, cases[failing][0]);
    EXPECT_EQ(child.report, cases[failing][1]);
  }
}

// With two descriptors allowed, the log file becomes standard output but
// cannot become standard error; the warning is echoed there.
TEST(InitFds, AStandardDescriptorThatCannotMoveIsWarnedAbout) {
  testing::TempRoot root;
  const std::string log = root.Path("/work.log");
  testing::ChildOutcome child = RunInChild([&log] {
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    rlimit limit{2, 2};
    setrlimit(RLIMIT_NOFILE, &limit);
    init_fds(log.c_str());
    return std::string(write(STDOUT_FILENO, "moved\n", 6) == 6 ? "written" : "lost");
  });
  EXPECT_EQ(child.report, "written");
  EXPECT_EQ(root.ReadFile("/work.log"), "moved\n");
  EXPECT_NE(child.err.find(": Failed redirecting stderr to " + log + "\n"), std::string::npos)
      << child.err;
}

// Output still buffered belongs to where standard output pointed before;
// afterwards, the log gets what is printed.
TEST(InitFds, PendingOutputGoesToTheOldDestination) {
  testing::TempRoot root;
  const std::string log = root.Path("/work.log");
  testing::ChildOutcome child = RunInChild([&log] {
    printf("before ");
    init_fds(log.c_str());
    printf("after\n");
    return std::string();
  });
  EXPECT_EQ(child.out, "before ");
  EXPECT_EQ(root.ReadFile("/work.log"), "after\n");
}

}  // namespace
}  // namespace dawnstep
