#include "platform/host_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/child_process.h"
#include "tests/log_capture.h"

namespace dawnstep {
namespace {

using testing::ChildOutcome;
using testing::LogCapture;
using testing::LogRecord;
using testing::RunInChild;

// Every test starts from a library that has not been set up, with the
// system logger replaced by a list.
class HostLog : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetHostLog();
    HostLogHooks hooks;
    hooks.syslog = [this](int priority, const std::string& text) {
      sent.emplace_back(priority, text);
    };
    SetHostLogHooks(hooks);
  }
  void TearDown() override {
    ResetHostLog();
    SetHostLogHooks({});
  }

  // A dictionary freed with the test.
  Dictionary* NewDict() {
    dicts.emplace_back(Dictionary_Create());
    return dicts.back().get();
  }

  // The standard-output channel with the decorations named in `flags`.
  LogOutput* AddStdio(const char* threshold, const std::vector<const char*>& flags) {
    Dictionary* dict = NewDict();
    Dict_SetString(dict, threshold, "log.stdoutLevel");
    for (const char* flag : flags) Dict_SetBool(dict, true, flag);
    LogOutput* output = Log_NewStdioOutput("Kestor2", dict, 0);
    return Log_AddOutput(output) ? output : nullptr;
  }

  LogOutput* StartSyslog(const char* threshold) {
    Dictionary* dict = NewDict();
    Dict_SetString(dict, "Kestor2", "log.syslogID");
    Dict_SetString(dict, threshold, "log.syslogLevel");
    return Log_InitWithSyslogInt("unused", dict, 0);
  }

  struct DictFree {
    void operator()(Dictionary* dict) const { Dictionary_Free(dict); }
  };
  std::vector<std::unique_ptr<Dictionary, DictFree>> dicts;
  std::vector<std::pair<int, std::string>> sent;
};

const std::vector<const char*> kAllDecorations = {
    "log.useLevelDesignator.stdio", "log.useProcessIdentifiers.stdio",
    "log.useStructuredData.stdio", "log.useTimeStamps.stdio", "log.useMilliseconds.stdio"};

const char kStampMs[] = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no line end>");
  return lines;
}

bool Matches(const std::string& line, const std::string& pattern) {
  return std::regex_match(line, std::regex(pattern));
}

TEST_F(HostLog, DictionaryHoldsStringsAndBooleansByKey) {
  int before = CurrentHostLogStatus().liveDictionaries;
  Dictionary* dict = Dictionary_Create();
  EXPECT_EQ(CurrentHostLogStatus().liveDictionaries, before + 1);

  Dict_SetString(dict, "info", "log.syslogLevel");
  Dict_SetBool(dict, true, "log.useTimeStamps.stdio");
  Dict_SetBool(dict, false, "log.useMilliseconds.stdio");
  EXPECT_STREQ(Dict_GetString(dict, "log.syslogLevel", "-"), "info");
  EXPECT_STREQ(Dict_GetString(dict, "info", "-"), "-") << "the value comes before the key";
  EXPECT_STREQ(Dict_GetString(dict, "log.useTimeStamps.stdio", "-"), "true");
  EXPECT_STREQ(Dict_GetString(dict, "log.useMilliseconds.stdio", "-"), "false");

  Dict_SetString(dict, "error", "log.syslogLevel");
  EXPECT_STREQ(Dict_GetString(dict, "log.syslogLevel", "-"), "error");

  Dictionary_Clear(dict);
  EXPECT_STREQ(Dict_GetString(dict, "log.syslogLevel", "-"), "-");
  Dictionary_Free(dict);
  Dictionary_Free(nullptr);
  EXPECT_EQ(CurrentHostLogStatus().liveDictionaries, before);
}

TEST_F(HostLog, LevelsMapToFixedSyslogPriorities) {
  Log_SetStderrLevel(0, -1);
  ASSERT_NE(StartSyslog("trivia"), nullptr);
  for (int level = -1; level <= 8; ++level) Log_Level(level, "level %d\n", level);

  const std::vector<std::pair<int, std::string>> expected = {
      {LOG_EMERG, "level -1"}, {LOG_EMERG, "level 0"}, {LOG_ALERT, "level 1"},
      {LOG_CRIT, "level 2"},   {LOG_ERR, "level 3"},   {LOG_WARNING, "level 4"},
      {LOG_INFO, "level 5"},   {LOG_DEBUG, "level 6"}, {LOG_DEBUG, "level 7"},
      {LOG_DEBUG, "level 8"}};
  EXPECT_EQ(sent, expected);
}

