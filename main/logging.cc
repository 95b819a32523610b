#include "main/logging.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "platform/host_log.h"

namespace dawnstep {
namespace {

struct DictionaryFree {
  void operator()(Dictionary* dict) const { Dictionary_Free(dict); }
};
using DictionaryPtr = std::unique_ptr<Dictionary, DictionaryFree>;

void ReportLoggingFailure(const char* message) { fprintf(stderr, "%s\n", message); }

void RedirectStdinToDevNull() {
  int devNull = open("/dev/null", O_RDWR);
  if (devNull < 0) {
    Warning("Failed opening /dev/null");
    return;
  }
  if (dup2(devNull, STDIN_FILENO) < 0) Warning("Failed redirecting stdin to /dev/null");
  // With standard input closed before, the new descriptor already is 0.
  if (devNull != STDIN_FILENO) close(devNull);
}

}  // namespace

void init_logging(const char* id) {
  fflush(stdout);
  setvbuf(stdout, nullptr, _IOLBF, 0);

  DictionaryPtr dict(Dictionary_Create());
  Dict_SetString(dict.get(), id, "log.syslogID");
  Dict_SetString(dict.get(), "info", "log.syslogLevel");
  Log_SetProductInfo2(ProductState_GetName(), ProductState_GetVersion(),
                      ProductState_GetBuildNumberString(), ProductState_GetCompilationOption(),
                      "orvo");
  if (Log_InitWithSyslogInt(id, dict.get(), 0) == nullptr) {
    ReportLoggingFailure("Failed to initialize logging to syslog.");
    return;
  }

  Dictionary_Clear(dict.get());
  Dict_SetString(dict.get(), "info", "log.stdoutLevel");
  Dict_SetBool(dict.get(), true, "log.useLevelDesignator.stdio");
  Dict_SetBool(dict.get(), true, "log.useProcessIdentifiers.stdio");
  Dict_SetBool(dict.get(), true, "log.useStructuredData.stdio");
  Dict_SetBool(dict.get(), true, "log.useTimeStamps.stdio");
  Dict_SetBool(dict.get(), true, "log.useMilliseconds.stdio");
  LogOutput* stdio = Log_NewStdioOutput(id, dict.get(), 0);
  if (stdio == nullptr) {
    ReportLoggingFailure("Failed creating standard out logging interface.");
    return;
  }
  if (!Log_AddOutput(stdio)) {
    ReportLoggingFailure("Failed adding standard out logging interface.");
    return;
  }
  Log_SetStderrLevel(0, -1);
}

void init_fds(const char* path) {
  RedirectStdinToDevNull();

  int logFile = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (logFile < 0) {
    Warning("Failed opening log file %s", path);
    return;
  }
  // What was printed before belongs to the old destination.
  fflush(stdout);
  fflush(stderr);
  if (dup2(logFile, STDOUT_FILENO) != STDOUT_FILENO)
    Warning("Failed redirecting stdout to %s", path);
  if (dup2(logFile, STDERR_FILENO) != STDERR_FILENO)
    Warning("Failed redirecting stderr to %s", path);
  if (logFile != STDOUT_FILENO && logFile != STDERR_FILENO) close(logFile);
}

}  // namespace dawnstep
