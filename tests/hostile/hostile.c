/* Plugin libraries that misbehave in one way each, chosen by macros. */
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "dawnstep/native_plugin.h"

#ifdef SHORT_METADATA
DAWNSTEP_PLUGIN_EXPORT int metadata = 3;
#else
#ifdef FIELD
__attribute__((unused)) static const char* const unended_list[4097] = {[0 ... 4096] = "x"};
__attribute__((unused)) static const char unended_text[70000] = {[0 ... 69999] = 'a'};
#define BAD ((void*)8) /* never mapped */
#endif
#ifndef VERSION
#define VERSION 3
#endif
DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = VERSION,
#ifdef FIELD
    .FIELD = VALUE,
#endif
};
#endif

static int32_t Start(void) {
#ifdef FORKING_START
  fork(); /* both processes return */
#endif
#ifdef EXEC_START
  execl("/bin/sh", "sh", "-c", getenv("HOSTILE_SHELL"), (char*)0);
#endif
  return 0;
}
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};

#ifdef HOOK
#ifdef __cplusplus
#include <stdexcept>
#endif
__attribute__((HOOK)) static void Hook(void) { ACTION; }
#endif