TEST_F(HostLog, ThresholdsPassTheMoreSevereLevels) {
  Log_SetStderrLevel(0, -1);
  ASSERT_NE(StartSyslog("info"), nullptr);
  Log_Level(5, "routine\n");
  Log_Level(6, "chatter\n");
  Warning("careful");
  EXPECT_EQ(sent, (std::vector<std::pair<int, std::string>>{{LOG_INFO, "routine"},
                                                            {LOG_WARNING, "careful"}}));

  sent.clear();
  ASSERT_NE(StartSyslog("error"), nullptr);
  Log_Level(2, "failure\n");
  Log_Level(4, "warning\n");
  EXPECT_EQ(sent, (std::vector<std::pair<int, std::string>>{{LOG_CRIT, "failure"}}));
  EXPECT_EQ(CurrentHostLogStatus().syslogIdentity, "Kestor2");
}

TEST_F(HostLog, UnknownThresholdIsRefusedWithAReason) {
  ChildOutcome child = RunInChild([this] {
    LogOutput* syslogOutput = StartSyslog("loud");
    Dictionary* dict = NewDict();
    Dict_SetString(dict, "chatty", "log.stdoutLevel");
    LogOutput* stdio = Log_NewStdioOutput("Kestor2", dict, 0);
    return std::string(syslogOutput == nullptr && stdio == nullptr ? "refused" : "accepted");
  });
  EXPECT_EQ(child.report, "refused");
  EXPECT_EQ(child.err,
            "Unknown log level \"loud\" for log.syslogLevel\n"
            "Unknown log level \"chatty\" for log.stdoutLevel\n");
}

TEST_F(HostLog, SyslogOpensWithTheProductStamp) {
  Log_SetProductInfo2(ProductState_GetName(), "1.2.3", "45", "Release", "orvo");
  ASSERT_NE(StartSyslog("info"), nullptr);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], std::make_pair(
                         LOG_INFO, std::string("dawnstep 1.2.3 build 45 (Release), product orvo")));
  EXPECT_TRUE(CurrentHostLogStatus().syslogRunning);
}

TEST_F(HostLog, StdioLinesCarryTheDecorationsAsked) {
  ChildOutcome child = RunInChild([this] {
    Log_SetStderrLevel(0, -1);
    AddStdio("info", kAllDecorations);
    Log_Level(5, "Invoking method start on plugin %s\n", "net");
    Warning("Failed opening %s", "/dev/null");
    Log_Level(2, "two\nlines\n");
    Log_Level(6, "below the threshold\n");
    return std::to_string(getpid());
  });
  std::string pid = child.report;
  std::vector<std::string> lines = Lines(child.out);
  ASSERT_EQ(lines.size(), 4u) << child.out;
  std::string head = std::string(kStampMs) + " ";
  EXPECT_TRUE(Matches(
      lines[0], head + R"(In\(5\) Kestor2\[)" + pid + R"(\]: Invoking method start on plugin net)"))
      << lines[0];
  EXPECT_TRUE(
      Matches(lines[1], head + R"(Wa\(4\) Kestor2\[)" + pid + R"(\]: Failed opening /dev/null)"))
      << lines[1];
  EXPECT_TRUE(Matches(lines[2], head + R"(Cr\(2\) Kestor2\[)" + pid + R"(\]: two)")) << lines[2];
  EXPECT_TRUE(Matches(lines[3], head + R"(Cr\(2\) Kestor2\[)" + pid + R"(\]: lines)")) << lines[3];
  EXPECT_EQ(child.err, "");
}

