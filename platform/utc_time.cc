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
  if (fractionDigits > 0) AppendFraction(stamp, now.tv_usec, fractionDigits);
  stamp += 'Z';
  return stamp;
}

void AppendFraction(std::string& stamp, long micros, int digits) {
  char text[] = ".000000";
  for (int digit = 6; digit > 0; --digit, micros /= 10) text[digit] = '0' + micros % 10;
  stamp.append(text, digits + 1);
}

}  // namespace dawnstep
