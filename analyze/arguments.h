#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace dawnstep::analyze {

// A command line error: reported with the command's usage hint.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One command's options and operands, parsed by getopt_long.
struct Arguments {
  std::map<std::string, std::vector<std::string>> options;  // long name -> values, in order
  std::vector<std::string> operands;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  // The last value given, or `fallback`.
  std::string Last(const std::string& name, const std::string& fallback = "") const;
};

// Parses `args` (the words after the command), accepting "--help"/"-h" and
// the long options named in `allowed` (of: log, json, output (-o),
// max-workers, duration, no-kind-tags, around, depth, fail-above, min-ms).
// Throws UsageError.
Arguments ParseArguments(const std::vector<std::string>& allowed,
                         const std::vector<std::string>& args);

// A whole number in [minimum, maximum]; UsageError naming `option` if not.
long long ParseCount(const std::string& option, const std::string& text, long long minimum,
                     long long maximum);

}  // namespace dawnstep::analyze
