#include "plugin/prompt.h"

#include <fcntl.h>
#include <linux/vt.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>

#include "plugin/color.h"
#include "plugin/plugin.h"

namespace dawnstep {
namespace {

const int kPromptConsole = 1;
const int kBootConsole = 11;

class MachinePromptSystem : public PromptSystem {
 public:
  void SwitchConsole(int number) override {
    // A session leader without a controlling terminal would otherwise gain
    // the console as one, and with it the console's hang-ups and signals.
    int fd = open("/dev/console", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    // Not waiting for the switch to complete: a boot must not hang on it.
    ioctl(fd, VT_ACTIVATE, number);
    close(fd);
  }

  const char* ShellPath() const override { return "/bin/sh"; }
};

PromptSystem* current = nullptr;

PromptSystem& System() { return current ? *current : RealPromptSystem(); }

struct Choice {
  char key;
  const char* label;
  Color color;
};

const Choice kChoices[] = {
    {'c', "(c)ontinue", Color::Magenta},
    {'e', "(e)xecute", Color::Green},
    {'t', "(t)roubleshoot", Color::Yellow},
    {'s', "(s)kip", Color::Red},
};

// Failures are ignored: standard input need not be a terminal.
void SetCanonicalEcho(bool on) {
  termios attrs{};
  if (tcgetattr(STDIN_FILENO, &attrs) != 0) return;
  if (on) {
    attrs.c_lflag |= ICANON | ECHO;
  } else {
    attrs.c_lflag &= ~(ICANON | ECHO);
    // Each read waits for a key: a terminal left asking for reads that
    // return at once would look like the end of input, and the run would
    // go on unasked.
    attrs.c_cc[VMIN] = 1;
    attrs.c_cc[VTIME] = 0;
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &attrs);
}

// A file name must not send control sequences to the operator's terminal.
std::string Visible(const std::string& name) {
  std::string shown;
  for (unsigned char c : name) {
    if (c >= 0x20 && c != 0x7f) {
      shown += static_cast<char>(c);
      continue;
    }
    char escaped[8];
    snprintf(escaped, sizeof escaped, "\\x%02x", c);
    shown += escaped;
  }
  return shown;
}

// `chosen` is 0 while no answer has been given; afterwards only the chosen
// choice keeps its colour.
void WritePromptLine(const std::string& name, char chosen) {
  std::cout << Color::Cyan << Visible(name) << Color::Reset << ": ";
  const char* separator = "";
  for (const Choice& choice : kChoices) {
    bool lit = chosen == '\0' || chosen == choice.key;
    std::cout << separator << (lit ? choice.color : Color::White) << choice.label
              << Color::Reset;
    separator = " ";
  }
}

// Reads keys until one names a choice. When standard input ends or fails
// nobody is left to answer, so the rest of the run continues unprompted.
char ReadAnswer() {
  const std::string_view keys = "cets";
  for (;;) {
    char key;
    ssize_t got = read(STDIN_FILENO, &key, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 'c';
    key = static_cast<char>(std::tolower(static_cast<unsigned char>(key)));
    if (keys.find(key) != std::string_view::npos) return key;
  }
}

void ReportFailure(const std::string& what) {
  std::string error = strerror(errno);
  std::cerr << Color::Red << what << ": " << error << Color::Reset << std::endl;
}

void CloseInheritedDescriptors() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur <= 3) return;
  if (close_range(3, static_cast<unsigned int>(limit.rlim_cur - 1), 0) == 0) return;
  // Kernels without close_range; Linux keeps the limit finite.
  for (rlim_t fd = 3; fd < limit.rlim_cur; ++fd) close(static_cast<int>(fd));
}

// Runs in the forked child. _exit, not exit: the parent's exit handlers
// (the boot profile's trailer among them) and its buffered output are not
// the child's to run or flush.
[[noreturn]] void ExecShell(const char* shell) {
  if (setsid() < 0) {
    ReportFailure("setsid failed");
    _exit(1);
  }
  CloseInheritedDescriptors();
  // Taken over even from another session; the shell runs fine without it.
  ioctl(STDIN_FILENO, TIOCSCTTY, 1);
  char* const argv[] = {const_cast<char*>(shell), nullptr};
  execv(shell, argv);
  ReportFailure(std::string("exec ") + shell);
  _exit(1);
}

void RunTroubleshootingShell() {
  const char* shell = System().ShellPath();
  pid_t child = fork();
  if (child < 0) {
    ReportFailure("fork failed");
    return;
  }
  if (child == 0) ExecShell(shell);
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  std::cout << "\e[2K" << std::flush;
}

}  // namespace

PromptSystem& RealPromptSystem() {
  static MachinePromptSystem machine;
  return machine;
}

void SetPromptSystem(PromptSystem* system) { current = system; }

uint32_t Plugin::DebugAction(const std::string& name) {
  System().SwitchConsole(kPromptConsole);
  SetCanonicalEcho(false);
  WritePromptLine(name, '\0');
  // Flushed with the line, so the cursor is hidden while the operator decides.
  std::cout << "\e[?25l" << std::flush;

  char answer = ReadAnswer();
  std::cout << '\r';
  WritePromptLine(name, answer);
  std::cout << "\e[?25h" << std::endl;
  SetCanonicalEcho(true);

  switch (answer) {
    case 's':
      return InteractiveMode | SkipPlugin;
    case 'e':
      return InteractiveMode;
    case 't':
      RunTroubleshootingShell();
      return InteractiveMode;
    default:  // 'c'
      System().SwitchConsole(kBootConsole);
      return 0;
  }
}

}  // namespace dawnstep
