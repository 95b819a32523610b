/* Preloaded into the runner, this makes every directory listing look like
 * one from a file system that gives no entry types. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stddef.h>

struct dirent* readdir(DIR* dir) {
  static struct dirent* (*next)(DIR*);
  if (next == NULL) next = (struct dirent* (*)(DIR*))dlsym(RTLD_NEXT, "readdir");
  struct dirent* entry = next(dir);
  if (entry != NULL) entry->d_type = DT_UNKNOWN;
  return entry;
}

struct dirent64* readdir64(DIR* dir) {
  static struct dirent64* (*next)(DIR*);
  if (next == NULL) next = (struct dirent64* (*)(DIR*))dlsym(RTLD_NEXT, "readdir64");
  struct dirent64* entry = next(dir);
  if (entry != NULL) entry->d_type = DT_UNKNOWN;
  return entry;
}
