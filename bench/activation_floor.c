/*
 * activation_floor DIR load|run|records [WORKERS [ROOT]]: the least that
 * activating the native plugins of DIR in forked workers can cost on this
 * machine. It loads every library as the runner does, and with "run" hands
 * each one to a pool of WORKERS (default 2) forked workers over a pipe
 * each: the worker looks its entry points up, calls start and answers, and
 * the workers end through exit() as the runner's do. "records" adds the
 * system calls that every activation's records, log lines and redirection
 * take, with fixed texts and nothing else. They go to the files that the
 * runner writes under ROOT (default: the current directory), its node log
 * and status text, its timing profile and the native plugins' log, so that
 * finding them costs what it costs the runner; the host-profile tests look
 * there too. A record is an open, one write and a close, as no descriptor
 * of a record file may stay open while plugin code runs. So (time of run -
 * time of load) / plugins is a floor for the runner's activation cost per
 * plugin, and the time of "records" one for its whole run.
 */
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "dawnstep/native_plugin.h"

enum { kMaxPlugins = 100000, kMaxWorkers = 64 };

static void* handles[kMaxPlugins];
static bool records = false;  /* node records and profile lines alike */
/* The files under ROOT, as the runner names them. */
static char nodeLog[4096], statusText[4096], profile[4096], pluginLog[4096];
static char hostProfile[4096], hostProfileGz[4096];

static void Append(int fd, const char* text) {
  if (fd >= 0 && write(fd, text, strlen(text)) < 0) exit(1);
}

static void Record(const char* file, const char* text) {
  if (!records) return;
  int fd = open(file, O_WRONLY | O_APPEND | O_CLOEXEC);
  Append(fd, text);
  close(fd);
}

/* The main process's share: the activation line, the host-profile tests,
 * the status line and, after the answer, the result line. */
static void MainRecords(void) {
  if (!records) return;
  struct stat status;
  Record(nodeLog, "{\"text\":\"Activating plugin noop.\"}\n");
  stat(hostProfile, &status);
  stat(hostProfileGz, &status);
  Record(statusText, "{\"text\":\"noop\"}\n");
}

/* The worker's share: the redirection, two log lines (standard output and
 * the system log), the node line and the profile line. */
static void WorkerRecords(void) {
  if (!records) return;
  int null = open("/dev/null", O_RDONLY);
  dup2(null, 0);
  close(null);
  int out = open(pluginLog, O_WRONLY | O_CREAT | O_APPEND, 0644);
  dup2(out, 1);
  dup2(out, 2);
  close(out);
  Append(1, "Invoking method start on plugin noop\n");
  syslog(LOG_INFO, "Invoking method start on plugin noop");
  Record(nodeLog, "{\"text\":\"Applying start on plugin noop\"}\n");
  Append(1, "Method start executed successfully for plugin noop\n");
  syslog(LOG_INFO, "Method start executed successfully for plugin noop");
  Record(profile, "[time] noop\n");
}

/* Names the files under `root` and starts them empty, with their
 * directories; a fresh root has no node directory, as for the runner. */
static bool MakeRecordFiles(const char* root) {
  char dir[4096];
  const char* dirs[] = {"run", "run/hkn", "var", "var/log"};
  for (size_t i = 0; i < sizeof dirs / sizeof *dirs; i++) {
    snprintf(dir, sizeof dir, "%s/%s", root, dirs[i]);
    mkdir(dir, 0755);
  }
  snprintf(nodeLog, sizeof nodeLog, "%s/run/hkn/system.log", root);
  snprintf(statusText, sizeof statusText, "%s/run/hkn/system.progressTerm.statusText", root);
  snprintf(profile, sizeof profile, "%s/var/log/sysboot.log", root);
  snprintf(pluginLog, sizeof pluginLog, "%s/var/log/dawnstep-native-stdout.log", root);
  snprintf(hostProfile, sizeof hostProfile, "%s/etc/corvane/hostprofile.xml", root);
  snprintf(hostProfileGz, sizeof hostProfileGz, "%s/etc/corvane/hostprofile.xml.gz", root);
  const char* files[] = {nodeLog, statusText, profile, pluginLog};
  for (size_t i = 0; i < sizeof files / sizeof *files; i++) {
    int created = open(files[i], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (created < 0) return false;
    close(created);
  }
  return true;
}

static int LoadAll(const char* dir) {
  DIR* listing = opendir(dir);
  if (listing == NULL) return -1;
  int count = 0;
  struct dirent* entry;
  char path[4096];
  while ((entry = readdir(listing)) != NULL && count < kMaxPlugins) {
    size_t length = strlen(entry->d_name);
    if (length < 4 || strcmp(entry->d_name + length - 3, ".so") != 0) continue;
    snprintf(path, sizeof path, "%s/%s", dir, entry->d_name);
    void* handle = dlopen(path, RTLD_LAZY | RTLD_GLOBAL);
    if (handle != NULL && dlsym(handle, "metadata") != NULL) handles[count++] = handle;
  }
  closedir(listing);
  return count;
}

static void Serve(int requests, int answers) {
  int32_t index;
  while (read(requests, &index, sizeof index) == sizeof index) {
    WorkerRecords();
    const NativePluginOperations* operations = dlsym(handles[index], "operations");
    int32_t result = operations != NULL && operations->start != NULL ? operations->start() : 0;
    if (write(answers, &result, sizeof result) != sizeof result) exit(1);
  }
  exit(0);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: activation_floor DIR load|run|records [WORKERS [ROOT]]\n");
    return 2;
  }
  int count = LoadAll(argv[1]);
  if (count < 0) return 2;
  bool withRecords = strcmp(argv[2], "records") == 0;
  if (!withRecords && strcmp(argv[2], "run") != 0) return 0;
  if (withRecords) {
    openlog("floor", LOG_PID, LOG_DAEMON);
    if (!MakeRecordFiles(argc > 4 ? argv[4] : ".")) return 2;
    records = true;
  }
  int workers = argc > 3 ? atoi(argv[3]) : 2;
  if (workers < 1 || workers > kMaxWorkers) return 2;
  int requestFds[kMaxWorkers];
  struct pollfd answers[kMaxWorkers];
  for (int w = 0; w < workers; w++) {
    int request[2], answer[2];
    if (pipe(request) != 0 || pipe(answer) != 0) return 2;
    pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
      for (int other = 0; other < w; other++) close(requestFds[other]);
      close(request[1]);
      close(answer[0]);
      Serve(request[0], answer[1]);
    }
    close(request[0]);
    close(answer[1]);
    requestFds[w] = request[1];
    answers[w] = (struct pollfd){answer[0], POLLIN, 0};
  }
  int next = 0, running = 0;
  for (int w = 0; w < workers && next < count; w++, next++, running++) {
    MainRecords();
    if (write(requestFds[w], &next, sizeof next) != sizeof next) return 1;
  }
  while (running > 0) {
    if (poll(answers, (nfds_t)workers, -1) < 0) return 1;
    for (int w = 0; w < workers; w++) {
      if ((answers[w].revents & (POLLIN | POLLHUP)) == 0) continue;
      int32_t result;
      if (read(answers[w].fd, &result, sizeof result) != sizeof result) return 1;
      running--;
      Record(nodeLog, "{\"text\":\"Plugin noop activated.\"}\n");
      if (next < count) {
        MainRecords();
        if (write(requestFds[w], &next, sizeof next) != sizeof next) return 1;
        next++;
        running++;
      }
    }
  }
  return 0;
}
