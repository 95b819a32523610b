#pragma once

#include <sys/types.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "plugin/plugin.h"

namespace dawnstep {

// A worker that can no longer serve: it died, or broke the protocol. The
// pool reports `status` for `plugin` (null when the worker was idle).
class WorkerException : public std::exception {
 public:
  WorkerException(Plugin* plugin, int status) : plugin(plugin), status(status) {}

  Plugin* plugin;
  int status;
};

// One forked worker process that activates the plugins it is sent, and the
// process-wide pool of them. A worker is a copy of the main process, so a
// request names its plugin by the plugin object's address.
class Worker {
 public:
  // A finished plugin and its result code: 0 for success.
  using Outcome = std::pair<Plugin*, int32_t>;

  // Forks the worker process; in the child this serves requests and never
  // returns. Throws Exception when a pipe or the fork fails.
  explicit Worker(bool dryRun);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Sends `plugin` to this worker if it is idle.
  bool Assign(Plugin* plugin, Plugin::ActivateFlags flags);
  // Reads this worker's answer; throws WorkerException when it is gone.
  Outcome Result();

  // Milliseconds that a new worker would wait for an answer while answers
  // keep coming: less than starting a worker costs in processor time.
  static constexpr int kAnswerWaitMs = 5;
  // For tests, whose workers may take longer to answer on a loaded machine.
  static void SetAnswerWait(int ms) { answerWaitMs = ms; }

  // The most workers the pool may hold; negative means no practical limit.
  static void LimitWorkers(int n);
  // Hands `plugin` to an idle worker, or completes it at once when it is
  // skipped; false when every worker is busy and no more may be started.
  static bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags);
  // Whether ActivatePlugin would take a plugin with work now: a worker is
  // idle or the limit allows another.
  static bool CanTakeWork();
  // The plugins completed at once since the last call, then those whose
  // workers answered or died; blocks only when there is nothing else.
  static std::vector<Outcome> PluginResults();
  // Starts one more worker if the limit allows.
  static bool Spawn(bool dryRun);

  static const std::vector<std::unique_ptr<Worker>>& Pool() { return workers; }
  // Back to a fresh process for tests: busy workers are killed, every
  // worker's pipes closed and its process reaped, queued results and the
  // timing profile dropped, the limit lifted, the answer wait restored.
  static void ResetPool();

  int requestFd = -1;
  int responseFd = -1;
  int processFd = -1;  // a pidfd; -1 where the kernel has none
  bool answerClosed = false;
  pid_t pid = 0;
  Plugin* plugin = nullptr;

 private:
  [[noreturn]] void Serve(bool dryRun);
  void CloseDescriptors();
  // Hands `plugin` to the first idle worker, dropping those found dead.
  static bool AssignIdle(Plugin* plugin, Plugin::ActivateFlags flags);
  // Waits up to `timeout` ms (-1: for good) for answers and ends of workers
  // and appends their outcomes to `results`, removing workers that are gone.
  static void Collect(int timeout, std::vector<Outcome>& results);
  void Reap(int* status);
  Outcome Gone();
  Outcome Rejected();

  static uint32_t workerLimit;
  static std::vector<std::unique_ptr<Worker>> workers;
  static std::vector<Outcome> pendingResults;
  // Whether an answer came since the pool last looked for one before
  // starting a worker.
  static bool answersArriving;
  static int answerWaitMs;
};

}  // namespace dawnstep
