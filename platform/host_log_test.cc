#include "platform/host_log.h"

#include <gtest/gtest.h>

namespace dawnstep {
namespace {

// Without a dictionary an output takes the defaults; it is attached once,
// and only while the library holds it.
TEST(HostLog, OutputsAreAttachedOnce) {
  ResetHostLog();
  LogOutput* stdio = Log_NewStdioOutput("Kestor2", nullptr, 0);
  ASSERT_NE(stdio, nullptr);
  EXPECT_FALSE(Log_AddOutput(nullptr));
  EXPECT_TRUE(Log_AddOutput(stdio));
  EXPECT_FALSE(Log_AddOutput(stdio)) << "a second attachment would double every line";
  EXPECT_EQ(CurrentHostLogStatus().stdioOutputs, 1);
  ResetHostLog();
  EXPECT_FALSE(Log_AddOutput(stdio)) << "an output from before the reset is the library's no more";
  EXPECT_EQ(CurrentHostLogStatus().stdioOutputs, 0);
}

}  // namespace
}  // namespace dawnstep
