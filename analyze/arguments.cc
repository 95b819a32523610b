#include "analyze/arguments.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace dawnstep::analyze {
namespace {

struct Known {
  const char* name;
  int hasArg;
  char shortName;  // 0: none
};

const Known kKnown[] = {
    {"help", no_argument, 'h'},       {"log", required_argument, 0},
    {"json", no_argument, 0},         {"output", required_argument, 'o'},
    {"max-workers", required_argument, 0}, {"duration", required_argument, 0},
    {"no-kind-tags", no_argument, 0}, {"around", required_argument, 0},
    {"depth", required_argument, 0}, {"fail-above", required_argument, 0},
    {"min-ms", required_argument, 0},
};

}  // namespace

std::string Arguments::Last(const std::string& name, const std::string& fallback) const {
  auto found = options.find(name);
  return found == options.end() ? fallback : found->second.back();
}

Arguments ParseArguments(const std::vector<std::string>& allowed,
                         const std::vector<std::string>& args) {
  std::vector<option> table;
  std::string shortOptions = ":";  // ':' reports a missing value apart
  for (const Known& known : kKnown) {
    if (std::string(known.name) != "help" &&
        std::find(allowed.begin(), allowed.end(), known.name) == allowed.end()) {
      continue;
    }
    int id = known.shortName != 0 ? known.shortName : 256 + static_cast<int>(table.size());
    table.push_back({known.name, known.hasArg, nullptr, id});
    if (known.shortName != 0) {
      shortOptions += known.shortName;
      if (known.hasArg == required_argument) shortOptions += ':';
    }
  }
  table.push_back({nullptr, 0, nullptr, 0});

  std::vector<std::string> words{"dawnstep-analyze"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  Arguments parsed;
  opterr = 0;
  optind = 0;  // a fresh scan, whatever ran before
  for (;;) {
    int index = -1;
    int id = getopt_long(static_cast<int>(words.size()), argv.data(), shortOptions.c_str(),
                         table.data(), &index);
    if (id == -1) break;
    std::string word = optind > 0 && optind <= static_cast<int>(words.size())
                           ? words[optind - 1] : std::string();
    if (id == '?') {
      if (optopt != 0 && optopt < 256) throw UsageError(std::string("unknown option -") +
                                                      static_cast<char>(optopt));
      throw UsageError("unknown option " + word.substr(0, word.find('=')));
    }
    if (id == ':') throw UsageError("option " + word + " needs a value");
    const option* found = nullptr;
    for (const option& entry : table) {
      if (entry.name != nullptr && entry.val == id) found = &entry;
    }
    parsed.options[found->name].push_back(optarg != nullptr ? optarg : "");
  }
  parsed.operands.assign(words.begin() + optind, words.end());
  return parsed;
}

long long ParseCount(const std::string& option, const std::string& text, long long minimum,
                     long long maximum) {
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || !isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
      errno != 0 || value < minimum || value > maximum) {
    throw UsageError("option --" + option + " needs a whole number from " +
                     std::to_string(minimum) + " to " + std::to_string(maximum) + ", not '" +
                     text + "'");
  }
  return value;
}

}  // namespace dawnstep::analyze
