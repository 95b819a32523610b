#include "analyze/stdout_diversion.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "tests/temp_root.h"

namespace dawnstep::analyze {
namespace {

TEST(StdoutDiversionTest, OnlyTheReportReachesStandardOutput) {
  testing::TempRoot root;
  std::string out = root.Path("/out"), err = root.Path("/err");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child's descriptors are its own, so the test process keeps its.
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    printf("before ");  // still buffered when the diversion starts
    {
      StdoutDiversion diversion;
      if (write(STDOUT_FILENO, "raw\n", 4) != 4) _exit(2);
      printf("library says hello\n");
      std::cout << "stream says hello" << '\n';
    }
    printf("report\n");
    fflush(stdout);
    _exit(0);
  }
  int status;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ("before report\n", root.ReadFile("/out"));
  EXPECT_EQ("raw\nlibrary says hello\nstream says hello\n", root.ReadFile("/err"));
}

}  // namespace
}  // namespace dawnstep::analyze
