#include "analyze/blame.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dawnstep::analyze {
namespace {

TEST(BlameTest, LongestFirstTiesByNameThenFileOrder) {
  BootProfile profile;
  profile.activations = {{"short", 0, 1500}, {"zeta", 100, 2100},      {"alpha", 5000, 7000},
                         {"alpha", 0, 2000}, {"huge", 0, 12345678901}, {"negative", 2000, 1000}};
  std::ostringstream out;
  WriteBlame(profile, out);
  EXPECT_EQ(
      "12345678.901 ms  huge\n"
      "     2.000 ms  alpha\n"
      "     2.000 ms  alpha\n"
      "     2.000 ms  zeta\n"
      "     1.500 ms  short\n"
      "    -1.000 ms  negative\n",
      out.str());
}

TEST(BlameTest, NothingRecordedPrintsNothing) {
  std::ostringstream out;
  WriteBlame(BootProfile(), out);
  EXPECT_EQ("", out.str());
}

}  // namespace
}  // namespace dawnstep::analyze
