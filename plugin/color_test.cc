#include "plugin/color.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dawnstep {
namespace {

std::string Written(Color color) {
  std::ostringstream out;
  out << color;
  return out.str();
}

TEST(ColorTest, EachColourWritesItsForegroundCode) {
  EXPECT_EQ("\e[30m", Written(Color::Black));
  EXPECT_EQ("\e[31m", Written(Color::Red));
  EXPECT_EQ("\e[32m", Written(Color::Green));
  EXPECT_EQ("\e[33m", Written(Color::Yellow));
  EXPECT_EQ("\e[34m", Written(Color::Blue));
  EXPECT_EQ("\e[35m", Written(Color::Magenta));
  EXPECT_EQ("\e[36m", Written(Color::Cyan));
  EXPECT_EQ("\e[37m", Written(Color::White));
}

TEST(ColorTest, ResetIsCodeZero) { EXPECT_EQ("\e[0m", Written(Color::Reset)); }

TEST(ColorTest, StoredInThirtyTwoBitsWithTheTableValues) {
  static_assert(sizeof(Color) == 4);
  EXPECT_EQ(0u, static_cast<uint32_t>(Color::Black));
  EXPECT_EQ(7u, static_cast<uint32_t>(Color::White));
  EXPECT_EQ(8u, static_cast<uint32_t>(Color::Reset));
}

}  // namespace
}  // namespace dawnstep
