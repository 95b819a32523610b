/*
 * The command handler of the boot-overhead benchmark: small and compiled,
 * so that its own cost is small and steady beside the runner's.
 *   --ms=N    sleeps N milliseconds
 *   --hwm=F   appends the peak resident sizes of its parent (the worker)
 *             and grandparent (the main process) to F, in KiB
 * With no argument it does nothing.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* The "VmHWM:" figure of a process, or -1. */
static long PeakKib(long pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%ld/status", pid);
  FILE* status = fopen(path, "r");
  if (status == NULL) return -1;
  char line[256];
  long kib = -1;
  while (fgets(line, sizeof line, status) != NULL) {
    if (strncmp(line, "VmHWM:", 6) == 0) kib = strtol(line + 6, NULL, 10);
  }
  fclose(status);
  return kib;
}

/* The parent of a process, or -1. */
static long ParentOf(long pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  FILE* stat = fopen(path, "r");
  if (stat == NULL) return -1;
  long parent = -1;
  /* The name in parentheses may hold blanks; the state and parent follow its end. */
  char text[512];
  size_t got = fread(text, 1, sizeof text - 1, stat);
  fclose(stat);
  text[got] = '\0';
  char* end = strrchr(text, ')');
  if (end != NULL) sscanf(end + 1, " %*c %ld", &parent);
  return parent;
}

int main(int argc, char** argv) {
  if (argc < 2) return 0;
  if (strncmp(argv[1], "--ms=", 5) == 0) {
    long ms = strtol(argv[1] + 5, NULL, 10);
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
    return 0;
  }
  if (strncmp(argv[1], "--hwm=", 6) == 0) {
    long worker = getppid();
    FILE* out = fopen(argv[1] + 6, "a");
    if (out == NULL) return 1;
    fprintf(out, "%ld %ld\n", PeakKib(ParentOf(worker)), PeakKib(worker));
    fclose(out);
    return 0;
  }
  return 2;
}
