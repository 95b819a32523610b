#include "main/command_line.h"

#include <gtest/gtest.h>

#include "main/option.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

struct HelpShown {};

// Records what the options asked of the process; --help stops the reader
// like the real one does.
class RecordingHooks final : public StartupHooks {
 public:
  void Help() override { throw HelpShown(); }
  void Quiet() override { events.push_back("quiet"); }
  void LimitWorkers(int n) override { events.push_back("workers " + std::to_string(n)); }
  uint32_t Now() override { return 4242; }

  std::vector<std::string> events;
};

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { Plugin::ResetRegistry(); }

  CommandLine Read(std::initializer_list<std::string> words) {
    args.assign(words);
    return ReadCommandLine(args, hooks);
  }

  testing::TempRoot root;
  RecordingHooks hooks;
  std::deque<std::string> args;
};

TEST_F(CommandLineTest, FlagsIgnoreAttachedValues) {
  CommandLine line = Read({"--dry=yes", "--time-ops", "--disable-preemptive-plugins"});
  EXPECT_EQ(Plugin::DryRun | Plugin::TimeOps | Plugin::PreemptiveDisabled, line.flags);
  EXPECT_TRUE(args.empty());
}

TEST_F(CommandLineTest, EmptyNamesAreSkippedSilently) {
  CommandLine line = Read({"", "=x", "=", "--tags"});
  EXPECT_TRUE(line.tagsQuery);
  EXPECT_TRUE(args.empty());
}

TEST_F(CommandLineTest, UnknownOptionStaysAtTheFrontAsTyped) {
  EXPECT_THROW(Read({"--dry", "--bogus=1", "--tags"}), InvalidArg);
  EXPECT_EQ((std::deque<std::string>{"--bogus=1", "--tags"}), args);
  EXPECT_THROW(Read({"--DRY"}), InvalidArg);
  EXPECT_THROW(Read({"dry"}), InvalidArg);
  EXPECT_EQ("dry", args.front());
}

TEST_F(CommandLineTest, MissingMandatoryValueLeavesTheOptionName) {
  EXPECT_THROW(Read({"--dry", "--max-workers"}), MissingArg);
  EXPECT_EQ(std::deque<std::string>{"--max-workers"}, args);
  EXPECT_THROW(Read({"--plugin"}), MissingArg);
  EXPECT_EQ(std::deque<std::string>{"--plugin"}, args);
  EXPECT_THROW(Read({"--disable"}), MissingArg);
  EXPECT_TRUE(hooks.events.empty());
}

TEST_F(CommandLineTest, MandatoryValueTakesTheNextTokenWhateverItLooksLike) {
  Read({"--max-workers", "-1", "--max-workers=8x", "--max-workers", "2=3"});
  EXPECT_EQ((std::vector<std::string>{"workers -1", "workers 8", "workers 2"}), hooks.events);
  try {
    Read({"--max-workers", "--dry"});
    FAIL() << "no error";
  } catch (const InvalidValue& e) {
    EXPECT_EQ("--dry", e.value);
  }
  EXPECT_TRUE(args.empty());
}

TEST_F(CommandLineTest, InvalidNumbersNameTheOptionAndTheValueAsTyped) {
  try {
    Read({"--max-workers", "-1", "--max-workers", "x8"});
    FAIL() << "no error";
  } catch (const InvalidValue& e) {
    EXPECT_EQ("--max-workers", e.option);
    EXPECT_EQ("x8", e.value);
  }
  EXPECT_EQ(std::vector<std::string>{"workers -1"}, hooks.events);
  try {
    Read({"--randomize=2147483648"});
    FAIL() << "no error";
  } catch (const InvalidValue& e) {
    EXPECT_EQ("--randomize", e.option);
    EXPECT_EQ("2147483648", e.value);
  }
  EXPECT_THROW(Read({"--max-workers="}), InvalidValue);
  EXPECT_THROW(Read({"--max-workers", " "}), InvalidValue);
  EXPECT_THROW(Read({"--max-workers", "+"}), InvalidValue);
}

