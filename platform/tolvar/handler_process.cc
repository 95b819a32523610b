#include "platform/tolvar/handler_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <system_error>

extern char** environ;

namespace Tolvar::AutoCli {
namespace {

[[noreturn]] void Fail(int error, const char* what) {
  throw std::system_error(error, std::generic_category(), what);
}

// Owns the spawn attributes and file actions for one start.
class SpawnSetup {
 public:
  explicit SpawnSetup(int errorWriteEnd) {
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorWriteEnd, STDERR_FILENO);
    // A handler gets its three standard descriptors and nothing else: not
    // the run-once record or boot profile that the caller keeps open, nor
    // whatever a plugin library opened without close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

bool Overridden(const std::string& entry, const std::vector<std::string>& settings) {
  for (const std::string& setting : settings) {
    if (entry.starts_with(setting.substr(0, setting.find('=') + 1))) return true;
  }
  return false;
}

std::vector<std::string> Environment(const std::vector<std::string>& settings) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!Overridden(*entry, settings)) environment.push_back(*entry);
  }
  environment.insert(environment.end(), settings.begin(), settings.end());
  return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Appends what one read returns; false at end of file, on error or when a
// non-blocking descriptor has nothing more.
bool ReadSome(int fd, std::string& text) {
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

// Reads the handler's standard error until the pipe closes or the handler
// ends. Reading while waiting keeps a chatty handler from blocking on a full
// pipe; stopping at its end keeps a background process that inherited the
// pipe from holding us up.
std::string CollectErrorOutput(int fd, pid_t pid) {
  std::string text;
  int exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  pollfd watched[2] = {{fd, POLLIN, 0}, {exitFd, POLLIN, 0}};
  nfds_t count = exitFd >= 0 ? 2 : 1;
  for (;;) {
    if (poll(watched, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watched[0].revents != 0) {
      if (!ReadSome(fd, text)) break;
    } else if (count == 2 && watched[1].revents != 0) {
      fcntl(fd, F_SETFL, O_NONBLOCK);
      while (ReadSome(fd, text)) {
      }
      break;
    }
  }
  if (exitFd >= 0) close(exitFd);
  return text;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) Fail(errno, "waitpid");
  }
  return status;
}

}  // namespace

HandlerOutcome RunHandler(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& settings) {
  std::vector<std::string> argumentTexts{program};
  argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environmentTexts = Environment(settings);
  std::vector<char*> argv = Pointers(argumentTexts);
  std::vector<char*> envp = Pointers(environmentTexts);

  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) Fail(errno, "pipe2");
  // The handler writes to our standard output: what we wrote before must
  // come first.
  std::cout.flush();
  fflush(stdout);
  pid_t pid = 0;
  int result;
  {
    SpawnSetup setup(errorPipe[1]);
    result = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(),
                         envp.data());
  }
  close(errorPipe[1]);
  if (result != 0) {
    close(errorPipe[0]);
    Fail(result, "posix_spawn");
  }
  HandlerOutcome outcome;
  outcome.errorOutput = CollectErrorOutput(errorPipe[0], pid);
  close(errorPipe[0]);
  outcome.status = WaitFor(pid);
  return outcome;
}

}  // namespace Tolvar::AutoCli
