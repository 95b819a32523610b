#include "platform/host_log.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "build_info.h"
#include "platform/process_id.h"
#include "platform/whole_io.h"
#include "platform/utc_time.h"

struct Dictionary {
  std::map<std::string, std::string> entries;
};

struct LogOutput {
  enum class Kind { Syslog, Stdio };
  LogOutput(Kind kind, std::string identity) : kind(kind), identity(std::move(identity)) {}

  Kind kind;
  std::string identity;
  int threshold = dawnstep::kLogInfo;
  bool levelDesignator = false;
  bool processIdentifiers = false;
  bool timeStamps = false;
  bool milliseconds = false;
};

namespace dawnstep {
namespace {

struct LevelRow {
  const char* designator;
  int priority;
  const char* name;
};

const LevelRow kLevels[] = {
    {"Em", LOG_EMERG, "emergency"}, {"Al", LOG_ALERT, "alert"},     {"Cr", LOG_CRIT, "critical"},
    {"Er", LOG_ERR, "error"},       {"Wa", LOG_WARNING, "warning"}, {"In", LOG_INFO, "info"},
    {"Vb", LOG_DEBUG, "verbose"},   {"Tr", LOG_DEBUG, "trivia"},
};
const int kLastLevel = kLogTrivia;

int Severity(int level) { return std::clamp(level, 0, kLastLevel); }

const LevelRow& RowOf(int level) { return kLevels[Severity(level)]; }

struct Library {
  std::vector<std::unique_ptr<LogOutput>> created;
  std::vector<LogOutput*> attached;
  LogOutput* syslogOutput = nullptr;
  int stderrLevel = kLogInfo;
  std::string productStamp;
  int liveDictionaries = 0;
  HostLogHooks hooks;
  std::vector<LogObserver*> observers;
};

// Never destroyed: exit handlers may still write records.
Library& State() {
  static Library* library = new Library;
  return *library;
}

std::string Str(const char* text) { return text != nullptr ? text : ""; }

std::string FormatText(const char* format, va_list args) {
  // Records are mostly short: one formatting into a buffer at hand, and a
  // second only for a longer one.
  char shortText[256];
  va_list first;
  va_copy(first, args);
  int size = vsnprintf(shortText, sizeof shortText, format, first);
  va_end(first);
  // An unformattable record still says something rather than nothing.
  if (size < 0) return Str(format);
  if (static_cast<size_t>(size) < sizeof shortText) return std::string(shortText, size);
  std::string text(static_cast<size_t>(size), '\0');
  vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

// Built by appending in place: a record on an activation's path should
// not cost a temporary string per piece.
std::string Prefix(const LogOutput& output, int level) {
  std::string prefix;
  if (output.timeStamps) prefix.append(UtcIsoTimestamp(output.milliseconds ? 3 : 0)) += ' ';
  if (output.levelDesignator) {
    prefix.append(RowOf(level).designator).append("(").append(std::to_string(level)) += ") ";
  }
  if (output.processIdentifiers) {
    prefix.append(output.identity).append("[").append(std::to_string(ProcessId())) += "]: ";
  }
  return prefix;
}

// Every line of a multi-line record carries the decoration, so no line
// of the log is without its origin.
std::string DecoratedLines(const LogOutput& output, int level, const std::string& body) {
  std::string prefix = Prefix(output, level);
  std::string lines;
  size_t start = 0;
  for (;;) {
    size_t end = body.find('\n', start);
    lines.append(prefix).append(body, start, end - start) += '\n';
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

// Goes straight to the descriptor with one write, so a forked worker's
// records land wherever its own standard output points now, whole. What
// the program printed before is flushed first to keep the order.
void WriteStdio(FILE* stream, int fd, const std::string& lines) {
  fflush(stream);
  WriteWhole(fd, lines.data(), lines.size());
}

void SendSyslog(int level, const std::string& body) {
  Library& library = State();
  if (library.hooks.syslog) {
    library.hooks.syslog(RowOf(level).priority, body);
  } else {
    syslog(RowOf(level).priority, "%s", body.c_str());
  }
}

LogOutput EchoOutput() {
  Library& library = State();
  LogOutput echo(LogOutput::Kind::Stdio, library.syslogOutput != nullptr
                                             ? library.syslogOutput->identity
                                             : ProductState_GetName());
  echo.levelDesignator = echo.processIdentifiers = echo.timeStamps = echo.milliseconds = true;
  return echo;
}

void Emit(int level, const std::string& text) {
  Library& library = State();
  for (LogObserver* observer : library.observers) observer->Record(level, text);

  std::string body = text;
  if (!body.empty() && body.back() == '\n') body.pop_back();
  int severity = Severity(level);
  for (LogOutput* output : library.attached) {
    if (severity > output->threshold) continue;
    if (output->kind == LogOutput::Kind::Syslog) {
      SendSyslog(level, body);
    } else {
      WriteStdio(stdout, STDOUT_FILENO, DecoratedLines(*output, level, body));
    }
  }
  if (severity <= library.stderrLevel)
    WriteStdio(stderr, STDERR_FILENO, DecoratedLines(EchoOutput(), level, body));
}

bool ReadThreshold(const Dictionary* dict, const char* key, int* threshold) {
  const char* name = Dict_GetString(dict, key, "info");
  for (int level = 0; level <= kLastLevel; ++level) {
    if (strcmp(name, kLevels[level].name) == 0) {
      *threshold = level;
      return true;
    }
  }
  fprintf(stderr, "Unknown log level \"%s\" for %s\n", name, key);
  return false;
}

bool ReadBool(const Dictionary* dict, const char* key) {
  return strcmp(Dict_GetString(dict, key, "false"), "true") == 0;
}

bool Created(const LogOutput* output) {
  for (const auto& owned : State().created) {
    if (owned.get() == output) return true;
  }
  return false;
}

bool Attached(const LogOutput* output) {
  const std::vector<LogOutput*>& attached = State().attached;
  return std::find(attached.begin(), attached.end(), output) != attached.end();
}

}  // namespace

HostLogStatus CurrentHostLogStatus() {
  Library& library = State();
  HostLogStatus status;
  status.syslogRunning = library.syslogOutput != nullptr;
  if (status.syslogRunning) status.syslogIdentity = library.syslogOutput->identity;
  status.stdioOutputs = static_cast<int>(std::count_if(
      library.attached.begin(), library.attached.end(),
      [](const LogOutput* output) { return output->kind == LogOutput::Kind::Stdio; }));
  status.stderrLevel = library.stderrLevel;
  status.liveDictionaries = library.liveDictionaries;
  return status;
}

void SetHostLogHooks(HostLogHooks hooks) { State().hooks = std::move(hooks); }

void AddLogObserver(LogObserver* observer) { State().observers.push_back(observer); }

void RemoveLogObserver(LogObserver* observer) {
  std::vector<LogObserver*>& observers = State().observers;
  observers.erase(std::remove(observers.begin(), observers.end(), observer), observers.end());
}

void ResetHostLog() {
  Library& library = State();
  if (library.syslogOutput != nullptr && !library.hooks.syslog) closelog();
  library.syslogOutput = nullptr;
  library.attached.clear();
  library.created.clear();
  library.stderrLevel = kLogInfo;
  library.productStamp.clear();
}

}  // namespace dawnstep

using dawnstep::State;

Dictionary* Dictionary_Create() {
  ++State().liveDictionaries;
  return new Dictionary;
}

void Dictionary_Clear(Dictionary* dict) {
  if (dict != nullptr) dict->entries.clear();
}

void Dictionary_Free(Dictionary* dict) {
  if (dict == nullptr) return;
  --State().liveDictionaries;
  delete dict;
}

void Dict_SetString(Dictionary* dict, const char* value, const char* key) {
  if (dict == nullptr || key == nullptr) return;
  dict->entries[key] = dawnstep::Str(value);
}

void Dict_SetBool(Dictionary* dict, bool value, const char* key) {
  Dict_SetString(dict, value ? "true" : "false", key);
}

const char* Dict_GetString(const Dictionary* dict, const char* key, const char* fallback) {
  if (dict == nullptr || key == nullptr) return fallback;
  auto entry = dict->entries.find(key);
  return entry != dict->entries.end() ? entry->second.c_str() : fallback;
}

const char* ProductState_GetName() { return "dawnstep"; }
const char* ProductState_GetVersion() { return DAWNSTEP_VERSION; }
const char* ProductState_GetBuildNumberString() { return DAWNSTEP_BUILD_NUMBER; }
const char* ProductState_GetCompilationOption() { return DAWNSTEP_BUILD_TYPE; }

void Log_SetProductInfo2(const char* name, const char* version, const char* buildNumber,
                         const char* compilationOption, const char* product) {
  using dawnstep::Str;
  State().productStamp = Str(name) + " " + Str(version) + " build " + Str(buildNumber) + " (" +
                         Str(compilationOption) + "), product " + Str(product);
}

LogOutput* Log_InitWithSyslogInt(const char* id, Dictionary* dict, int) {
  dawnstep::Library& library = State();
  if (library.hooks.failSyslogInit) return nullptr;
  std::string identity = Dict_GetString(dict, "log.syslogID", id != nullptr ? id : "");
  if (identity.empty()) {
    fprintf(stderr, "No identity for the system log\n");
    return nullptr;
  }
  int threshold;
  if (!dawnstep::ReadThreshold(dict, "log.syslogLevel", &threshold)) return nullptr;

  bool realSyslog = !library.hooks.syslog;
  LogOutput* output = library.syslogOutput;
  if (output == nullptr) {
    library.created.push_back(std::make_unique<LogOutput>(LogOutput::Kind::Syslog, ""));
    output = library.created.back().get();
    library.attached.push_back(output);
    library.syslogOutput = output;
  } else if (realSyslog) {
    closelog();  // openlog keeps the identity pointer, which is about to change
  }
  output->identity = identity;
  output->threshold = threshold;
  if (realSyslog) openlog(output->identity.c_str(), LOG_PID, LOG_DAEMON);
  if (!library.productStamp.empty()) dawnstep::SendSyslog(dawnstep::kLogInfo, library.productStamp);
  return output;
}

LogOutput* Log_NewStdioOutput(const char* id, Dictionary* dict, int) {
  dawnstep::Library& library = State();
  if (library.hooks.failNewStdioOutput) return nullptr;
  if (fcntl(STDOUT_FILENO, F_GETFD) < 0) return nullptr;
  auto output = std::make_unique<LogOutput>(LogOutput::Kind::Stdio, dawnstep::Str(id));
  if (!dawnstep::ReadThreshold(dict, "log.stdoutLevel", &output->threshold)) return nullptr;
  output->levelDesignator = dawnstep::ReadBool(dict, "log.useLevelDesignator.stdio");
  output->processIdentifiers = dawnstep::ReadBool(dict, "log.useProcessIdentifiers.stdio");
  output->timeStamps = dawnstep::ReadBool(dict, "log.useTimeStamps.stdio");
  output->milliseconds = dawnstep::ReadBool(dict, "log.useMilliseconds.stdio");
  // "log.useStructuredData.stdio" is accepted but shows nothing: records
  // written through this interface carry no structured data.
  library.created.push_back(std::move(output));
  return library.created.back().get();
}

bool Log_AddOutput(LogOutput* output) {
  dawnstep::Library& library = State();
  if (library.hooks.failAddOutput) return false;
  if (output == nullptr || !dawnstep::Created(output) || dawnstep::Attached(output)) return false;
  library.attached.push_back(output);
  return true;
}

void Log_SetStderrLevel(int, int level) { State().stderrLevel = level; }

void Log_Level(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = dawnstep::FormatText(format, args);
  va_end(args);
  dawnstep::Emit(level, text);
}

void Warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = dawnstep::FormatText(format, args);
  va_end(args);
  dawnstep::Emit(dawnstep::kLogWarning, text);
}