TEST_F(CommandLineTest, OptionalValueLeavesAnOptionForTheNextRound) {
  CommandLine line = Read({"--randomize", "--dry"});
  EXPECT_EQ(4242u, line.seed);
  EXPECT_EQ(Plugin::DryRun, line.flags);

  EXPECT_EQ(42u, Read({"--randomize", "42"}).seed);
  EXPECT_EQ(42u, Read({"--randomize=42"}).seed);
  EXPECT_EQ(4242u, Read({"--randomize="}).seed);
  EXPECT_EQ(4242u, Read({"--randomize"}).seed);
  EXPECT_EQ(0u, Read({"--randomize", "0"}).seed);
  EXPECT_EQ(4294967295u, Read({"--randomize=-1"}).seed);
  EXPECT_EQ(4242u, Read({"--randomize", ""}).seed);
}

TEST_F(CommandLineTest, QueriesKeepTheLastTag) {
  CommandLine line = Read({"--requires", "usb", "--requires=net", "--provides"});
  EXPECT_TRUE(line.requiresQuery);
  EXPECT_EQ("net", line.requiresTag);
  EXPECT_TRUE(line.providesQuery);
  EXPECT_EQ("", line.providesTag);
  EXPECT_FALSE(line.tagsQuery);

  line = Read({"--provides", "--tags"});
  EXPECT_EQ("", line.providesTag);
  EXPECT_TRUE(line.tagsQuery);
  EXPECT_THROW(Read({"--requires", "-usb"}), InvalidArg);
  EXPECT_EQ(std::deque<std::string>{"-usb"}, args);
}

TEST_F(CommandLineTest, ListsAreSplitAndCollected) {
  CommandLine line = Read({"--plugin", "a.json,b.json", "--plugin", "c.json,a.json"});
  EXPECT_EQ((std::unordered_set<std::string>{"a.json", "b.json", "c.json"}), line.plugins);

  Read({"--disable", ",x,,y z,", "--interactive=usb,,net"});
  auto& reg = Plugin::registry();
  EXPECT_EQ((std::unordered_set<std::string>{"x", "y z"}), reg.disabledNames);
  EXPECT_EQ((TagSet{"net", "usb"}), reg.interactiveTags);

  line = Read({"--interactive", "--dry"});
  EXPECT_EQ(Plugin::InteractiveMode | Plugin::DryRun, line.flags);
}

TEST_F(CommandLineTest, EffectsHappenInCommandLineOrder) {
  EXPECT_THROW(Read({"--max-workers=3", "--quiet", "--help", "--max-workers=5"}), HelpShown);
  EXPECT_EQ((std::vector<std::string>{"workers 3", "quiet"}), hooks.events);
  EXPECT_EQ(std::deque<std::string>{"--max-workers=5"}, args);
  EXPECT_THROW(Read({"-h", "--bogus"}), HelpShown);
  EXPECT_THROW(Read({"--bogus", "-h"}), InvalidArg);
}

TEST(SplitListTest, DropsEmptyPiecesOnly) {
  EXPECT_EQ(std::vector<std::string>{}, SplitList(""));
  EXPECT_EQ(std::vector<std::string>{}, SplitList(",,"));
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), SplitList("b,a"));
  EXPECT_EQ((std::vector<std::string>{" a ", "b"}), SplitList(", a ,,b,"));
  EXPECT_EQ((std::vector<std::string>{"x=y"}), SplitList("x=y"));
}

TEST(ReadDecimalTest, ReadsLeadingNumber) {
  EXPECT_EQ(8, ReadDecimal("8x"));
  EXPECT_EQ(-12, ReadDecimal(" \t-12"));
  EXPECT_EQ(7, ReadDecimal("+007"));
  EXPECT_EQ(2147483647, ReadDecimal("2147483647"));
  EXPECT_EQ(-2147483647 - 1, ReadDecimal("-2147483648"));
  EXPECT_EQ(0, ReadDecimal("0.5"));
  EXPECT_EQ(std::nullopt, ReadDecimal("2147483648"));
  EXPECT_EQ(std::nullopt, ReadDecimal("-2147483649"));
  EXPECT_EQ(std::nullopt, ReadDecimal("99999999999999999999999"));
  EXPECT_EQ(std::nullopt, ReadDecimal(""));
  EXPECT_EQ(std::nullopt, ReadDecimal("-"));
  EXPECT_EQ(std::nullopt, ReadDecimal("x8"));
  EXPECT_EQ(std::nullopt, ReadDecimal("+-1"));
  EXPECT_EQ(std::nullopt, ReadDecimal("- 1"));
}

}  // namespace
}  // namespace dawnstep
