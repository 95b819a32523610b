#include "tests/child_process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace dawnstep::testing {
namespace {

const char kFreshProcessMarker[] = "DAWNSTEP_TEST_FRESH_PROCESS";

// An unlinked file: nothing is left behind, whatever happens.
FILE* ScratchFile() {
  FILE* file = tmpfile();
  if (file == nullptr) throw std::runtime_error("tmpfile failed");
  return file;
}

std::string ReadBack(FILE* file) {
  std::string content;
  rewind(file);
  char chunk[4096];
  for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, got);
  fclose(file);
  return content;
}

}  // namespace

ChildOutcome RunInChild(const std::function<std::string()>& body) {
  FILE *out = ScratchFile(), *err = ScratchFile(), *report = ScratchFile();
  fflush(nullptr);  // or the child prints the parent's pending output again
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    int code = 0;
    std::string text;
    try {
      text = body();
    } catch (const std::exception& e) {
      text = e.what();
      code = 1;
    }
    fwrite(text.data(), 1, text.size(), report);
    fflush(nullptr);
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
