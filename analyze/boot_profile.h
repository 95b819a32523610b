#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace dawnstep::analyze {

// Wall-clock time in microseconds since the epoch (UTC).
using Micros = int64_t;

// One activation record: a plugin's activation from start to end.
struct Activation {
  std::string name;
  Micros start = 0;
  Micros end = 0;
  Micros Duration() const { return end - start; }
};

// What one boot wrote to the timing profile.
struct BootProfile {
  std::optional<Micros> kernel;         // kernel initialisation time, from the first line
  std::vector<Activation> activations;  // in file order
  std::optional<Micros> start;          // the trailer's Start; absent when the run did not end
  std::optional<Micros> end;
  // Lines that were not understood, as "line N: text".
  std::vector<std::string> malformed;

  // Where offsets count from: the profile's Start, or else the earliest
  // activation start (0 when there is nothing).
  Micros Origin() const;
};

// Reads "YYYY-MM-DD HH:MM:SS.uuuuuu" (UTC); nothing when the text is not
// exactly of that form.
std::optional<Micros> ParseProfileTime(const std::string& text);

// The profile's own form of a time: "YYYY-MM-DD HH:MM:SS.uuuuuu" (UTC).
std::string FormatProfileTime(Micros time);

// Milliseconds with three decimals, e.g. 1234.500 for 1234500 µs.
std::string FormatMillis(Micros micros);

// Seconds with six decimals, e.g. 1.234500 for 1234500 µs.
std::string FormatSeconds(Micros micros);

// Reads a timing profile. A file that holds several boots (one appended to
// another) yields the last of them.
BootProfile ReadBootProfile(std::istream& in);

}  // namespace dawnstep::analyze
