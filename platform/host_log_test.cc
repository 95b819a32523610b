#include "platform/host_log.h"

#include <gtest/gtest.h>

namespace dawnstep {
namespace {

// Without a dictionary an output takes the defaults; it is attached once.
TEST(HostLog, OutputsAreAttachedOnce) {
  ResetHostLog();
  LogOutput* stdio = Log_NewStdioOutput("Kestor2", nullptr, 0);
  ASSERT_NE(stdio, nullptr);
  EXPECT_FALSE(Log_AddOutput(nullptr));
  EXPECT_TRUE(Log_AddOutput(stdio));
  EXPECT_FALSE(Log_AddOutput(stdio)) << "a second attachment would double every line";
  EXPECT_EQ(CurrentHostLogStatus().stdioOutputs, 1);
  ResetHostLog();
}

}  // namespace
}  // namespace dawnstep
