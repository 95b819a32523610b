#include "plugin/prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "plugin/plugin.h"

namespace dawnstep {
namespace {

// The child reports here; a fixed number so the shell can be asked whether
// it inherited it.
const int kReportFd = 77;
const int kPollMillis = 30000;  // a hang guard, not a synchronisation

const char kPromptLine[] =
    "\e[36mnet-setup\e[0m: \e[35m(c)ontinue\e[0m \e[32m(e)xecute\e[0m"
    " \e[33m(t)roubleshoot\e[0m \e[31m(s)kip\e[0m";
const char kHideCursor[] = "\e[?25l";
const char kShowCursorLine[] = "\e[?25h\n";

// Console switches go to the report instead of the machine's console.
class FakePromptSystem final : public PromptSystem {
 public:
  explicit FakePromptSystem(const char* shell) : shell(shell) {}
  void SwitchConsole(int number) override { dprintf(kReportFd, "console %d\n", number); }
  const char* ShellPath() const override {
    return shell ? shell : RealPromptSystem().ShellPath();
  }

 private:
  const char* shell;
};

struct Options {
  const char* shell = nullptr;  // null: the real shell
  bool inputAtEnd = false;      // standard input is /dev/null
  bool errorsToPipe = false;    // standard error is collected apart from the screen
  bool interruptible = false;   // SIGUSR1 interrupts a blocked read
  bool readsReturnAtOnce = false;  // the terminal was left with VMIN 0
};

void NoteSignal(int) { write(kReportFd, "signal\n", 7); }

// Runs in the child, whose terminal is the pseudo-terminal; the answer
// becomes the exit status.
[[noreturn]] void RunPrompt(const Options& options, int report, int errors) {
  termios attrs{};
  tcgetattr(STDOUT_FILENO, &attrs);
  attrs.c_oflag &= ~OPOST;  // the screen gets exactly the bytes written
  if (options.readsReturnAtOnce) {
    attrs.c_cc[VMIN] = 0;
    attrs.c_cc[VTIME] = 0;
  }
  tcsetattr(STDOUT_FILENO, TCSANOW, &attrs);
  dup2(report, kReportFd);
  if (errors >= 0) dup2(errors, STDERR_FILENO);
  if (options.inputAtEnd) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
  }
  if (options.interruptible) {
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigaction(SIGUSR1, &action, nullptr);
  }
  FakePromptSystem fake(options.shell);
  SetPromptSystem(&fake);
  uint32_t answer = Plugin::DebugAction("net-setup");
  tcgetattr(STDOUT_FILENO, &attrs);
  dprintf(kReportFd, "icanon=%d echo=%d\n", (attrs.c_lflag & ICANON) != 0,
          (attrs.c_lflag & ECHO) != 0);
  _exit(static_cast<int>(answer));
}

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

// DebugAction running in a child on a pseudo-terminal that the test types
// into and reads the screen of.
class PromptSession {
 public:
  explicit PromptSession(const Options& options = {}) {
    int report[2], errors[2] = {-1, -1};
    EXPECT_EQ(0, pipe2(report, O_CLOEXEC));
    if (options.errorsToPipe) {
      EXPECT_EQ(0, pipe2(errors, O_CLOEXEC));
    }
    fflush(nullptr);  // nothing buffered here may reach the child's screen
    child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) RunPrompt(options, report[1], errors[1]);
    EXPECT_GT(child, 0) << strerror(errno);
    close(report[1]);
    if (errors[1] >= 0) close(errors[1]);
    reportFd = report[0];
    errorsFd = errors[0];
  }

  ~PromptSession() {
    if (child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    for (int fd : {master, reportFd, errorsFd})
      if (fd >= 0) close(fd);
  }

  // Reads the screen until `marker` appears after `from`.
  ::testing::AssertionResult ReadUntil(const std::string& marker, size_t from = 0) {
    while (screen.find(marker, from) == std::string::npos) {
      if (!ReadSome()) {
        return ::testing::AssertionFailure()
               << "screen ended before " << ::testing::PrintToString(marker) << "; got "
               << ::testing::PrintToString(screen);
      }
    }
    return ::testing::AssertionSuccess();
  }

  // Reads the screen until something beyond what was already read arrives.
  bool ReadMore() { return ReadSome(); }

  void Type(const std::string& keys) {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(master, keys.data(), keys.size()));
  }

