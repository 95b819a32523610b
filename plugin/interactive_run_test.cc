// The interactive prompt through the real program, on a pseudo-terminal:
// what the operator sees and types, and what the run then does.
#include <fcntl.h>
#include <linux/vt.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/run_binary.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TempRoot;
using Lines = std::vector<std::string>;

const int kPollMillis = 60000;  // a hang guard, not a synchronisation
// Every process of a run inherits this descriptor; its pipe ends when the
// last of them is gone.
const int kLifeFd = 63;
const char kKernelLog[] = "/run/hkn/system.log";
const char kPluginDir[] = "/usr/libexec/dawnstep/plugins";
const char kHideCursor[] = "\e[?25l";
// Each plugin's work reports its name here as it runs.
const char kToldFifo[] = "/told.fifo";
// A held plugin's work waits for a line here.
const char kReleaseFifo[] = "/release.fifo";

// The machine's console must not be switched by a test. Where it is a
// virtual console the program's switch would work, so such tests are
// skipped; elsewhere (a serial console, none at all) the switch fails
// harmlessly.
bool ConsoleIsVirtual() {
  int fd = open("/dev/console", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  vt_stat state{};
  bool virtualConsole = ioctl(fd, VT_GETSTATE, &state) == 0;
  close(fd);
  return virtualConsole;
}

std::string PromptLine(const std::string& name) {
  return "\e[36m" + name +
         "\e[0m: \e[35m(c)ontinue\e[0m \e[32m(e)xecute\e[0m \e[33m(t)roubleshoot\e[0m"
         " \e[31m(s)kip\e[0m" +
         kHideCursor;
}

// The prompt line after `key` was taken: only that choice keeps its colour.
std::string Redrawn(const std::string& name, char key) {
  const char* choices[] = {"(c)ontinue", "(e)xecute", "(t)roubleshoot", "(s)kip"};
  const char* colors[] = {"\e[35m", "\e[32m", "\e[33m", "\e[31m"};
  std::string line = "\r\e[36m" + name + "\e[0m: ";
  for (int i = 0; i < 4; ++i) {
    if (i > 0) line += ' ';
    line += (choices[i][1] == key ? colors[i] : "\e[37m") + std::string(choices[i]) + "\e[0m";
  }
  return line + "\e[?25h\n";
}

// The names prompted for, in the order the prompts appeared.
Lines PromptedNames(const std::string& screen) {
  static const std::regex prompt(
      "\x1b\\[36m([^\x1b]*)\x1b\\[0m: \x1b\\[35m\\(c\\)ontinue\x1b\\[0m \x1b\\[32m"
      "\\(e\\)xecute\x1b\\[0m \x1b\\[33m\\(t\\)roubleshoot\x1b\\[0m \x1b\\[31m"
      "\\(s\\)kip\x1b\\[0m\x1b\\[\\?25l");
  Lines names;
  for (std::sregex_iterator it(screen.begin(), screen.end(), prompt), end; it != end; ++it) {
    names.push_back((*it)[1]);
  }
  return names;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Waits for `fd` to become readable; false after the hang guard.
bool AwaitReadable(int fd) {
  pollfd ready = {fd, POLLIN, 0};
  int polled;
  while ((polled = poll(&ready, 1, kPollMillis)) < 0 && errno == EINTR) {
  }
  return polled > 0;
}

struct Launch {
  std::vector<std::string> args;
  bool ignoreHangup = false;  // as under nohup
};

// The program running on a pseudo-terminal that the test types into and
// reads the screen of.
class TerminalRun {
 public:
  TerminalRun(const TempRoot& root, const Launch& launch) {
    std::vector<std::string> argTexts{DAWNSTEP_BINARY};
    argTexts.insert(argTexts.end(), launch.args.begin(), launch.args.end());
    std::vector<char*> argv;
    for (std::string& text : argTexts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::string rootVariable = "DAWNSTEP_ROOT=" + root.path();
    int life[2];
    EXPECT_EQ(0, pipe2(life, O_CLOEXEC));
    fflush(nullptr);  // nothing buffered here may reach the child's screen
    child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) Exec(argv.data(), rootVariable, life[1], launch.ignoreHangup);
    EXPECT_GT(child, 0) << strerror(errno);
    close(life[1]);
    lifeFd = life[0];
  }

  // A run that a failed check left behind: its process group is the
  // program and its workers; the hang-up ends a shell it may have opened.
  ~TerminalRun() {
    if (child > 0) {
      kill(-child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    for (int fd : {master, lifeFd}) {
      if (fd >= 0) close(fd);
    }
  }

  // Reads the screen until `marker` appears at or after `from`; returns
  // where it begins.
  size_t ReadUntil(const std::string& marker, size_t from = 0) {
    size_t at;
    while ((at = screen.find(marker, from)) == std::string::npos) {
      if (!ReadSome()) {
        ADD_FAILURE() << "screen ended before " << ::testing::PrintToString(marker) << "; got "
                      << ::testing::PrintToString(screen);
        return std::string::npos;
      }
    }
    return at;
  }

  // Reads until some output beyond what was already read arrives.
  bool ReadMore() { return ReadSome(); }

  // Waits for the prompt for `name` that follows `from`; returns the
  // position just after it.
  size_t AwaitPrompt(const std::string& name, size_t from) {
    size_t at = ReadUntil(PromptLine(name), from);
    return at == std::string::npos ? at : at + PromptLine(name).size();
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(master, keys.data(), keys.size()));
  }

  // Hangs the terminal up, as a line drop or a closed window does.
  void HangUp() {
    close(master);
    master = -1;
  }

  // Reads the rest of the screen, waits for the program, then for every
  // process it started; returns its exit status, or 128 plus a signal.
  int Finish() {
    while (master >= 0 && ReadSome()) {
    }
    // A program that stalled (waiting for a key nobody will type) would
    // never end by itself.
    if (stalled) kill(-child, SIGKILL);
    int status = 0;
    EXPECT_EQ(child, waitpid(child, &status, 0));
    child = -1;
    // Workers end once the program is gone; the hang guard fails the test
    // if one does not.
    EXPECT_TRUE(AwaitReadable(lifeFd)) << "a process of the run is still alive";
    char byte;
    EXPECT_EQ(0, read(lifeFd, &byte, 1));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string screen;

 private:
  // In the child, whose terminal is the pseudo-terminal.
  [[noreturn]] static void Exec(char** argv, std::string& rootVariable, int life,
                                bool ignoreHangup) {
    termios attrs{};
    tcgetattr(STDOUT_FILENO, &attrs);
    attrs.c_oflag &= ~OPOST;  // the screen gets exactly the bytes written
    tcsetattr(STDOUT_FILENO, TCSANOW, &attrs);
    if (dup2(life, kLifeFd) < 0) _exit(126);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGHUP, ignoreHangup ? SIG_IGN : SIG_DFL);
    putenv(rootVariable.data());
    execv(argv[0], argv);
    _exit(127);
  }

  bool ReadSome() {
    if (!AwaitReadable(master)) {
      stalled = true;
      ADD_FAILURE() << "no output for " << kPollMillis << " ms; screen so far "
                    << ::testing::PrintToString(screen);
      return false;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = read(master, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    // A terminal reports EIO once every writer is gone.
    if (got <= 0) return false;
    screen.append(buffer, static_cast<size_t>(got));
    return true;
  }

  pid_t child = -1;
  int master = -1;
  int lifeFd = -1;
  bool stalled = false;
};

class InteractiveRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ConsoleIsVirtual()) {
      GTEST_SKIP() << "/dev/console is a virtual console here; an interactive run would "
                      "switch the display of the machine running the tests";
    }
    root.MakeDir("/run/hkn");
    root.MakeDir("/var/log");
    root.WriteScript("/usr/lib/corvane/orvocli/bin/tell",
                     "#!/bin/sh\nname=${1#--name=}\n"
                     "echo \"$name\" >>\"$DAWNSTEP_ROOT/ran\"\n"
                     "echo \"$name\" >\"$DAWNSTEP_ROOT/told.fifo\"\n");
    root.WriteScript("/usr/lib/corvane/orvocli/bin/hold",
                     "#!/bin/sh\nread line <\"$DAWNSTEP_ROOT/release.fifo\"\n"
                     "exec \"$(dirname \"$0\")/tell\" \"$@\"\n");
    root.WriteFile("/usr/lib/corvane/orvocli/demo.json", R"({"namespace": "demo", "commands": [
        {"name": "tell", "handler": "bin/tell", "parameters": [{"name": "name"}]},
        {"name": "hold", "handler": "bin/hold", "parameters": [{"name": "name"}]}]})");
    // Opened before the run on both sides of the test, so that no
    // plugin's work ever blocks in opening them.
    for (const char* fifo : {kToldFifo, kReleaseFifo}) {
      ASSERT_EQ(0, mkfifo(root.Path(fifo).c_str(), 0600)) << strerror(errno);
    }
    // Holding a writer ourselves, the told pipe never reports a hang-up.
    told = open(root.Path(kToldFifo).c_str(), O_RDWR | O_CLOEXEC);
    release = open(root.Path(kReleaseFifo).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(told, 0);
    ASSERT_GE(release, 0);
  }

  void TearDown() override {
    for (int fd : {told, release}) {
      if (fd >= 0) close(fd);
    }
  }

  // A JSON plugin whose work tells the test its name; `command` "hold"
  // first waits for Release.
  void AddPlugin(const std::string& name, const Lines& provides, const Lines& requires_,
                 const std::string& command = "tell") {
    auto list = [](const Lines& tags) {
      std::string text;
      for (const std::string& tag : tags) text += (text.empty() ? "\"" : ", \"") + tag + "\"";
      return "[" + text + "]";
    };
    root.WriteFile(std::string(kPluginDir) + "/" + name + ".json",
                   "{\"metadata\": {\"provides\": " + list(provides) +
                       ", \"requires\": " + list(requires_) +
                       ", \"version\": 1}, \"operations\": {\"start\": [\"demo " + command +
                       " --name=" + name + "\"]}}");
  }

  // Waits until the work of plugin `name` has run.
  void AwaitTold(const std::string& name) {
    while (toldText.find(name + "\n") == std::string::npos) {
      ASSERT_TRUE(AwaitReadable(told)) << "no plugin work told " << name;
      char buffer[256];
      ssize_t got = read(told, buffer, sizeof buffer);
      if (got > 0) toldText.append(buffer, static_cast<size_t>(got));
    }
  }

  void Release() { ASSERT_EQ(5, write(release, "go!!\n", 5)); }

  Lines Ran() const {
    Lines names;
    std::istringstream lines(root.ReadFile("/ran"));
    for (std::string line; std::getline(lines, line);) names.push_back(line);
    return names;
  }

  // By name, for plugins that may run side by side.
  Lines SortedRan() const {
    Lines names = Ran();
    std::sort(names.begin(), names.end());
    return names;
  }

  Lines KernelLog() const { return NodeTexts(root, kKernelLog); }

  bool Logged(const std::string& text) const {
    Lines log = KernelLog();
    return std::find(log.begin(), log.end(), text) != log.end();
  }

  TempRoot root;
  int told = -1;
  int release = -1;
  std::string toldText;
};

TEST_F(InteractiveRunTest, PromptsOncePerPluginInOrderWhileWorkersRun) {
  AddPlugin("a-slow", {}, {});
  AddPlugin("b-fast", {"fast"}, {});
  AddPlugin("c-last", {}, {"fast"});
  TerminalRun run(root, {{"--interactive", "--max-workers", "2"}});
  size_t at = run.AwaitPrompt("a-slow", 0);
  run.Type("X");
  run.Type("E");
  ASSERT_NE(std::string::npos, run.ReadUntil(Redrawn("a-slow", 'e'), at));
  EXPECT_EQ(at, run.screen.find(Redrawn("a-slow", 'e'), at)) << "the X was not ignored";
  at = run.AwaitPrompt("b-fast", at);
  // The program now waits for a key; a-slow's worker goes on meanwhile.
  AwaitTold("a-slow");
  EXPECT_EQ(Lines{"a-slow"}, Ran());
  run.Type("e");
  at = run.AwaitPrompt("c-last", at);
  run.Type("e");
  at = run.AwaitPrompt("end-autoconf", at);
  run.Type("e");
  EXPECT_EQ(0, run.Finish());

  // Workers read no keys and show no prompt: exactly one per plugin.
  EXPECT_EQ((Lines{"a-slow", "b-fast", "c-last", "end-autoconf"}), PromptedNames(run.screen));
  EXPECT_EQ(4u, Count(run.screen, kHideCursor));
  EXPECT_EQ((Lines{"a-slow", "b-fast", "c-last"}), Ran());
  for (const char* name : {"a-slow", "b-fast", "c-last", "end-autoconf"}) {
    EXPECT_TRUE(Logged("Dawnstep plugin " + std::string(name) + " activated.")) << name;
  }
}

TEST_F(InteractiveRunTest, OneWorkerAsksOncePerPlugin) {
  AddPlugin("a", {}, {});
  AddPlugin("b", {}, {});
  AddPlugin("c", {}, {});
  TerminalRun run(root, {{"--interactive", "--max-workers", "1"}});
  size_t at = 0;
  for (const char* name : {"a", "b", "c"}) {
    at = run.AwaitPrompt(name, at);
    run.Type("e");
  }
  // b was asked while a still ran; its answer must not be dropped.
  at = run.AwaitPrompt("end-autoconf", at);
  run.Type("e");
  EXPECT_EQ(0, run.Finish());
  EXPECT_EQ((Lines{"a", "b", "c", "end-autoconf"}), PromptedNames(run.screen));
  EXPECT_EQ((Lines{"a", "b", "c"}), Ran());
}

TEST_F(InteractiveRunTest, SkipLeavesThePluginUnrunAndKeepsAsking) {
  AddPlugin("a", {"x"}, {});
  AddPlugin("b", {}, {"x"});
  TerminalRun run(root, {{"--interactive"}});
  size_t at = run.AwaitPrompt("a", 0);
  run.Type("s");
  ASSERT_NE(std::string::npos, run.ReadUntil(Redrawn("a", 's'), at));
  at = run.AwaitPrompt("b", at);
  run.Type("e");
  at = run.AwaitPrompt("end-autoconf", at);
  run.Type("e");
  EXPECT_EQ(0, run.Finish());

  EXPECT_EQ((Lines{"a", "b", "end-autoconf"}), PromptedNames(run.screen));
  EXPECT_EQ(Lines{"b"}, Ran());
  Lines log = KernelLog();
  auto skipped = std::find(log.begin(), log.end(), "Dawnstep plugin a skipped.");
  ASSERT_NE(log.end(), skipped);
  // Counted as done, so that its dependents go ahead.
  EXPECT_NE(log.end(), std::find(skipped, log.end(), "Dawnstep plugin a activated."));
  EXPECT_FALSE(Logged("Activating Dawnstep plugin a."));
  EXPECT_TRUE(Logged("Dawnstep plugin b activated."));
}

TEST_F(InteractiveRunTest, ContinueStopsAskingAndRunsTheRest) {
  AddPlugin("a", {"x"}, {});
  AddPlugin("b", {}, {});
  AddPlugin("c", {}, {"x"});
  TerminalRun run(root, {{"--interactive", "--max-workers", "1"}});
  size_t at = run.AwaitPrompt("a", 0);
  run.Type("C");
  ASSERT_NE(std::string::npos, run.ReadUntil(Redrawn("a", 'c'), at));
  EXPECT_EQ(0, run.Finish());

  EXPECT_EQ(Lines{"a"}, PromptedNames(run.screen));
  EXPECT_EQ(1u, Count(run.screen, kHideCursor));
  EXPECT_EQ((Lines{"a", "b", "c"}), SortedRan());
  EXPECT_TRUE(Logged("Dawnstep plugin end-autoconf activated."));
}

TEST_F(InteractiveRunTest, TroubleshootOpensAShellThenRunsThePlugin) {
  AddPlugin("a", {"x"}, {});
  AddPlugin("b", {}, {"x"});
  TerminalRun run(root, {{"--interactive"}});
  size_t at = run.AwaitPrompt("a", 0);
  run.Type("t");
  at = run.ReadUntil(Redrawn("a", 't'), at);
  ASSERT_NE(std::string::npos, at);
  at += Redrawn("a", 't').size();
  // Typing waits for the shell's own prompt.
  ASSERT_TRUE(run.ReadMore());
  // The markers are computed by the shell, so the echo of the line cannot
  // match them.
  run.Type(
      "test -e \"$DAWNSTEP_ROOT/ran\" && echo ran-early-$((1+1)) || echo shell-$((6*7));"
      " exit\n");
  size_t shellSaid = run.ReadUntil("shell-42\n", at);
  size_t erased = run.ReadUntil("\e[2K", shellSaid);
  size_t next = run.AwaitPrompt("b", erased);
  run.Type("e");
  run.AwaitPrompt("end-autoconf", next);
  run.Type("e");
  EXPECT_EQ(0, run.Finish());

  EXPECT_EQ(std::string::npos, run.screen.find("ran-early-2"));
  EXPECT_EQ((Lines{"a", "b", "end-autoconf"}), PromptedNames(run.screen));
  EXPECT_EQ((Lines{"a", "b"}), Ran());
}

TEST_F(InteractiveRunTest, PromptsWaitForTheProvidersOfTheInteractiveTags) {
  AddPlugin("a-first", {"early"}, {});
  AddPlugin("b-second", {}, {"early"});
  AddPlugin("u-usb", {"usb"}, {}, "hold");
  AddPlugin("z-after", {}, {"usb"});
  TerminalRun run(root, {{"--interactive=usb", "--max-workers", "4"}});
  // Both become ready and run while the usb provider is still at work.
  AwaitTold("a-first");
  AwaitTold("b-second");
  Release();
  size_t at = run.AwaitPrompt("z-after", 0);
  EXPECT_TRUE(Logged("Dawnstep plugin u-usb activated."));
  EXPECT_TRUE(Logged("Dawnstep plugin b-second activated."));
  run.Type("e");
  run.AwaitPrompt("end-autoconf", at);
  run.Type("e");
  EXPECT_EQ(0, run.Finish());

  EXPECT_EQ((Lines{"z-after", "end-autoconf"}), PromptedNames(run.screen));
  EXPECT_EQ((Lines{"a-first", "b-second", "u-usb", "z-after"}), Ran());
}

// On a terminal in non-canonical mode ^D is an ordinary key; input ends
// for good only when the terminal hangs up.
TEST_F(InteractiveRunTest, AHangUpWhileAskingRunsTheRestUnasked) {
  AddPlugin("a", {}, {});
  AddPlugin("b", {}, {});
  TerminalRun run(root, {{"--interactive"}, true});
  run.AwaitPrompt("a", 0);
  run.Type("\x04");
  run.HangUp();
  EXPECT_EQ(0, run.Finish());
  EXPECT_EQ(Lines{"a"}, PromptedNames(run.screen));
  EXPECT_EQ((Lines{"a", "b"}), SortedRan());
  EXPECT_TRUE(Logged("Dawnstep plugin end-autoconf activated."));
}

TEST_F(InteractiveRunTest, InputAtItsEndRunsEverythingAfterOnePrompt) {
  AddPlugin("a", {}, {});
  AddPlugin("b", {}, {});
  testing::BinaryRun run = testing::RunBinary({"--interactive"}, root.path());
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Lines{"a"}, PromptedNames(run.out));
  EXPECT_NE(std::string::npos, run.out.find(PromptLine("a") + Redrawn("a", 'c')));
  EXPECT_EQ((Lines{"a", "b"}), SortedRan());
  EXPECT_TRUE(Logged("Dawnstep plugin end-autoconf activated."));
}

}  // namespace
}  // namespace dawnstep