TEST_F(HostLog, EachDecorationCanBeLeftOut) {
  ChildOutcome child = RunInChild([this] {
    Log_SetStderrLevel(0, -1);
    AddStdio("info", {});
    Log_Level(5, "bare\n");
    ResetHostLog();
    Log_SetStderrLevel(0, -1);
    AddStdio("info", {"log.useTimeStamps.stdio"});
    Log_Level(5, "seconds\n");
    ResetHostLog();
    Log_SetStderrLevel(0, -1);
    AddStdio("info", {"log.useLevelDesignator.stdio"});
    Log_Level(7, "designator\n");
    return std::string();
  });
  std::vector<std::string> lines = Lines(child.out);
  ASSERT_EQ(lines.size(), 2u) << child.out;  // level 7 is below "info"
  EXPECT_EQ(lines[0], "bare");
  EXPECT_TRUE(Matches(lines[1], R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ seconds)")) << lines[1];

  child = RunInChild([this] {
    Log_SetStderrLevel(0, -1);
    AddStdio("trivia", {"log.useLevelDesignator.stdio"});
    for (int level : {-3, 0, 1, 3, 6, 7, 12}) Log_Level(level, "x\n");
    return std::string();
  });
  EXPECT_EQ(Lines(child.out), (std::vector<std::string>{"Em(-3) x", "Em(0) x", "Al(1) x", "Er(3) x",
                                                        "Vb(6) x", "Tr(7) x", "Tr(12) x"}));
}

TEST_F(HostLog, RecordsFollowStandardOutputWhereverItPointsNow) {
  ChildOutcome child = RunInChild([this] {
    Log_SetStderrLevel(0, -1);
    AddStdio("info", {});
    printf("before ");
    Log_Level(5, "first\n");
    FILE* moved = tmpfile();
    dup2(fileno(moved), STDOUT_FILENO);
    Log_Level(5, "second\n");
    rewind(moved);
    char line[64] = {};
    fgets(line, sizeof line, moved);
    return std::string(line);
  });
  EXPECT_EQ(child.out, "before first\n");
  EXPECT_EQ(child.report, "second\n");
}

TEST_F(HostLog, RecordsBeforeSetUpAreEchoedOnStandardError) {
  ChildOutcome child = RunInChild([] {
    Log_Level(5, "routine %d\n", 1);
    Log_Level(6, "chatter\n");
    Warning("descriptor trouble");
    Log_SetStderrLevel(0, 2);
    Log_Level(2, "failure\n");
    Log_Level(3, "start-up failure\n");
    Log_SetStderrLevel(0, -1);
    Log_Level(0, "emergency\n");
    Log_Level(-2, "below the scale\n");
    return std::to_string(getpid());
  });
  std::string who = R"( dawnstep\[)" + child.report + R"(\]: )";
  std::vector<std::string> lines = Lines(child.err);
  ASSERT_EQ(lines.size(), 3u) << child.err;
  EXPECT_TRUE(Matches(lines[0], kStampMs + std::string(" In\\(5\\)") + who + "routine 1"))
      << lines[0];
  EXPECT_TRUE(Matches(lines[1], kStampMs + std::string(" Wa\\(4\\)") + who + "descriptor trouble"))
      << lines[1];
  EXPECT_TRUE(Matches(lines[2], kStampMs + std::string(" Cr\\(2\\)") + who + "failure"))
      << lines[2];
  EXPECT_EQ(child.out, "");
  EXPECT_EQ(CurrentHostLogStatus().stderrLevel, kLogInfo) << "the default echo level";
}

TEST_F(HostLog, OutputsAreAttachedOnce) {
  Dictionary* dict = NewDict();
  LogOutput* stdio = Log_NewStdioOutput("Kestor2", dict, 0);
  ASSERT_NE(stdio, nullptr);
  EXPECT_FALSE(Log_AddOutput(nullptr));
  EXPECT_TRUE(Log_AddOutput(stdio));
  EXPECT_FALSE(Log_AddOutput(stdio)) << "a second attachment would double every line";
  EXPECT_EQ(CurrentHostLogStatus().stdioOutputs, 1);
}

TEST_F(HostLog, NoStdioChannelWithoutStandardOutput) {
  ChildOutcome child = RunInChild([this] {
    close(STDOUT_FILENO);
    return std::string(Log_NewStdioOutput("Kestor2", NewDict(), 0) == nullptr ? "null" : "made");
  });
  EXPECT_EQ(child.report, "null");
}

TEST_F(HostLog, HooksMakeEachSetUpStepFail) {
  HostLogHooks hooks;
  hooks.syslog = [](int, const std::string&) {};
  hooks.failSyslogInit = true;
  hooks.failNewStdioOutput = true;
  SetHostLogHooks(hooks);
  EXPECT_EQ(StartSyslog("info"), nullptr);
  EXPECT_FALSE(CurrentHostLogStatus().syslogRunning);
  EXPECT_EQ(Log_NewStdioOutput("Kestor2", NewDict(), 0), nullptr);

  hooks.failSyslogInit = hooks.failNewStdioOutput = false;
  hooks.failAddOutput = true;
  SetHostLogHooks(hooks);
  LogOutput* stdio = Log_NewStdioOutput("Kestor2", NewDict(), 0);
  ASSERT_NE(stdio, nullptr);
  EXPECT_FALSE(Log_AddOutput(stdio));
  EXPECT_EQ(CurrentHostLogStatus().stdioOutputs, 0);
}

TEST_F(HostLog, CaptureSeesEveryRecordWhileItLives) {
  Log_SetStderrLevel(0, -1);
  std::vector<LogRecord> outer;
  {
    LogCapture log;
    {
      LogCapture inner;
      Log_Level(2, "Failed to initialize logging.\n");
      Warning("Failed opening log file %s", "/x");
      EXPECT_EQ(inner.records().size(), 2u);
    }
    Log_Level(9, "beyond every threshold\n");
    EXPECT_TRUE(log.Has(2, "Failed to initialize logging.\n"));
    EXPECT_FALSE(log.Has(2, "Failed to initialize logging."));
    EXPECT_EQ(log.Count(kLogWarning, "Failed opening log file /x"), 1);
    EXPECT_EQ(log.Texts(9), std::vector<std::string>{"beyond every threshold\n"});
    outer = log.records();
  }
  EXPECT_EQ(outer.size(), 3u);
  LogCapture later;
  EXPECT_TRUE(later.records().empty());
}

}  // namespace
}  // namespace dawnstep
