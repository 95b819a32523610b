#pragma once

// The host's logging library: the process log (system log plus a decorated
// standard-output channel), configuration dictionaries and product
// information.

#include <cstdint>

struct Dictionary;
struct LogOutput;

Dictionary* Dictionary_Create();
void Dictionary_Clear(Dictionary* dict);
void Dictionary_Free(Dictionary* dict);
void Dict_SetString(Dictionary* dict, const char* value, const char* key);
void Dict_SetBool(Dictionary* dict, bool value, const char* key);

const char* ProductState_GetName();
const char* ProductState_GetVersion();
const char* ProductState_GetBuildNumberString();
const char* ProductState_GetCompilationOption();
void Log_SetProductInfo2(const char* name, const char* version, const char* buildNumber,
                         const char* compilationOption, const char* product);

// Non-null once the system-log output runs.
LogOutput* Log_InitWithSyslogInt(const char* id, Dictionary* dict, int flags);
LogOutput* Log_NewStdioOutput(const char* id, Dictionary* dict, int flags);
bool Log_AddOutput(LogOutput* output);
void Log_SetStderrLevel(int module, int level);

void Log_Level(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
