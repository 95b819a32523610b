#pragma once

#include <string>

namespace dawnstep {

// The current time in UTC as ISO 8601 with `fractionDigits` (0, 3 or 6)
// digits of the second and a trailing "Z": 2026-12-06T06:03:17.123Z.
std::string UtcIsoTimestamp(int fractionDigits);

// Appends "." and the first `digits` (1 to 6) of the six digits of
// `micros`, a clock's microseconds (0 to 999,999): cut, not rounded.
void AppendFraction(std::string& stamp, long micros, int digits);

}  // namespace dawnstep
