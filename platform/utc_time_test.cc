#include "platform/utc_time.h"

#include <gtest/gtest.h>

#include <regex>

namespace dawnstep {
namespace {

TEST(UtcTimeTest, FractionDigitsFollowTheSeconds) {
  const std::string date = R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})";
  EXPECT_TRUE(std::regex_match(UtcIsoTimestamp(0), std::regex(date + "Z")));
  EXPECT_TRUE(std::regex_match(UtcIsoTimestamp(3), std::regex(date + R"(\.\d{3}Z)")));
  EXPECT_TRUE(std::regex_match(UtcIsoTimestamp(6), std::regex(date + R"(\.\d{6}Z)")));
}

}  // namespace
}  // namespace dawnstep
