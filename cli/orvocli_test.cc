#include "cli/orvocli.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/tolvar/dispatcher.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::TempRoot;
using Words = std::vector<std::string>;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// A root with one command, "demo touch --name=N", whose handler appends N to
// /ran, and a fresh dispatcher reading it.
class OrvocliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.WriteScript("/usr/lib/corvane/orvocli/bin/touch",
                     "#!/bin/sh\necho \"${1#--name=}\" >>\"$DAWNSTEP_ROOT/ran\"\n");
    root.WriteFile("/usr/lib/corvane/orvocli/demo.json", R"({"namespace": "demo", "commands": [
        {"name": "touch", "handler": "bin/touch", "parameters": [{"name": "name"}]}]})");
    Orvocli::ResetDispatcher();
  }
  void TearDown() override { Orvocli::ResetDispatcher(); }

  TempRoot root;
};

TEST_F(OrvocliTest, OneDispatcherWithTheFourDirectoriesInOrder) {
  Orvocli first;
  Tolvar::AutoCli::Dispatcher* shared = Orvocli::SharedDispatcher();
  Orvocli second;
  EXPECT_EQ(shared, Orvocli::SharedDispatcher());
  EXPECT_EQ((Words{root.Path("/usr/lib/corvane/orvocli"), root.Path("/usr/lib/corvane/orvocli/int"),
                   root.Path("/usr/lib/corvane/orvocli/int/ext"),
                   root.Path("/usr/lib/corvane/orvocli/ext")}),
            shared->Directories());
}

TEST_F(OrvocliTest, ParseErrorsAreReportedEvenInADryRun) {
  Orvocli orvocli;
  try {
    orvocli.Execute("demo touch --name='x", true, false);
    FAIL() << "no exception";
  } catch (const OrvocliException& e) {
    EXPECT_EQ("demo touch --name='x", e.command);
    EXPECT_EQ("parse", e.stage);
    EXPECT_EQ(Words{"Unterminated quote"}, e.errors);
    EXPECT_STREQ("parse demo touch --name='x failed", e.what());
  }
}

TEST_F(OrvocliTest, ADryRunDispatchesNothingAndReportsNoExecutionError) {
  Orvocli orvocli;
  CaptureStdout();
  EXPECT_NO_THROW(orvocli.Execute("demo touch --name=a", true, true));
  EXPECT_NO_THROW(orvocli.Execute("no such command", true, true));
  EXPECT_EQ("", GetCapturedStdout());
  EXPECT_EQ("", root.ReadFile("/ran"));
}

TEST_F(OrvocliTest, CommentsAndBlankLinesRunNothing) {
  Orvocli orvocli;
  CaptureStdout();
  EXPECT_NO_THROW(orvocli.Execute("   ", false, true));
  EXPECT_NO_THROW(orvocli.Execute("# demo touch --name=a", false, true));
  EXPECT_EQ("", GetCapturedStdout());
  EXPECT_EQ("", root.ReadFile("/ran"));
}

TEST_F(OrvocliTest, ExecutionErrorCarriesTheFrameworkLines) {
  Orvocli orvocli;
  try {
    orvocli.Execute("demo touch --colour=red", false, false);
    FAIL() << "no exception";
  } catch (const OrvocliException& e) {
    EXPECT_EQ("execute", e.stage);
    EXPECT_EQ(Words{"Unknown parameter 'colour' for command 'demo touch'"}, e.errors);
    EXPECT_STREQ("execute demo touch --colour=red failed", e.what());
  }
}

TEST_F(OrvocliTest, ListFormRunsEveryLineAndRecordsEachFailure) {
  Orvocli orvocli;
  EXPECT_TRUE(orvocli.Execute(Words{}, false, false).empty());
  std::vector<OrvocliException> failures =
      orvocli.Execute({"demo touch --name=one", "demo nothing", "demo touch --name=three"},
                      false, false);
  ASSERT_EQ(1u, failures.size());
  EXPECT_EQ("demo nothing", failures[0].command);
  EXPECT_EQ("execute", failures[0].stage);
  EXPECT_EQ(Words{"Unknown command 'demo nothing'"}, failures[0].errors);
  EXPECT_STREQ("execute demo nothing failed", failures[0].what());
  EXPECT_EQ("one\nthree\n", root.ReadFile("/ran"));
}

TEST_F(OrvocliTest, TimingLineForEveryDispatchedCommandFailedOrNot) {
  Orvocli orvocli;
  CaptureStdout();
  orvocli.Execute(Words{"demo touch --name=a", "demo missing"}, false, true);
  std::string out = GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(out, std::regex("\\d+\\.\\d{6} orvocli demo touch --name=a\n"
                                               "\\d+\\.\\d{6} orvocli demo missing\n")))
      << out;
}

TEST(TimingLineTest, SecondsAndSixDigitMicroseconds) {
  EXPECT_EQ("0.000042 orvocli a b\n", TimingLine({100, 5}, {100, 47}, "a b"));
  EXPECT_EQ("2.005000 orvocli x\n", TimingLine({10, 900000}, {12, 905000}, "x"));
  EXPECT_EQ("0.999999 orvocli x\n", TimingLine({10, 500000}, {11, 499999}, "x"));
  EXPECT_EQ("1.000000 orvocli x\n", TimingLine({10, 999999}, {11, 999999}, "x"));
}

TEST(OrvocliExceptionTest, CopiesKeepEveryMember) {
  OrvocliException original("a --b", "", {"bad alloc"});
  OrvocliException copy = original;
  EXPECT_STREQ(" a --b failed", copy.what());
  EXPECT_EQ("a --b", copy.command);
  EXPECT_EQ("", copy.stage);
  EXPECT_EQ(Words{"bad alloc"}, copy.errors);
}

}  // namespace
}  // namespace dawnstep
