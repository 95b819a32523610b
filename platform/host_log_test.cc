#include "platform/host_log.h"

#include <gtest/gtest.h>
#include <syslog.h>

namespace dawnstep {
namespace {

using Sent = std::vector<std::pair<int, std::string>>;

// A library that has not been set up, with the system logger replaced by a list.
class HostLog : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetHostLog();
    HostLogHooks hooks;
    hooks.syslog = [this](int priority, const std::string& text) { sent.emplace_back(priority, text); };
    SetHostLogHooks(hooks);
    Log_SetStderrLevel(0, -1);
  }
  void TearDown() override {
    ResetHostLog();
    SetHostLogHooks({});
  }

  Sent sent;
};

TEST_F(HostLog, LevelsMapToFixedPrioritiesUpToTheThreshold) {
  // Without a dictionary: the identity given and the "info" threshold.
  ASSERT_NE(Log_InitWithSyslogInt("Kestor2", nullptr, 0), nullptr);
  EXPECT_EQ(CurrentHostLogStatus().syslogIdentity, "Kestor2");
  for (int level = -1; level <= 8; ++level) Log_Level(level, "%d\n", level);
  EXPECT_EQ(sent, (Sent{{LOG_EMERG, "-1"}, {LOG_EMERG, "0"}, {LOG_ALERT, "1"}, {LOG_CRIT, "2"},
                        {LOG_ERR, "3"}, {LOG_WARNING, "4"}, {LOG_INFO, "5"}}));
  sent.clear();
  Dictionary* dict = Dictionary_Create();
  Dict_SetString(dict, "trivia", "log.syslogLevel");
  ASSERT_NE(Log_InitWithSyslogInt("Kestor2", dict, 0), nullptr);
  Dictionary_Free(dict);
  for (int level = 6; level <= 8; ++level) Log_Level(level, "%d\n", level);
  EXPECT_EQ(sent, (Sent{{LOG_DEBUG, "6"}, {LOG_DEBUG, "7"}, {LOG_DEBUG, "8"}}));
}

TEST_F(HostLog, OutputsAreAttachedOnce) {
  LogOutput* stdio = Log_NewStdioOutput("Kestor2", nullptr, 0);
  ASSERT_NE(stdio, nullptr);
  EXPECT_FALSE(Log_AddOutput(nullptr));
  EXPECT_TRUE(Log_AddOutput(stdio));
  EXPECT_FALSE(Log_AddOutput(stdio)) << "a second attachment would double every line";
  EXPECT_EQ(CurrentHostLogStatus().stdioOutputs, 1);
}

}  // namespace
}  // namespace dawnstep
