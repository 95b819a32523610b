#include "tests/run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace dawnstep::testing {
namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

struct Pipe {
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  Pipe() {
    if (pipe2(fds, O_CLOEXEC) != 0) Fail("pipe2");
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() { Close(fds[0]); }
  void CloseWrite() { Close(fds[1]); }
  static void Close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  int fds[2];
};

std::vector<std::string> ChildEnvironment(const std::string& root) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "DAWNSTEP_ROOT=", 14) != 0) env.push_back(*entry);
  }
  env.push_back("DAWNSTEP_ROOT=" + root);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the child: only async-signal-safe calls until exec.
[[noreturn]] void Exec(Pipe& in, Pipe& out, Pipe& err, char** argv, char** envp) {
  if (dup2(in.fds[0], 0) < 0 || dup2(out.fds[1], 1) < 0 || dup2(err.fds[1], 2) < 0) _exit(126);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  // Only the three standard descriptors: what the test program inherited
  // from its own caller would blur what the program under test holds.
  close_range(3, ~0U, 0);
  execve(argv[0], argv, envp);
  _exit(127);
}

// Feeds `input` and collects both outputs at once, so that neither side
// blocks on a full pipe.
void Exchange(Pipe& in, Pipe& out, Pipe& err, const std::string& input, BinaryRun& run) {
  size_t fed = 0;
  if (input.empty()) in.CloseWrite();
  while (out.fds[0] >= 0 || err.fds[0] >= 0) {
    pollfd fds[3] = {{out.fds[0], POLLIN, 0}, {err.fds[0], POLLIN, 0}, {in.fds[1], POLLOUT, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      Fail("poll");
    }
    std::string* sinks[2] = {&run.out, &run.err};
    Pipe* sources[2] = {&out, &err};
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, got);
      } else if (got == 0 || errno != EINTR) {
        sources[i]->CloseRead();
      }
    }
    if (fds[2].revents != 0) {
      ssize_t wrote = write(in.fds[1], input.data() + fed, input.size() - fed);
      if (wrote > 0) fed += wrote;
      if (fed == input.size() || (wrote < 0 && errno != EINTR && errno != EAGAIN)) {
        in.CloseWrite();
      }
    }
  }
}

int WaitFor(pid_t child) {
  int status;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A program that stops reading its input must not kill the test with
// SIGPIPE: the signal is blocked while it runs, and any that arrived is
// discarded before the old mask returns.
class PipeSignalBlock {
 public:
  PipeSignalBlock() {
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  }
  ~PipeSignalBlock() {
    const timespec now{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &now) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

 private:
  sigset_t pipeSignal;
  sigset_t previous;
};

}  // namespace

BinaryRun RunBinary(const std::vector<std::string>& args, const std::string& root,
                    const std::string& input) {
  std::vector<std::string> command{DAWNSTEP_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  return RunCommand(command, root, input);
}

BinaryRun RunCommand(const std::vector<std::string>& command, const std::string& root,
                     const std::string& input) {
  std::vector<std::string> argTexts = command;
  std::vector<std::string> envTexts = ChildEnvironment(root);
  std::vector<char*> argv = Pointers(argTexts);
  std::vector<char*> envp = Pointers(envTexts);
  Pipe in, out, err;
  PipeSignalBlock block;

  pid_t child = fork();
  if (child < 0) Fail("fork");
  if (child == 0) Exec(in, out, err, argv.data(), envp.data());
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();
  fcntl(in.fds[1], F_SETFL, O_NONBLOCK);

  BinaryRun run;
  try {
    Exchange(in, out, err, input, run);
  } catch (...) {
    kill(child, SIGKILL);
    WaitFor(child);
    throw;
  }
  run.status = WaitFor(child);
  return run;
}

}  // namespace dawnstep::testing
