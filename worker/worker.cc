#include "worker/worker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "log/kernel_log.h"
#include "platform/host_log.h"
#include "platform/root.h"
#include "platform/whole_io.h"
#include "worker/profile.h"

namespace dawnstep {
namespace {

// The two 16-byte records of the pipe protocol, in native byte order.
struct WorkerRequest {
  Plugin* plugin;
  Plugin::ActivateFlags flags;
  uint32_t padding;
};

struct WorkerResponse {
  Plugin* plugin;
  int32_t result;
  uint32_t padding;
};

static_assert(sizeof(WorkerRequest) == 16 && sizeof(WorkerResponse) == 16);

std::optional<Profile>& BootProfile() {
  static std::optional<Profile> profile;
  return profile;
}

// Whatever sits in a buffer at fork time would be written by both processes.
void FlushAllOutput() {
  std::cout.flush();
  std::cerr.flush();
  std::clog.flush();
  fflush(nullptr);
}

ssize_t ReadRecord(int fd, void* record, size_t size) {
  ssize_t got;
  do {
    got = read(fd, record, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// A write to a pipe whose reader is gone must fail with EPIPE rather than
// kill the writer. SIGPIPE is blocked around the write and a signal it
// raised is consumed, so no disposition changes: programs started later
// still get the default one.
ssize_t WriteRecord(int fd, const void* record, size_t size) {
  sigset_t brokenPipe;
  sigemptyset(&brokenPipe);
  sigaddset(&brokenPipe, SIGPIPE);
  sigset_t previousMask;
  pthread_sigmask(SIG_BLOCK, &brokenPipe, &previousMask);
  // Only a signal that was blocked already can be pending: one that was not
  // would have been delivered. Asking costs a system call per request.
  sigset_t alreadyPending;
  sigemptyset(&alreadyPending);
  if (sigismember(&previousMask, SIGPIPE)) sigpending(&alreadyPending);
  ssize_t written = WriteOnce(fd, record, size);
  int error = errno;
  if (written < 0 && error == EPIPE && !sigismember(&alreadyPending, SIGPIPE)) {
    timespec noWait{};
    while (sigtimedwait(&brokenPipe, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  errno = written < 0 ? error : EIO;  // a short write has no errno of its own
  return written;
}

void MoveOnto(int fd, int target) {
  if (fd < 0) return;
  dup2(fd, target);
  if (fd != target) close(fd);
}

// Plugin work prints to standard output; in a worker that goes to a log.
void RedirectOutput() {
  MoveOnto(open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
  int log = open(RootPath("/var/log/dawnstep-stdout.log").c_str(),
                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return;
  MoveOnto(log, STDOUT_FILENO);
  dup2(STDOUT_FILENO, STDERR_FILENO);
}

// A plugin's exception must not travel up into the worker's copy of the
// main process's dispatching code; it is a failed activation.
bool ActivateCaught(Plugin* plugin, Plugin::ActivateFlags flags) {
  try {
    return plugin->Activate(flags);
  } catch (const std::exception& e) {
    Log_Level(2, "Plugin %s failed: %s\n", plugin->name.c_str(), e.what());
  } catch (...) {
    Log_Level(2, "Plugin %s failed: unknown exception\n", plugin->name.c_str());
  }
  return false;
}

// Which open file a descriptor refers to.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return {};
  return {status.st_dev, status.st_ino};
}

}  // namespace

uint32_t Worker::workerLimit = 4294967295u;
std::vector<std::unique_ptr<Worker>> Worker::workers;
std::vector<Worker::Outcome> Worker::pendingResults;
bool Worker::answersArriving = false;
int Worker::answerWaitMs = kAnswerWaitMs;

Worker::Worker(bool dryRun) {
  workers.reserve(workers.size() + 1);
  int request[2];
  if (pipe2(request, O_CLOEXEC) != 0) throw Exception("request pipe: %s", strerror(errno));
  int response[2];
  if (pipe2(response, O_CLOEXEC) != 0) {
    int error = errno;
    close(request[0]);
    close(request[1]);
    throw Exception("response pipe: %s", strerror(error));
  }
  FlushAllOutput();
  pid = fork();
  if (pid < 0) {
    int error = errno;
    for (int fd : {request[0], request[1], response[0], response[1]}) close(fd);
    throw Exception("fork: %s", strerror(error));
  }
  if (pid == 0) {
    close(request[1]);
    close(response[0]);
    requestFd = request[0];
    responseFd = response[1];
    Serve(dryRun);
  }
  close(request[0]);
  close(response[1]);
  requestFd = request[1];
  responseFd = response[0];
  // Its end is watched apart from its answer pipe: plugin code may close
  // the pipe and go on, or leave it open in a process that outlives it.
  processFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  workers.emplace_back(this);
}

Worker::~Worker() { CloseDescriptors(); }

void Worker::CloseDescriptors() {
  close(requestFd);
  close(responseFd);
  if (processFd >= 0) close(processFd);
}

void Worker::Serve(bool dryRun) {
  signal(SIGPIPE, SIG_DFL);
  // Holding another worker's request pipe would keep it from ever seeing
  // end-of-file when the main process exits. The objects are set aside,
  // not freed: freeing would copy every page they share with the main
  // process.
  static auto* setAside = new std::vector<std::unique_ptr<Worker>>;
  for (const auto& inherited : workers) inherited->CloseDescriptors();
  setAside->swap(workers);
  pendingResults.clear();
  if (!dryRun) RedirectOutput();
  const FileIdentity requests = IdentityOf(requestFd);
  const FileIdentity answers = IdentityOf(responseFd);
  for (;;) {
    WorkerRequest request;
    ssize_t got = ReadRecord(requestFd, &request, sizeof request);
    if (got == 0) {
      // The run is over. Ending runs every plugin library's finalisers,
      // which would compete for processors with the main process's own
      // end, the one the boot waits for: this process yields to it.
      setpriority(PRIO_PROCESS, 0, 19);
      std::exit(0);
    }
    if (got != sizeof request) std::exit(1);
    timeval start = Profile::CurrentClock().Now();
    bool succeeded = ActivateCaught(request.plugin, request.flags);
    FlushAllOutput();
    if (!dryRun) Profile::RecordPlugin(request.plugin->name, start);
    // Plugin code that put another file in place of the answer pipe has
    // cut this worker off: an answer would go astray.
    if (IdentityOf(responseFd) != answers) std::exit(1);
    // A main process that is gone reads no answer: dying of the broken
    // pipe instead of exiting with 1 shows to no one.
    WorkerResponse response{request.plugin, succeeded ? 0 : 1, 0};
    if (WriteOnce(responseFd, &response, sizeof response) != sizeof response) std::exit(1);
    // With another file in place of the request pipe the plugin's result
    // still stands, but no request can come: the main process sees this
    // worker end, or its next request fail, and uses another.
    if (IdentityOf(requestFd) != requests) std::exit(0);
  }
}

bool Worker::Assign(Plugin* next, Plugin::ActivateFlags flags) {
  if (plugin != nullptr) return false;
  KernelLog() << "Activating Dawnstep plugin " << next->name << "." << std::endl;
  WorkerRequest request{next, flags, 0};
  if (WriteRecord(requestFd, &request, sizeof request) != sizeof request) {
    std::string error = strerror(errno);
    KernelLog() << "Dawnstep worker communication failed " << error << std::endl;
    return false;
  }
  plugin = next;
  plugin->assigned = true;
  return true;
}

Worker::Outcome Worker::Result() {
  WorkerResponse response;
  ssize_t got = ReadRecord(responseFd, &response, sizeof response);
  if (got <= 0 && processFd < 0) return Gone();
  if (got <= 0) {
    // The process may still be at work: its end, not this, is the outcome.
    answerClosed = true;
    return {nullptr, 0};
  }
  if (got != sizeof response || plugin == nullptr || response.plugin != plugin) return Rejected();
  plugin = nullptr;
  answersArriving = true;
  return {response.plugin, response.result};
}

void Worker::Reap(int* status) {
  if (pid <= 0) {
    *status = -1;
    return;
  }
  pid_t reaped;
  do {
    reaped = waitpid(pid, status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped < 0) *status = -1;
  pid = 0;
}

Worker::Outcome Worker::Gone() {
  // Without a process descriptor (old kernels) a closed answer pipe is all
  // there is to go by, and waiting for a process that may run on would hold
  // up the run for good. A process that is already exiting ignores the
  // signal and keeps its own status.
  if (processFd < 0 && pid > 0) kill(pid, SIGKILL);
  int status = 0;
  Reap(&status);
  int code;
  std::string message;
  if (status == -1) {
    code = 1;
  } else if (WIFSIGNALED(status)) {
    code = WTERMSIG(status);
    message = ": exited with signal " + std::to_string(code);
  } else if (!WIFEXITED(status)) {
    code = -1;
    message = ": exited <unknown failure>";
  } else {
    code = WEXITSTATUS(status);
    if (code != 0) message = ": exited with code " + std::to_string(code);
  }
  if (plugin != nullptr && !message.empty()) std::cout << plugin->name << message << std::endl;
  throw WorkerException(plugin, code);
}

// An answer the main process did not ask for (another address, a torn
// record, or any answer while idle) leaves nothing to trust in the worker.
Worker::Outcome Worker::Rejected() {
  if (pid > 0) kill(pid, SIGKILL);
  int status = 0;
  Reap(&status);
  if (plugin != nullptr) std::cout << plugin->name << ": invalid worker response" << std::endl;
  throw WorkerException(plugin, 1);
}

void Worker::LimitWorkers(int n) { workerLimit = static_cast<uint32_t>(n); }

bool Worker::ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) {
  if (!BootProfile()) BootProfile().emplace();
  if ((flags & Plugin::SkipPlugin) != 0 || plugin->nothingToStart || plugin->disabled) {
    KernelLog() << "Dawnstep plugin " << plugin->name << " skipped." << std::endl;
    Profile::RecordPlugin(plugin->name, Profile::CurrentClock().Now());
    pendingResults.emplace_back(plugin, 0);
    return true;
  }
  if (AssignIdle(plugin, flags)) return true;
  // A worker whose answer has come is as good as idle, and reading that
  // answer costs far less than a fork. While answers keep coming, one more
  // is worth a short wait; a wait that brings none is not repeated until
  // one comes, so plugins that run long are not held up. The result waits
  // with the skipped ones for the next PluginResults, which would have read
  // it anyway.
  if (!workers.empty() && workers.size() < workerLimit) {
    int timeout = answersArriving ? answerWaitMs : 0;
    answersArriving = false;
    Collect(timeout, pendingResults);
    if (AssignIdle(plugin, flags)) return true;
  }
  // One fork per call: a worker that cannot take its first request must not
  // set off a chain of forks.
  return Spawn((flags & Plugin::DryRun) != 0) && workers.back()->Assign(plugin, flags);
}

bool Worker::AssignIdle(Plugin* plugin, Plugin::ActivateFlags flags) {
  for (size_t i = 0; i < workers.size();) {
    Worker& worker = *workers[i];
    bool idle = worker.plugin == nullptr;
    if (worker.Assign(plugin, flags)) return true;
    if (!idle) {
      ++i;
      continue;
    }
    // Its request pipe is broken, so its process is gone. Left in the pool
    // it would hold a slot that no result ever frees while nothing runs.
    if (worker.pid > 0) kill(worker.pid, SIGKILL);  // pid 0 would be our own group
    int status = 0;
    worker.Reap(&status);
    std::swap(workers[i], workers.back());
    workers.pop_back();
  }
  return false;
}

bool Worker::CanTakeWork() {
  if (workers.size() < workerLimit) return true;
  for (const auto& worker : workers) {
    if (worker->plugin == nullptr) return true;
  }
  return false;
}

bool Worker::Spawn(bool dryRun) {
  if (workerLimit <= workers.size()) return false;
  try {
    new Worker(dryRun);
  } catch (const Exception& e) {
    std::cerr << "Worker (" << workers.size() << ") " << e.what() << std::endl;
    return false;
  }
  return true;
}

std::vector<Worker::Outcome> Worker::PluginResults() {
  std::vector<Outcome> results;
  results.swap(pendingResults);
  if (!workers.empty()) Collect(results.empty() ? -1 : 0, results);
  return results;
}

void Worker::Collect(int timeout, std::vector<Outcome>& results) {
  // Two entries per worker: its answer pipe (-1 once closed: poll skips it)
  // and its process.
  std::vector<pollfd> polls;
  for (const auto& worker : workers) {
    polls.push_back({worker->answerClosed ? -1 : worker->responseFd, POLLIN, 0});
    polls.push_back({worker->processFd, POLLIN, 0});
  }
  int ready;
  do {
    ready = poll(polls.data(), polls.size(), timeout);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return;
  const short kEvents = POLLIN | POLLHUP | POLLERR;
  for (size_t i = 0; i < workers.size();) {
    Worker& worker = *workers[i];
    bool answered = (polls[2 * i].revents & kEvents) != 0;
    bool ended = (polls[2 * i + 1].revents & kEvents) != 0;
    try {
      // An answer written before the end still counts.
      if (answered) {
        Outcome outcome = worker.Result();
        if (outcome.first != nullptr) results.push_back(outcome);
      }
      if (ended) worker.Gone();
      ++i;
    } catch (const WorkerException& e) {
      if (e.plugin != nullptr) results.emplace_back(e.plugin, e.status);
      std::swap(workers[i], workers.back());
      workers.pop_back();
      // The moved worker's entries take this one's place.
      polls[2 * i] = polls[2 * workers.size()];
      polls[2 * i + 1] = polls[2 * workers.size() + 1];
    }
  }
}

void Worker::ResetPool() {
  std::vector<pid_t> pids;
  for (const auto& worker : workers) {
    if (worker->pid <= 0) continue;
    if (worker->plugin != nullptr) kill(worker->pid, SIGKILL);
    pids.push_back(worker->pid);
  }
  workers.clear();
  for (pid_t pid : pids) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pendingResults.clear();
  answersArriving = false;
  answerWaitMs = kAnswerWaitMs;
  BootProfile().reset();
  workerLimit = 4294967295u;
}

}  // namespace dawnstep
