#include "tests/child_process.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

namespace dawnstep::testing {
namespace {

const char kFreshProcessMarker[] = "DAWNSTEP_TEST_FRESH_PROCESS";

// An unlinked scratch file: nothing is left behind, whatever happens.
int ScratchFile() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dawnstep-child-XXXXXX").string();
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(pattern.c_str());
  return fd;
}

std::string ReadBack(int fd) {
  std::string content;
  char chunk[4096];
  ssize_t got;
  while ((got = pread(fd, chunk, sizeof chunk, static_cast<off_t>(content.size()))) > 0) {
    content.append(chunk, static_cast<size_t>(got));
  }
  close(fd);
  return content;
}

void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t written = write(fd, data.data() + done, data.size() - done);
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

[[noreturn]] void RunBody(const std::function<std::string()>& body, int out, int err, int report) {
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  int code = 0;
  std::string text;
  try {
    text = body();
  } catch (const std::exception& e) {
    text = e.what();
    code = 1;
  }
  fflush(nullptr);
  WriteAll(report, text);
  // No exit handlers: they belong to the parent (test framework, temp roots).
  _exit(code);
}

}  // namespace

ChildOutcome RunInChild(const std::function<std::string()>& body) {
  int out = ScratchFile();
  int err = ScratchFile();
  int report = ScratchFile();
  fflush(nullptr);  // the child must not print the parent's pending output again
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) RunBody(body, out, err, report);

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ChildOutcome outcome;
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.out = ReadBack(out);
  outcome.err = ReadBack(err);
  outcome.report = ReadBack(report);
  return outcome;
}

bool InFreshProcess() { return getenv(kFreshProcessMarker) != nullptr; }

ChildOutcome RerunInFreshProcess() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter =
      std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  return RunInChild([&filter]() -> std::string {
    setenv(kFreshProcessMarker, "1", 1);
    const char* argv[] = {"dawnstep_tests", filter.c_str(), nullptr};
    execv("/proc/self/exe", const_cast<char* const*>(argv));
    throw std::runtime_error("cannot start the test binary again");
  });
}

}  // namespace dawnstep::testing
