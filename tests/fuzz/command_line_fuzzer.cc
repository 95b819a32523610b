// An argument vector becomes a command line or a clean usage exit, without
// touching the process: the hooks only record what the options asked for.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "main/command_line.h"
#include "main/option.h"
#include "tests/fuzz/fuzz_support.h"

namespace dawnstep::fuzzing {
namespace {

struct HelpRequested {};

class RecordingHooks final : public StartupHooks {
 public:
  void Help() override { throw HelpRequested(); }
  void Quiet() override {}
  void LimitWorkers(int) override {}
  uint32_t Now() override { return 1; }
};

// Every NUL ends an argument; bytes after the last NUL make one more. An
// empty input is an empty command line.
std::deque<std::string> SplitArguments(const uint8_t* data, size_t size) {
  std::deque<std::string> args;
  const char* text = reinterpret_cast<const char*>(data);
  size_t start = 0;
  for (size_t at = 0; at < size; ++at) {
    if (text[at] != '\0') continue;
    args.emplace_back(text + start, at - start);
    start = at + 1;
  }
  if (start < size) args.emplace_back(text + start, size - start);
  return args;
}

std::string NameOf(const std::string& token) { return token.substr(0, token.find('=')); }

bool IsListItem(const std::string& item) {
  return !item.empty() && item.find(',') == std::string::npos;
}

template <typename Items>
bool AllListItems(const Items& items) {
  return std::all_of(items.begin(), items.end(), IsListItem);
}

bool ListsWellFormed() {
  const Plugin::Registry& registry = Plugin::registry();
  return AllListItems(registry.disabledNames) && AllListItems(registry.interactiveTags);
}

// The reader may only have consumed tokens from the front.
bool IsUntouchedTail(const std::deque<std::string>& left, const std::deque<std::string>& all) {
  return left.size() <= all.size() && std::equal(left.begin(), left.end(), all.end() - left.size());
}

void CheckRead(const CommandLine& line, const std::deque<std::string>& left) {
  const Plugin::ActivateFlags known =
      Plugin::DryRun | Plugin::InteractiveMode | Plugin::TimeOps | Plugin::PreemptiveDisabled;
  Require(left.empty(), "a command line that reads is consumed whole");
  Require((line.flags & ~known) == 0, "the command line sets only its own flags");
  Require(AllListItems(line.plugins), "plugin names are non-empty and hold no comma");
}

void CheckInvalidArg(const std::deque<std::string>& left, const std::deque<std::string>& all) {
  Require(!left.empty(), "an unknown option is left for the report");
  Require(IsUntouchedTail(left, all), "the unknown option stays as typed");
  const std::string name = NameOf(left.front());
  Require(!name.empty() && FindOption(name) == nullptr, "the reported token names no option");
}

void CheckMissingArg(const std::deque<std::string>& left, const std::deque<std::string>& all) {
  Require(left.size() == 1 && !all.empty() && left.front() == all.back(),
          "a missing value is reported for the last token");
  const Option* option = FindOption(left.front());
  Require(option != nullptr && option->TakesArgument() && !option->ArgumentOptional(),
          "only a mandatory value can be missing");
}

void CheckInvalidValue(const InvalidValue& invalid) {
  Require(invalid.option == "--max-workers" || invalid.option == "--randomize",
          "only numeric options refuse a value");
  Require(!ReadDecimal(invalid.value), "a refused value does not read as a number");
}

bool AsksForHelp(const std::deque<std::string>& all) {
  return std::any_of(all.begin(), all.end(), [](const std::string& token) {
    const std::string name = NameOf(token);
    return name == "-h" || name == "--help";
  });
}

}  // namespace
}  // namespace dawnstep::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dawnstep;
  using namespace dawnstep::fuzzing;
  ScratchRoot();
  const std::deque<std::string> all = SplitArguments(data, size);
  std::deque<std::string> args = all;
  RecordingHooks hooks;
  try {
    CheckRead(ReadCommandLine(args, hooks), args);
  } catch (const HelpRequested&) {
    Require(AsksForHelp(all), "usage is shown only when asked for");
  } catch (const InvalidArg&) {
    CheckInvalidArg(args, all);
  } catch (const MissingArg&) {
    CheckMissingArg(args, all);
  } catch (const InvalidValue& invalid) {
    CheckInvalidValue(invalid);
  }
  Require(ListsWellFormed(), "recorded lists hold non-empty items without commas");
  ClearRegistry();
  return 0;
}
