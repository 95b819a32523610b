#include "analyze/boot_profile.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dawnstep::analyze {
namespace {

BootProfile Read(const std::string& text) {
  std::istringstream in(text);
  return ReadBootProfile(in);
}

TEST(BootProfileTest, ReadsRecordsAndTrailer) {
  BootProfile profile = Read(
      "HVKernel Initialization Time: 12000000\n"
      "[2026-03-05 07:08:09.500000 - 2026-03-05 07:08:10.000042] sysboot: net\n"
      "[2026-03-05 07:08:09.500000 - 2026-03-05 07:08:09.500000] sysboot: odd] sysboot: name \n"
      "[2026-03-05 07:08:09.500000 - 2026-03-05 07:08:09.600000] sysboot: \n"
      "=== Dawnstep configuration info ===\n"
      " Start: 2026-03-05 07:08:09.000001\n"
      " End: 2026-03-05 07:08:11.000000\n");
  ASSERT_EQ(3u, profile.activations.size());
  EXPECT_EQ("net", profile.activations[0].name);
  EXPECT_EQ(500042, profile.activations[0].Duration());
  // Names are taken whole, blanks and look-alike separators included.
  EXPECT_EQ("odd] sysboot: name ", profile.activations[1].name);
  EXPECT_EQ(0, profile.activations[1].Duration());
  EXPECT_EQ("", profile.activations[2].name);
  ASSERT_TRUE(profile.start.has_value());
  EXPECT_EQ(*ParseProfileTime("2026-03-05 07:08:09.000001"), profile.Origin());
  EXPECT_EQ(1999999, *profile.end - *profile.start);
  EXPECT_TRUE(profile.malformed.empty());
}

TEST(BootProfileTest, KeepsOnlyTheLastBootAndReportsWhatItDoesNotKnow) {
  BootProfile profile = Read(
      "HVKernel Initialization Time: 1000000\n"
      "[2026-03-05 07:00:00.000000 - 2026-03-05 07:00:01.000000] sysboot: old\n"
      "=== Dawnstep configuration info ===\n"
      " Start: 2026-03-05 07:00:00.000000\n"
      " End: 2026-03-05 07:00:02.000000\n"
      "HVKernel Initialization Time: 2000000\n"
      "[2026-03-05 08:00:00.250000 - 2026-03-05 08:00:01.000000] sysboot: b\n"
      "[2026-03-05 08:00:00.100000 - 2026-03-05 08:00:00.200000] sysboot: a\n"
      "[2026-03-05 08:00:00.1 - 2026-03-05 08:00:00.2] sysboot: short\n"
      " Start: 2026-03-05 08:00:00.000000\n"
      "[2026-03-05 08:00:00.100000 - 2026-03-05 08:00:00.2000");  // cut off by a crash
  ASSERT_EQ(2u, profile.activations.size());
  EXPECT_EQ("b", profile.activations[0].name);
  // No trailer: a Start line outside it is not taken, and offsets count from
  // the earliest activation.
  EXPECT_FALSE(profile.start.has_value());
  EXPECT_EQ(profile.activations[1].start, profile.Origin());
  ASSERT_EQ(3u, profile.malformed.size());
  EXPECT_EQ("line 9: [2026-03-05 08:00:00.1 - 2026-03-05 08:00:00.2] sysboot: short",
            profile.malformed[0]);
  EXPECT_EQ("line 10:  Start: 2026-03-05 08:00:00.000000", profile.malformed[1]);
  EXPECT_EQ(0, Read("").Origin());
}

TEST(BootProfileTest, TimesAreExactUtc) {
  EXPECT_EQ(42, *ParseProfileTime("1970-01-01 00:00:00.000042"));
  EXPECT_EQ(86400LL * 1000000 + 1000000, *ParseProfileTime("1970-01-02 00:00:01.000000"));
  EXPECT_EQ(951782400LL * 1000000, *ParseProfileTime("2000-02-29 00:00:00.000000"));
  for (const char* bad :
       {"2026-13-05 07:08:09.000000", "2026-03-05 24:08:09.000000", "2026-03-05T07:08:09.000000",
        "2026-03-05 07:08:09,000000", "2026-03-05 07:08:09.00000x", "2026-03-05 07:08:09.0000000",
        "2026-3-05 07:08:09.000000", ""}) {
    EXPECT_FALSE(ParseProfileTime(bad).has_value()) << bad;
  }
}

TEST(BootProfileTest, MillisecondsKeepEveryMicrosecond) {
  EXPECT_EQ("0.000", FormatMillis(0));
  EXPECT_EQ("0.001", FormatMillis(1));
  EXPECT_EQ("1234.567", FormatMillis(1234567));
  EXPECT_EQ("-0.500", FormatMillis(-500));
  EXPECT_EQ("9223372036854775.807", FormatMillis(INT64_MAX));
  EXPECT_EQ("-9223372036854775.808", FormatMillis(INT64_MIN));
}

}  // namespace
}  // namespace dawnstep::analyze
