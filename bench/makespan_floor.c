/*
 * makespan_floor COUNT HANDLER ARG...: the least that a boot of COUNT
 * plugins, each running one command in its own forked worker with no
 * worker limit, can take on this machine. Each worker starts HANDLER ARG...
 * with posix_spawn, waits for it, answers over a pipe and ends through
 * exit(); the parent forks the workers one after another and waits for
 * every answer. No records, logs, redirections or command descriptors.
 */
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: makespan_floor COUNT HANDLER ARG...\n");
    return 2;
  }
  int count = atoi(argv[1]);
  int answers[2];
  if (count < 1 || pipe(answers) != 0) return 2;
  for (int i = 0; i < count; i++) {
    pid_t worker = fork();
    if (worker < 0) return 2;
    if (worker > 0) continue;
    close(answers[0]);
    pid_t handler;
    int status = 1;
    if (posix_spawn(&handler, argv[2], NULL, NULL, argv + 2, environ) == 0) {
      waitpid(handler, &status, 0);
    }
    char answer = (char)status;
    exit(write(answers[1], &answer, 1) == 1 ? 0 : 1);
  }
  close(answers[1]);
  char answer;
  for (int i = 0; i < count; i++) {
    if (read(answers[0], &answer, 1) != 1) return 1;
  }
  return 0;
}
