#include "platform/utc_time.h"

#include <sys/time.h>

#include <ctime>

namespace dawnstep {

std::string UtcIsoTimestamp(int fractionDigits) {
  timeval now{};
  gettimeofday(&now, nullptr);
  // Records come by the thousand in a second of a boot, and the calendar
  // part changes only once a second: it is worked out once for each.
  static time_t second = -1;
  static char calendar[32];
  if (now.tv_sec != second) {
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    strftime(calendar, sizeof calendar, "%Y-%m-%dT%H:%M:%S", &parts);
    second = now.tv_sec;
  }
  std::string stamp = calendar;
  if (fractionDigits > 0) {
    char micros[6];
    long fraction = now.tv_usec;
    for (int digit = 5; digit >= 0; --digit, fraction /= 10) micros[digit] = '0' + fraction % 10;
    stamp += '.';
    stamp.append(micros, fractionDigits);  // the leading digits: truncated, not rounded
  }
  return stamp + "Z";
}

}  // namespace dawnstep
