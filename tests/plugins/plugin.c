/* Every plugin library the tests load, built once per case with -DCASE_<name>,
 * in C and, through plugin.cc, in C++, so that both compile the public header. */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __cplusplus
#include <stdexcept>
#endif

#include "dawnstep/native_plugin.h"

#define EXPORT DAWNSTEP_PLUGIN_EXPORT
typedef const char* const List[];

/* Leaves a line in the log file that the worker's output goes to. */
__attribute__((unused)) static int32_t Ran(const char* what, int32_t status) {
  printf("%s ran\n", what);
  fflush(stdout);
  return status;
}

#if defined(CASE_v1) /* version 1 with every later field set: none may be read */
static List req = {"base", NULL}, prov = {"net", "disk", "net", NULL}, flags = {"f", NULL};
static int32_t Start(void) { return Ran("v1: start", 0); }
static int32_t Profile(void) { return Ran("v1: apply_host_profile", 0); }
EXPORT const NativePluginMetadata metadata = {1, req, prov, "ignored", 1, flags, flags, 1};
EXPORT const NativePluginOperations operations = {Start, Profile};
#elif defined(CASE_v1_short) /* only the 24 bytes and one entry that version 1 defines */
static int32_t Start(void) { return Ran("v1_short: start", 0); }
EXPORT const struct { int32_t version; NativePluginStringList requires_, provides; } metadata = {.version = 1};
EXPORT const struct { NativePluginEntry start; } operations = {Start};
#elif defined(CASE_v2_null_start)
static List none = {NULL};
static int32_t Profile(void) { return Ran("v2_null_start: apply_host_profile", 0); }
EXPORT const NativePluginMetadata metadata = {.version = 2, .provides = none};
EXPORT const NativePluginOperations operations = {NULL, Profile};
#elif defined(CASE_v3) /* only the 56 bytes of version 3, no plugin version */
static List prov = {"time", NULL}, flags = {"fa", "fb", "fa", NULL};
static int32_t Start(void) { return Ran("v3: start", 3); }
EXPORT const struct {
  int32_t version;
  NativePluginStringList requires_, provides;
  const char* plugin_version;
  uint8_t run_once;
  NativePluginStringList required_flags, disabling_flags;
} metadata = {3, NULL, prov, NULL, 1, flags, NULL};
EXPORT const NativePluginOperations operations = {Start, NULL};
#elif defined(CASE_v4) /* reads what version 3 reads: its preemptive byte is ignored */
static List req = {"net", NULL}, prov = {"storage", NULL}, flags = {"da", NULL};
static int32_t Start(void) { return Ran("v4: start", 0); }
static int32_t Profile(void) { return Ran("v4: apply_host_profile", 0); }
EXPORT const NativePluginMetadata metadata = {4, req, prov, "4.1", 2, NULL, flags, 1};
EXPORT const NativePluginOperations operations = {Start, Profile};
#elif defined(CASE_v5) /* a preemptive provider of "net" */
static List prov = {"net", NULL};
static int32_t Start(void) { return Ran("v5: start", 0); }
EXPORT const NativePluginMetadata metadata = {5, NULL, prov, "5.0", 0, NULL, NULL, 1};
EXPORT const NativePluginOperations operations = {Start, NULL};
#elif defined(CASE_throws) /* a standard exception from start, an int from the other */
/* Its text makes a record longer than most. */
static int32_t Start(void) { throw std::runtime_error("start blew up" + std::string(300, '!')); }
static int32_t Profile(void) { throw 42; }
EXPORT const NativePluginMetadata metadata = {2, NULL, NULL, NULL, 0, NULL, NULL, 0};
EXPORT const NativePluginOperations operations = {Start, Profile};
#elif defined(CASE_answer) /* data that a plugin library loaded after it uses */
EXPORT int shared_answer = 42;
static List prov = {"answer", NULL};
EXPORT const NativePluginMetadata metadata = {.version = 2, .provides = prov};
EXPORT const NativePluginOperations operations = {NULL, NULL};
#elif defined(CASE_answer_used) /* the loader binds the data when it loads the library */
extern int shared_answer;
static List req = {"answer", NULL};
static int32_t Start(void) { return Ran("answer_used: start", shared_answer == 42 ? 0 : 1); }
EXPORT const NativePluginMetadata metadata = {.version = 2, .requires_ = req};
EXPORT const NativePluginOperations operations = {Start, NULL};
#elif defined(CASE_no_metadata)
EXPORT const NativePluginOperations operations = {.start = NULL};
#elif defined(CASE_no_operations)
EXPORT const NativePluginMetadata metadata = {.version = 1};
#else /* a version 1 plugin whose start misbehaves as its case says */
#ifndef VERSION
#define VERSION 1
#endif
static volatile uintptr_t unmapped = 16; /* a real fault, not a null-pointer report */
static const char junk[40] = "not a worker response, just junk bytes";
/* 16 bytes of junk into every descriptor from 3 on, files included. */
__attribute__((unused)) static void JunkEverywhere(void) {
  for (int fd = 3; fd < 1024; ++fd) {
    if (write(fd, "garbage-garbage!", 16) < 0) continue;
  }
}
#ifdef CASE_junk_ctor
__attribute__((constructor)) static void JunkAtLoad(void) { JunkEverywhere(); }
#endif
#ifdef CASE_junk_dtor
__attribute__((destructor)) static void JunkAtExit(void) { JunkEverywhere(); }
#endif
/* The first pipe end open for `access` (the worker's request or answer pipe). */
__attribute__((unused)) static int PipeEnd(int access) {
  struct stat status;
  for (int fd = 3; fd < 1024; ++fd) {
    if (fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode) &&
        (fcntl(fd, F_GETFL) & O_ACCMODE) == access) {
      return fd;
    }
  }
  return -1;
}
static int32_t Start(void) {
  int ends[2];
#if defined(CASE_segfault)
  return *(volatile int32_t*)unmapped;
#elif defined(CASE_abort)
  abort();
#elif defined(CASE_exit7)
  exit(7);
#elif defined(SIGNAL) /* names its worker first */
  printf("worker %ld\n", (long)getpid());
  fflush(stdout);
  kill(getpid(), SIGNAL);
#elif defined(CASE_close_fds) /* the worker's pipes become a socket that never answers */
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0 || fcntl(ends[1], F_DUPFD, 1000) < 0) return 1;
  for (int fd = 3; fd < 64; ++fd) dup2(ends[0], fd);
#elif defined(CASE_scribble) /* junk into every pipe, the worker's own included */
  struct stat status;
  for (int fd = 3; fd < 1024; ++fd) {
    if (fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode) && write(fd, junk, sizeof junk) < 0) {
      continue;
    }
  }
#elif defined(CASE_junk_start)
  JunkEverywhere();
#elif defined(CASE_swap_requests) || defined(CASE_swap_answers)
  /* Another pipe in place of the worker's request (or answer) pipe; its
   * other end stays open, so it neither ends nor breaks. */
#ifdef CASE_swap_requests
  int access = O_RDONLY, kept = 0;
#else
  int access = O_WRONLY, kept = 1;
#endif
  int target = PipeEnd(access);
  if (target < 0 || pipe(ends) != 0 || dup2(ends[kept], target) < 0) return 1;
#endif
  (void)ends, (void)unmapped, (void)junk;
  return 0;
}
EXPORT const NativePluginMetadata metadata = {.version = VERSION};
EXPORT const NativePluginOperations operations = {Start, NULL};
#endif
