#include "main/command_line.h"

#include <cctype>
#include <limits>

#include "main/option.h"

namespace dawnstep {
namespace {

// The value of an option written without '=': the next token, unless the
// argument is optional and the next token looks like an option.
std::string TakeValue(std::deque<std::string>& args, const Option& option,
                      const std::string& name) {
  if (args.empty()) {
    if (option.ArgumentOptional()) return "";
    args.push_back(name);
    throw MissingArg();
  }
  if (option.ArgumentOptional() && args.front().starts_with('-')) return "";
  std::string value = std::move(args.front());
  args.pop_front();
  return value;
}

int32_t ReadNumber(const std::string& name, const std::string& value) {
  std::optional<int32_t> number = ReadDecimal(value);
  if (!number) throw InvalidValue{name, value};
  return *number;
}

void Act(const std::string& name, const std::string& value, CommandLine& line,
         StartupHooks& hooks) {
  if (name == "-h" || name == "--help") {
    hooks.Help();
  } else if (name == "--interactive") {
    line.flags |= Plugin::Interactive(SplitList(value));
  } else if (name == "--dry") {
    line.flags |= Plugin::DryRun;
  } else if (name == "--disable-preemptive-plugins") {
    line.flags |= Plugin::PreemptiveDisabled;
  } else if (name == "--disable") {
    Plugin::DisablePlugins(SplitList(value));
  } else if (name == "--requires") {
    line.requiresQuery = true;
    line.requiresTag = value;
  } else if (name == "--provides") {
    line.providesQuery = true;
    line.providesTag = value;
  } else if (name == "--quiet") {
    hooks.Quiet();
  } else if (name == "--time-ops") {
    line.flags |= Plugin::TimeOps;
  } else if (name == "--max-workers") {
    hooks.LimitWorkers(ReadNumber(name, value));
  } else if (name == "--plugin") {
    for (std::string& item : SplitList(value)) line.plugins.insert(std::move(item));
  } else if (name == "--tags") {
    line.tagsQuery = true;
  } else if (name == "--randomize") {
    line.seed = value.empty() ? hooks.Now() : static_cast<uint32_t>(ReadNumber(name, value));
  }
}

}  // namespace

CommandLine ReadCommandLine(std::deque<std::string>& args, StartupHooks& hooks) {
  CommandLine line;
  while (!args.empty()) {
    const std::string token = args.front();
    const size_t equals = token.find('=');
    const std::string name = token.substr(0, equals);
    if (name.empty()) {
      args.pop_front();
      continue;
    }
    const Option* option = FindOption(name);
    if (option == nullptr) throw InvalidArg();
    args.pop_front();
    std::string value;
    if (equals != std::string::npos) {
      value = token.substr(equals + 1);
    } else if (option->TakesArgument()) {
      value = TakeValue(args, *option, name);
    }
    Act(name, value, line, hooks);
  }
  return line;
}

std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    if (comma > start) items.push_back(value.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

std::optional<int32_t> ReadDecimal(const std::string& text) {
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const size_t digits = at;
  int64_t magnitude = 0;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > kLimit) return std::nullopt;
  }
  if (at == digits) return std::nullopt;
  const int64_t number = negative ? -magnitude : magnitude;
  if (number >= kLimit) return std::nullopt;
  return static_cast<int32_t>(number);
}

}  // namespace dawnstep
