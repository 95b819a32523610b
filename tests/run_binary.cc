#include "tests/run_binary.h"

#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace dawnstep::testing {

BinaryRun RunBinary(const std::vector<std::string>& args, const std::string& root,
                    const std::string& input) {
  // The input waits in an unlinked file: no pipe to feed, none to break.
  FILE* in = tmpfile();
  int out[2], err[2];
  if (in == nullptr || fwrite(input.data(), 1, input.size(), in) != input.size() ||
      fflush(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
    throw std::runtime_error("cannot set up the program's descriptors");
  }
  std::vector<std::string> texts{DAWNSTEP_BINARY};
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  std::string rootVariable = "DAWNSTEP_ROOT=" + root;
  std::vector<char*> envp{rootVariable.data()};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (strncmp(*entry, "DAWNSTEP_ROOT=", 14) != 0) envp.push_back(*entry);
  }
  envp.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    // Only async-signal-safe calls until exec, and only the standard three
    // descriptors: what the tests inherited would blur what the program holds.
    lseek(fileno(in), 0, SEEK_SET);
    dup2(fileno(in), 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close_range(3, ~0U, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  fclose(in);
  close(out[1]);
  close(err[1]);
  BinaryRun run;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno != EINTR) throw std::runtime_error("poll failed");
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      char buffer[65536];
      ssize_t got = fds[i].revents != 0 ? read(fds[i].fd, buffer, sizeof buffer) : -1;
      if (got > 0) sinks[i]->append(buffer, got);
      if (got == 0 || (got < 0 && fds[i].revents != 0 && errno != EINTR)) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace dawnstep::testing
