#include "main/option.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const char kUsage[] =
    "--help,-h\tshow this help message\n"
    "--interactive [tag,...]\n"
    "\t\tprompts before activating a plugin, allowing\n"
    "\t\tplugins to be skipped, executed, or to fall to a\n"
    "\t\ttroubleshooting shell. Tags specify the requirements\n"
    "\t\tfor interactive mode to function (e.g. 'usb')\n"
    "--dry\t\tdry run; do not execute anything, but show the operations\n"
    "\t\tthat would be performed\n"
    "--disable-preemptive-plugins\n"
    "\t\tdisable preemptive plugins during activation\n"
    "--disable <plugin|tag>[,<plugin|tag>]\n"
    "\t\ta comma separated list of plugins or provide tags to be\n"
    "\t\tdisabled during execution\n"
    "--requires [tag]\n"
    "\t\tlist plugins that require given tag\n"
    "--provides [tag]\n"
    "\t\tlist plugins that provide given tag\n"
    "--quiet\t\tdo not log any hvkernel messages\n"
    "--time-ops\tfor JSON plugins, record times for each orvocli\n"
    "--max-workers n\tlimit the number of spawned workers\n"
    "--plugin <plugin>[,...]\n"
    "\t\tlist of plugins to execute, must be full name (or path)\n"
    "\t\tof plugin file\n"
    "--tags\t\tlist all barrier tags\n"
    "--randomize [seed]\n"
    "\t\trandomize the activation order of plugins, or specify a\n"
    "\t\tfixed seed for reproducibility (only useful for testing)\n";

TEST(OptionTest, UsageTextIsExact) {
  std::ostringstream out;
  WriteUsage(out);
  EXPECT_EQ(kUsage, out.str());
}

TEST(OptionTest, UsageEndsTheProcessWithItsStatusAfterPrinting) {
  EXPECT_EXIT(Usage(0), ::testing::ExitedWithCode(0), "^--help,-h\tshow this help message\n");
  EXPECT_EXIT(Usage(1), ::testing::ExitedWithCode(1), "fixed seed for reproducibility");
}

TEST(OptionTest, NamesAreSortedAndMatchedWhole) {
  const Option* help = FindOption("-h");
  ASSERT_NE(nullptr, help);
  EXPECT_EQ(help, FindOption("--help"));
  EXPECT_EQ("--help", *help->names.begin());
  EXPECT_EQ(nullptr, FindOption("--hel"));
  EXPECT_EQ(nullptr, FindOption("--HELP"));
  EXPECT_EQ(nullptr, FindOption("--disable-preemptive"));
}

TEST(OptionTest, CommandLineErrorsEscapeStandardHandlers) {
  auto throwsPast = [](auto thrown) {
    try {
      try {
        throw thrown;
      } catch (const std::exception&) {
        return false;
      }
    } catch (const decltype(thrown)&) {
      return true;
    }
  };
  EXPECT_TRUE(throwsPast(InvalidArg()));
  EXPECT_TRUE(throwsPast(MissingArg()));
}

}  // namespace
