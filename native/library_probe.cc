#include "native/library_probe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/whole_io.h"
#include "plugin/exception.h"

namespace dawnstep {
namespace {

// A verdict on the wire: a mark, the place of its library in the list, its
// refusal code, then the length of its text. Library code runs in the probe
// and may write into the pipe too; the mark and the place tell its bytes
// from a verdict.
struct VerdictHeader {
  uint32_t mark;
  uint32_t place;
  uint32_t refusal;
  uint32_t length;
};

const uint32_t kVerdictMark = 0x5644'5344;  // "DSDV" in the native byte order

void SendVerdict(int fd, size_t place, const LibraryProbe::Verdict& verdict) {
  VerdictHeader header{kVerdictMark, static_cast<uint32_t>(place), verdict.refusal,
                       static_cast<uint32_t>(verdict.text.size())};
  // One write for the pair: the main process reads verdicts in batches.
  std::string message(reinterpret_cast<const char*>(&header), sizeof header);
  message += verdict.text;
  if (!WriteWhole(fd, message.data(), message.size())) _exit(1);
}

}  // namespace

LibraryProbe::LibraryProbe(std::vector<std::string> paths, Load load)
    : paths(std::move(paths)), load(std::move(load)) {}

LibraryProbe::~LibraryProbe() { Stop(); }

bool LibraryProbe::Expects(const std::string& path) const {
  return std::find(paths.begin() + static_cast<ptrdiff_t>(next), paths.end(), path) !=
         paths.end();
}

void LibraryProbe::Start() {
  int pipe[2];
  if (pipe2(pipe, O_CLOEXEC) != 0) throw Exception("Invalid plugin: probe: %s", strerror(errno));
  std::cout.flush();
  std::cerr.flush();
  fflush(nullptr);
  pid = fork();
  if (pid < 0) {
    int error = errno;
    close(pipe[0]);
    close(pipe[1]);
    throw Exception("Invalid plugin: probe: %s", strerror(error));
  }
  if (pid == 0) {
    close(pipe[0]);
    Serve(pipe[1]);
  }
  close(pipe[1]);
  answers = pipe[0];
}

void LibraryProbe::Serve(int answers) {
  // Library code talks once, when the main process loads it.
  int devNull = open("/dev/null", O_RDWR);
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(devNull, fd);
  for (size_t i = next; i < paths.size(); ++i) SendVerdict(answers, i, load(paths[i]));
  _exit(0);  // the main process's exit handlers are not the probe's to run
}

void LibraryProbe::Stop() {
  if (pid <= 0) return;
  close(answers);
  answers = -1;
  // Done with its list, or no longer asked: either way it has nothing left
  // worth finishing.
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid = -1;
}

bool LibraryProbe::Take(void* into, size_t size) {
  while (received.size() - taken < size) {
    // The probe usually runs ahead: one read takes in many verdicts.
    char arrived[16384];
    ssize_t got = read(answers, arrived, sizeof arrived);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    received.erase(0, taken);
    taken = 0;
    received.append(arrived, static_cast<size_t>(got));
  }
  memcpy(into, received.data() + taken, size);
  taken += size;
  return true;
}

std::string LibraryProbe::Death() {
  int status = 0;
  Forget(&status);
  if (WIFSIGNALED(status)) {
    return "loading it ended the process with signal " + std::to_string(WTERMSIG(status));
  }
  return "loading it ended the process with exit status " + std::to_string(WEXITSTATUS(status));
}

void LibraryProbe::Forget(int* status) {
  close(answers);
  answers = -1;
  received.clear();
  taken = 0;
  while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
  pid = -1;
}

std::string LibraryProbe::Garbled(const std::string& path) {
  // Nothing it says can be told apart any more: it starts again after this
  // library.
  kill(pid, SIGKILL);
  Forget(nullptr);
  return "Invalid plugin: " + path +
         ": the probe's answer on it could not be read: something wrote into the probe's pipe "
         "while it was loaded";
}

LibraryProbe::Verdict LibraryProbe::Judge(const std::string& path) {
  while (next < paths.size()) {
    if (pid <= 0) {
      try {
        Start();
      } catch (const Exception& e) {
        return {kFailed, e.what()};
      }
    }
    size_t current = next++;
    VerdictHeader header{};
    Verdict verdict;
    if (!Take(&header, sizeof header)) {
      verdict = {kFailed, "Invalid plugin: " + Death()};
    } else if (header.mark != kVerdictMark || header.place != current) {
      verdict = {kFailed, Garbled(paths[current])};
    } else {
      verdict = {header.refusal, std::string(header.length, '\0')};
      if (!Take(verdict.text.data(), verdict.text.size())) {
        verdict = {kFailed, "Invalid plugin: " + Death()};
      }
    }
    if (paths[current] != path) continue;
    if (next == paths.size()) Stop();
    return verdict;
  }
  return {kFailed, "Invalid plugin: " + path + ": not on the probe's list"};
}

}  // namespace dawnstep