  void Signal(int number) { ASSERT_EQ(0, kill(child, number)); }

  // Reads the child's report until `marker` appears.
  void AwaitReport(const std::string& marker) {
    while (report.find(marker) == std::string::npos) {
      if (!ReadSome(reportFd, report)) {
        ADD_FAILURE() << "report ended before " << marker;
        return;
      }
    }
  }

  // Returns once the child sleeps, which after the prompt is only in the
  // read of a key.
  void WaitUntilWaitingForKey() {
    std::string stat_path = "/proc/" + std::to_string(child) + "/stat";
    for (int tries = 0; tries < 30000; ++tries) {
      std::ifstream stat(stat_path);
      std::string text((std::istreambuf_iterator<char>(stat)), {});
      size_t end = text.rfind(')');
      if (end != std::string::npos && text.compare(end, 3, ") S") == 0) return;
      usleep(1000);
    }
    ADD_FAILURE() << "the prompt never waited for a key";
  }

  // Reads the rest of the screen and the reports; returns DebugAction's
  // answer, or -1 when the child did not exit normally.
  int Finish() {
    while (ReadSome()) {
    }
    int status = 0;
    EXPECT_EQ(child, waitpid(child, &status, 0));
    child = -1;
    report += ReadToEnd(reportFd);
    if (errorsFd >= 0) errors = ReadToEnd(errorsFd);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string screen;
  std::string report;
  std::string errors;

 private:
  bool ReadSome() { return ReadSome(master, screen); }

  bool ReadSome(int fd, std::string& into) {
    pollfd ready = {fd, POLLIN, 0};
    int polled;
    while ((polled = poll(&ready, 1, kPollMillis)) < 0 && errno == EINTR) {
    }
    if (polled == 0) {
      ADD_FAILURE() << "no output for " << kPollMillis << " ms";
      return false;
    }
    char buffer[256];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    // A terminal reports EIO once every writer is gone.
    if (got <= 0) return false;
    into.append(buffer, static_cast<size_t>(got));
    return true;
  }

  pid_t child = -1;
  int master = -1;
  int reportFd = -1;
  int errorsFd = -1;
};

std::string Prompt() { return std::string(kPromptLine) + kHideCursor; }

TEST(PromptTest, IgnoresOtherKeysAndLightsOnlyTheAnswer) {
  PromptSession session;
  ASSERT_TRUE(session.ReadUntil(Prompt()));
  session.Type(std::string("Xq\0", 3));
  session.Type("E");
  EXPECT_EQ(2, session.Finish());
  // Nothing echoed, nothing said about the ignored keys.
  EXPECT_EQ(Prompt() +
                "\r\e[36mnet-setup\e[0m: \e[37m(c)ontinue\e[0m \e[32m(e)xecute\e[0m"
                " \e[37m(t)roubleshoot\e[0m \e[37m(s)kip\e[0m" +
                kShowCursorLine,
            session.screen);
  EXPECT_EQ("console 1\nicanon=1 echo=1\n", session.report);
}

TEST(PromptTest, SkipSurvivesASignalWhileWaiting) {
  Options options;
  options.interruptible = true;
  PromptSession session(options);
  ASSERT_TRUE(session.ReadUntil(Prompt()));
  session.WaitUntilWaitingForKey();
  session.Signal(SIGUSR1);
  // Typing only once the handler ran, so the read cannot return the key
  // instead of being interrupted.
  session.AwaitReport("signal\n");
  session.Type("s");
  EXPECT_EQ(10, session.Finish());
  EXPECT_EQ("console 1\nsignal\nicanon=1 echo=1\n", session.report);
}

TEST(PromptTest, WaitsForAKeyOnATerminalLeftToReturnReadsAtOnce) {
  Options options;
  options.readsReturnAtOnce = true;
  PromptSession session(options);
  ASSERT_TRUE(session.ReadUntil(Prompt()));
  session.WaitUntilWaitingForKey();
  session.Type("e");
  EXPECT_EQ(2, session.Finish());
}

TEST(PromptTest, ContinueHandsTheDisplayBackToTheBootConsole) {
  PromptSession session;
  ASSERT_TRUE(session.ReadUntil(Prompt()));
  session.Type("c");
  EXPECT_EQ(0, session.Finish());
  EXPECT_EQ("console 1\nconsole 11\nicanon=1 echo=1\n", session.report);
}

TEST(PromptTest, EndOfInputIsTakenAsContinue) {
  Options options;
  options.inputAtEnd = true;
  PromptSession session(options);
  EXPECT_EQ(0, session.Finish());
  EXPECT_EQ(Prompt() +
                "\r\e[36mnet-setup\e[0m: \e[35m(c)ontinue\e[0m \e[37m(e)xecute\e[0m"
                " \e[37m(t)roubleshoot\e[0m \e[37m(s)kip\e[0m" +
                kShowCursorLine,
            session.screen);
  EXPECT_EQ("console 1\nconsole 11\nicanon=1 echo=1\n", session.report);
}

TEST(PromptTest, TroubleshootRunsAShellOnTheTerminalThenExecutes) {
  PromptSession session;
  ASSERT_TRUE(session.ReadUntil(Prompt()));
  session.Type("t");
  const std::string redrawn =
      Prompt() +
      "\r\e[36mnet-setup\e[0m: \e[37m(c)ontinue\e[0m \e[37m(e)xecute\e[0m"
      " \e[33m(t)roubleshoot\e[0m \e[37m(s)kip\e[0m" +
      kShowCursorLine;
  ASSERT_TRUE(session.ReadUntil(redrawn));
  // Typing waits for the shell's own prompt: the terminal is canonical by then.
  ASSERT_TRUE(session.ReadMore());
  // Markers are computed by the shell, so the echo of this line cannot match.
  session.Type(
      "f=open; test -e /proc/$$/fd/77 || f=closed; echo fd77-$f;"
      " t=none; { true </dev/tty; } 2>/dev/null && t=ok; echo ctty-$t;"
      " echo marker-$((6*7))\n");
  ASSERT_TRUE(session.ReadUntil("marker-42\n", redrawn.size()));
  session.Type("exit\n");
  EXPECT_EQ(2, session.Finish());

  const std::string& screen = session.screen;
  EXPECT_EQ(0u, screen.find(redrawn));
  EXPECT_NE(std::string::npos, screen.find("fd77-closed\n")) << "descriptors leak into the shell";
  // Taking a terminal over from another session needs root.
  if (geteuid() == 0) {
    EXPECT_NE(std::string::npos, screen.find("ctty-ok\n"));
  }
  ASSERT_GE(screen.size(), 4u);
  EXPECT_EQ("\e[2K", screen.substr(screen.size() - 4));
  EXPECT_GT(screen.rfind("\e[2K"), screen.find("marker-42\n"));
  EXPECT_EQ("console 1\nicanon=1 echo=1\n", session.report);
}

TEST(PromptTest, ShellThatCannotStartIsReportedAndThePluginStillRuns) {
  Options options;
  options.shell = "/nonexistent/dawnstep-shell";
  options.errorsToPipe = true;
  PromptSession session(options);
  ASSERT_TRUE(session.ReadUntil(Prompt()));
  session.Type("T");
  EXPECT_EQ(2, session.Finish());
  EXPECT_EQ("\e[31mexec /nonexistent/dawnstep-shell: No such file or directory\e[0m\n",
            session.errors);
  ASSERT_GE(session.screen.size(), 4u);
  EXPECT_EQ("\e[2K", session.screen.substr(session.screen.size() - 4));
}

}  // namespace
}  // namespace dawnstep
