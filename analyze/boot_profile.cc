#include "analyze/boot_profile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace dawnstep::analyze {
namespace {

const char kHeader[] = "HVKernel Initialization Time: ";
const char kTrailer[] = "=== Dawnstep configuration info ===";
const char kStart[] = " Start: ";
const char kEnd[] = " End: ";
const char kRecordSeparator[] = "] sysboot: ";
const size_t kTimeLength = 26;  // YYYY-MM-DD HH:MM:SS.uuuuuu

// Reads `count` decimal digits at `pos`, or -1.
int Digits(const std::string& text, size_t pos, size_t count) {
  int value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The time after `label`, when the line is exactly that.
std::optional<Micros> LabelledTime(const std::string& line, std::string_view label) {
  if (!line.starts_with(label)) return std::nullopt;
  return ParseProfileTime(line.substr(label.size()));
}

// "[start - end] sysboot: name"; names are taken whole, whatever they hold.
std::optional<Activation> ParseRecord(const std::string& line) {
  const size_t endAt = 1 + kTimeLength + 3;
  const size_t nameAt = endAt + kTimeLength + sizeof kRecordSeparator - 1;
  if (line.size() < nameAt || line[0] != '[' || line.compare(1 + kTimeLength, 3, " - ") != 0 ||
      line.compare(endAt + kTimeLength, sizeof kRecordSeparator - 1, kRecordSeparator) != 0) {
    return std::nullopt;
  }
  std::optional<Micros> start = ParseProfileTime(line.substr(1, kTimeLength));
  std::optional<Micros> end = ParseProfileTime(line.substr(endAt, kTimeLength));
  if (!start || !end) return std::nullopt;
  return Activation{line.substr(nameAt), *start, *end};
}

std::optional<Micros> KernelTime(const std::string& digits) {
  if (digits.empty() || digits.size() > 18 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoll(digits);
}

// `micros` in units of `scale` microseconds with `decimals` digits after the
// point. Integer arithmetic: a double would round some values the wrong way.
std::string FormatDecimal(Micros micros, uint64_t scale, int decimals) {
  const char* sign = micros < 0 ? "-" : "";
  uint64_t magnitude = micros < 0 ? 0 - static_cast<uint64_t>(micros) : micros;
  char text[40];
  snprintf(text, sizeof text, "%s%" PRIu64 ".%0*" PRIu64, sign, magnitude / scale, decimals,
           magnitude % scale);
  return text;
}

}  // namespace

std::string FormatMillis(Micros micros) { return FormatDecimal(micros, 1000, 3); }

std::string FormatSeconds(Micros micros) { return FormatDecimal(micros, 1000000, 6); }

std::string FormatProfileTime(Micros time) {
  time_t seconds = static_cast<time_t>(time / 1000000);
  int64_t micros = time % 1000000;
  if (micros < 0) {
    micros += 1000000;
    --seconds;
  }
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  size_t length = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  snprintf(text + length, sizeof text - length, ".%06" PRId64, micros);
  return text;
}

Micros BootProfile::Origin() const {
  if (start) return *start;
  if (activations.empty()) return 0;
  return std::min_element(
             activations.begin(), activations.end(),
             [](const Activation& a, const Activation& b) { return a.start < b.start; })
      ->start;
}

std::optional<Micros> ParseProfileTime(const std::string& text) {
  if (text.size() != kTimeLength || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
      text[13] != ':' || text[16] != ':' || text[19] != '.') {
    return std::nullopt;
  }
  int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  int micros = Digits(text, 20, 6);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60 || micros < 0) {
    return std::nullopt;
  }
  tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return static_cast<Micros>(timegm(&parts)) * 1000000 + micros;
}

BootProfile ReadBootProfile(std::istream& in) {
  BootProfile profile;
  bool inTrailer = false;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::optional<Micros> time;
    if (line.starts_with(kHeader)) {
      profile = BootProfile();  // a new boot begins
      inTrailer = false;
      profile.kernel = KernelTime(line.substr(sizeof kHeader - 1));
    } else if (line == kTrailer) {
      inTrailer = true;
    } else if (inTrailer && (time = LabelledTime(line, kStart))) {
      profile.start = time;
    } else if (inTrailer && (time = LabelledTime(line, kEnd))) {
      profile.end = time;
    } else if (std::optional<Activation> record = ParseRecord(line)) {
      profile.activations.push_back(std::move(*record));
    } else {
      profile.malformed.push_back("line " + std::to_string(number) + ": " + line);
    }
  }
  return profile;
}

}  // namespace dawnstep::analyze
