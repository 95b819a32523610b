/*
 * settle FILE COMMAND...: runs COMMAND and waits for every process it
 * leaves behind as well, so that a processor-time count taken around this
 * program includes the worker processes that end after the main one. Writes
 * the seconds until COMMAND itself ended to FILE.
 */
#include <errno.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: settle FILE COMMAND...\n");
    return 2;
  }
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return 2;
  double start = Now();
  pid_t command = fork();
  if (command < 0) return 2;
  if (command == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  double end = start;
  pid_t ended;
  while ((ended = wait(NULL)) > 0 || errno == EINTR) {
    if (ended == command) end = Now();
  }
  FILE* out = fopen(argv[1], "w");
  if (out == NULL) return 2;
  fprintf(out, "%.6f\n", end - start);
  return fclose(out) == 0 ? 0 : 2;
}
