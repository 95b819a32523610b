#include "platform/utc_time.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

namespace dawnstep {

std::string UtcIsoTimestamp(int fractionDigits) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  char seconds[32];
  strftime(seconds, sizeof seconds, "%Y-%m-%dT%H:%M:%S", &parts);
  std::string stamp = seconds;
  if (fractionDigits > 0) {
    long fraction = now.tv_usec;
    for (int digits = 6; digits > fractionDigits; --digits) fraction /= 10;
    char text[16];
    snprintf(text, sizeof text, ".%0*ld", fractionDigits, fraction);
    stamp += text;
  }
  return stamp + "Z";
}

}  // namespace dawnstep
