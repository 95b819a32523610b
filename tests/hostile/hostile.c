/* Plugin libraries that misbehave in one way each, chosen by macros. */
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "dawnstep/native_plugin.h"

#ifdef SHORT_METADATA
DAWNSTEP_PLUGIN_EXPORT int metadata = 3;
#elif defined(ABSOLUTE_METADATA)
/* A symbol table entry that names a never-mapped address as the record. */
__asm__(".globl metadata\n.set metadata, 8");
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

#ifdef HIJACK_NODES
#include <stdio.h>
#include <string.h>
/* Puts a file of its own in place of every descriptor open on a node file. */
static void Hijack(void) {
  char taken[4096];
  snprintf(taken, sizeof taken, "%s/taken", getenv("DAWNSTEP_ROOT"));
  int own = open(taken, O_WRONLY | O_CREAT | O_APPEND, 0644);
  for (int fd = 3; fd < 256; ++fd) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (strstr(target, "/run/hkn/") != NULL) dup2(own, fd);
  }
  close(own);
}
#endif

static int32_t Start(void) {
#ifdef HIJACK_NODES
  Hijack();
#endif
#ifdef FORKING_START
  fork(); /* both processes return */
#endif
#ifdef ORPHAN_START
  /* The worker ends while its child, quiet otherwise, keeps its pipes. */
  if (fork() == 0) {
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    sleep(40);
    _exit(0);
  }
  _exit(3);
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
