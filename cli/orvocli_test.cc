#include "cli/orvocli.h"

#include <gtest/gtest.h>

#include "platform/tolvar/dispatcher.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

TEST(Orvocli, OneDispatcherReadsTheFourCommandDirectoriesInOrder) {
  testing::TempRoot root;
  root.WriteFile("/usr/lib/corvane/orvocli/int/ext/a.json",
                 R"({"namespace": "a  b", "commands": [{"name": "c", "handler": "h"}]})");
  Orvocli::ResetDispatcher();
  Orvocli first, second;
  Tolvar::AutoCli::Dispatcher* shared = Orvocli::SharedDispatcher();
  const std::string base = root.Path("/usr/lib/corvane/orvocli");
  EXPECT_EQ(shared->Directories(), (std::vector<std::string>{base, base + "/int",
                                                              base + "/int/ext", base + "/ext"}));
  EXPECT_TRUE(shared->Defines({"a", "b", "c"}));
  EXPECT_TRUE(shared->Defines({"a b", "c"}));
  EXPECT_FALSE(shared->Defines({"a", "b"}));
  EXPECT_FALSE(shared->Defines({"a", "", "b", "c"}));
  Orvocli::ResetDispatcher();
}

TEST(Orvocli, TimingLineHasSecondsAndSixDigitMicroseconds) {
  EXPECT_EQ("0.000042 orvocli a b\n", TimingLine({100, 5}, {100, 47}, "a b"));
  EXPECT_EQ("2.005000 orvocli x\n", TimingLine({10, 900000}, {12, 905000}, "x"));
  EXPECT_EQ("0.999999 orvocli x\n", TimingLine({10, 500000}, {11, 499999}, "x"));
  EXPECT_EQ("1.000000 orvocli x\n", TimingLine({10, 999999}, {11, 999999}, "x"));
}

}  // namespace
}  // namespace dawnstep
