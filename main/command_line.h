#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "main/startup_hooks.h"
#include "plugin/plugin.h"

namespace dawnstep {

// What the command line asked for, beyond the effects its options had at
// once.
struct CommandLine {
  bool AnyQuery() const { return requiresQuery || providesQuery || tagsQuery; }

  Plugin::ActivateFlags flags = 0;
  uint32_t seed = 0;
  bool tagsQuery = false;
  bool requiresQuery = false;
  std::string requiresTag;
  bool providesQuery = false;
  std::string providesTag;
  std::unordered_set<std::string> plugins;
};

// A numeric option whose value is not a decimal 32-bit integer.
struct InvalidValue {
  std::string option;
  std::string value;  // as typed
};

// Consumes `args` from the front, acting on each option as it is read
// (--help ends the process, --quiet silences the kernel log, --disable and
// --interactive record their lists in the registry). Throws InvalidArg with
// the unknown token left at the front of `args`, MissingArg with the
// option's name there, or InvalidValue.
CommandLine ReadCommandLine(std::deque<std::string>& args, StartupHooks& hooks);

// The non-empty pieces between commas, in order and untrimmed.
std::vector<std::string> SplitList(const std::string& value);

// Leading blanks, an optional sign, then digits up to the first non-digit
// ("8x" reads as 8). Empty when there is no digit or the number does not
// fit 32 bits.
std::optional<int32_t> ReadDecimal(const std::string& text);

}  // namespace dawnstep
