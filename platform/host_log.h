#pragma once

// The host's logging library: the process log (system log plus a decorated
// standard-output channel), configuration dictionaries and product
// information.
//
// Levels, most severe first (designator, syslog priority, threshold name):
//   0 Em LOG_EMERG   "emergency"     4 Wa LOG_WARNING "warning"
//   1 Al LOG_ALERT   "alert"         5 In LOG_INFO    "info"
//   2 Cr LOG_CRIT    "critical"      6 Vb LOG_DEBUG   "verbose"
//   3 Er LOG_ERR     "error"         7 Tr LOG_DEBUG   "trivia"
// A level below 0 is treated as 0 and one above 7 as 7; the record keeps
// the number it was given. An output writes the records at or below its
// threshold. Until Log_SetStderrLevel says otherwise, records up to "info"
// are echoed on standard error, so nothing written before (or without) any
// set-up is lost silently.

#include <cstdint>
#include <functional>
#include <string>

struct Dictionary;
struct LogOutput;

Dictionary* Dictionary_Create();
void Dictionary_Clear(Dictionary* dict);
void Dictionary_Free(Dictionary* dict);
void Dict_SetString(Dictionary* dict, const char* value, const char* key);
void Dict_SetBool(Dictionary* dict, bool value, const char* key);
// The string held by `key`, or `fallback` when the key is absent.
const char* Dict_GetString(const Dictionary* dict, const char* key, const char* fallback);

const char* ProductState_GetName();
const char* ProductState_GetVersion();
const char* ProductState_GetBuildNumberString();
const char* ProductState_GetCompilationOption();
// The system-log output opens with one record naming this product.
void Log_SetProductInfo2(const char* name, const char* version, const char* buildNumber,
                         const char* compilationOption, const char* product);

// Starts the system-log output: openlog(identity, LOG_PID, LOG_DAEMON) with
// "log.syslogID" (else `id`) and threshold "log.syslogLevel" (else "info").
// Non-null once the system-log output runs.
LogOutput* Log_InitWithSyslogInt(const char* id, Dictionary* dict, int flags);
// A standard-output channel with threshold "log.stdoutLevel" (else "info")
// and the decorations the "log.use*.stdio" booleans ask for. Null when
// standard output is closed or the dictionary names an unknown level. The
// library owns every output it hands out.
LogOutput* Log_NewStdioOutput(const char* id, Dictionary* dict, int flags);
// False for a null or already attached output.
bool Log_AddOutput(LogOutput* output);
// Records at or below `level` are echoed on standard error; -1 echoes
// nothing. There is a single module, so `module` is not looked at.
void Log_SetStderrLevel(int module, int level);

void Log_Level(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A record at the warning level.
void Warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace dawnstep {

enum LogLevel : int {
  kLogEmergency = 0,
  kLogAlert = 1,
  kLogCritical = 2,
  kLogError = 3,
  kLogWarning = 4,
  kLogInfo = 5,
  kLogVerbose = 6,
  kLogTrivia = 7,
};

// What the library looks like from outside, for tests.
struct HostLogStatus {
  bool syslogRunning = false;
  std::string syslogIdentity;
  int stdioOutputs = 0;  // attached standard-output channels
  int stderrLevel = 0;
  int liveDictionaries = 0;
};
HostLogStatus CurrentHostLogStatus();

// The seam of the logging stand-in: set-up failures on demand, and the
// system logger replaced so that tests keep records off the machine's log.
struct HostLogHooks {
  bool failSyslogInit = false;      // Log_InitWithSyslogInt returns null
  bool failNewStdioOutput = false;  // Log_NewStdioOutput returns null
  bool failAddOutput = false;       // Log_AddOutput returns false
  // Called instead of syslog(3) when set.
  std::function<void(int priority, const std::string& text)> syslog;
};
void SetHostLogHooks(HostLogHooks hooks);

// Sees every Log_Level/Warning record of this process, whatever the
// outputs and thresholds: `text` is exactly as formatted.
class LogObserver {
 public:
  virtual ~LogObserver() = default;
  virtual void Record(int level, const std::string& text) = 0;
};
void AddLogObserver(LogObserver* observer);
void RemoveLogObserver(LogObserver* observer);

// Back to the state before any set-up: no outputs, syslog closed, default
// echo, no product information. Hooks and observers stay.
void ResetHostLog();

}  // namespace dawnstep
