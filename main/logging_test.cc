#include "main/logging.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/host_log.h"
#include "tests/child_process.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::ChildOutcome;
using testing::RunInChild;

// Each failing set-up step is reported on standard error and leaves the
// steps after it undone; the program goes on without them.
TEST(InitLogging, EachFailureIsReportedAndStopsTheSetUp) {
  const struct {
    bool syslog, newStdio, add;
    const char* message;
    const char* status;
  } cases[] = {
      {false, false, false, "", "syslog=Kestor2 stdio=1 echo=-1"},
      {true, false, false, "Failed to initialize logging to syslog.\n", "syslog=off stdio=0 echo=5"},
      {false, true, false, "Failed creating standard out logging interface.\n",
       "syslog=Kestor2 stdio=0 echo=5"},
      {false, false, true, "Failed adding standard out logging interface.\n",
       "syslog=Kestor2 stdio=0 echo=5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ChildOutcome child = RunInChild([&c] {
      ResetHostLog();
      HostLogHooks hooks;
      hooks.syslog = [](int, const std::string&) {};
      hooks.failSyslogInit = c.syslog;
      hooks.failNewStdioOutput = c.newStdio;
      hooks.failAddOutput = c.add;
      SetHostLogHooks(hooks);
      init_logging("Kestor2");
      HostLogStatus status = CurrentHostLogStatus();
      return "syslog=" + (status.syslogRunning ? status.syslogIdentity : "off") +
             " stdio=" + std::to_string(status.stdioOutputs) +
             " echo=" + std::to_string(status.stderrLevel);
    });
    EXPECT_EQ(child.report, c.status);
    EXPECT_EQ(child.err, c.message);
  }
}

// With only two descriptors allowed, the log file becomes standard output
// but cannot become standard error; the warning is echoed there.
TEST(InitFds, AStandardDescriptorThatCannotMoveIsWarnedAbout) {
  testing::TempRoot root;
  const std::string log = root.Path("/work.log");
  ChildOutcome child = RunInChild([&log] {
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

}  // namespace
}  // namespace dawnstep
