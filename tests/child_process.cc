#include "tests/child_process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace dawnstep::testing {
namespace {

const char kFreshProcessMarker[] = "DAWNSTEP_TEST_FRESH_PROCESS";

// Unlinked at once: nothing is left behind, whatever happens.
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
  for (ssize_t got; (got = pread(fd, chunk, sizeof chunk, content.size())) > 0;) {
    content.append(chunk, got);
  }
  close(fd);
  return content;
}

}  // namespace

ChildOutcome RunInChild(const std::function<std::string()>& body) {
  int out = ScratchFile(), err = ScratchFile(), report = ScratchFile();
  fflush(nullptr);  // or the child prints the parent's pending output again
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
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
    for (size_t done = 0; done < text.size();) {
      ssize_t written = write(report, text.data() + done, text.size() - done);
      if (written <= 0) break;
      done += written;
    }
    _exit(code);  // no exit handlers: they belong to the parent
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBack(out), ReadBack(err),
          ReadBack(report)};
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
