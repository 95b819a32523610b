#include "platform/utc_time.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <ctime>

namespace dawnstep {
namespace {

double Seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

// Each stamp reads back as a moment between the clock readings around it,
// cut to its digits. The stamps go on into the next second, where a
// calendar part kept from the one before would show.
TEST(UtcIsoTimestamp, ReadsBackAsTheMomentItWasTaken) {
  timeval before{};
  gettimeofday(&before, nullptr);
  const time_t start = before.tv_sec;
  for (int late = 0; late < 10; late += before.tv_sec > start ? 1 : 0) {
    for (int digits : {0, 3, 6}) {
      std::string stamp = UtcIsoTimestamp(digits);
      timeval after{};
      gettimeofday(&after, nullptr);
      tm parts{};
      const char* rest = strptime(stamp.c_str(), "%Y-%m-%dT%H:%M:%S", &parts);
      ASSERT_NE(rest, nullptr) << stamp;
      double fraction = digits == 0 ? 0 : std::stod(std::string(rest, digits + 1));
      ASSERT_EQ(std::string(rest + (digits == 0 ? 0 : digits + 1)), "Z") << stamp;
      double taken = static_cast<double>(timegm(&parts)) + fraction;
      EXPECT_GE(taken, Seconds(before) - (digits == 0 ? 1 : digits == 3 ? 1e-3 : 1e-6)) << stamp;
      EXPECT_LE(taken, Seconds(after) + 1e-9) << stamp;
      before = after;
    }
  }
}

}  // namespace
}  // namespace dawnstep
