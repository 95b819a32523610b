// An argument vector becomes a command line or a clean usage exit, without
// touching the process: the hooks only record what the options asked for.
#include <algorithm>
#include <deque>

#include "main/command_line.h"
#include "main/option.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dawnstep;
using namespace dawnstep::fuzzing;

namespace {

struct HelpRequested {};

struct Hooks final : StartupHooks {
  void Help() override { throw HelpRequested(); }
  void Quiet() override {}
  void LimitWorkers(int) override {}
  uint32_t Now() override { return 1; }
};

std::string NameOf(const std::string& token) { return token.substr(0, token.find('=')); }

template <typename Items>
bool ListItems(const Items& items) {
  return std::all_of(items.begin(), items.end(), [](const std::string& item) {
    return !item.empty() && item.find(',') == std::string::npos;
  });
}

}  // namespace

// Every NUL ends an argument; bytes after the last NUL make one more.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchRoot();
  std::deque<std::string> all;
  const char* text = reinterpret_cast<const char*>(data);
  for (size_t start = 0, at = 0; at <= size; ++at) {
    if (at == size ? start < size : text[at] == '\0') all.emplace_back(text + start, at - start);
    if (at < size && text[at] == '\0') start = at + 1;
  }
  std::deque<std::string> left = all;
  Hooks hooks;
  try {
    CommandLine line = ReadCommandLine(left, hooks);
    const auto own =
        Plugin::DryRun | Plugin::InteractiveMode | Plugin::TimeOps | Plugin::PreemptiveDisabled;
    Require(left.empty(), "a command line that reads is consumed whole");
    Require((line.flags & ~own) == 0, "the command line sets only its own flags");
    Require(ListItems(line.plugins), "plugin names are non-empty and hold no comma");
  } catch (const HelpRequested&) {
    Require(std::any_of(all.begin(), all.end(),
                        [](const std::string& token) {
                          return NameOf(token) == "-h" || NameOf(token) == "--help";
                        }),
            "usage is shown only when asked for");
  } catch (const InvalidArg&) {
    // Only tokens from the front were consumed; the unknown one stays as typed.
    Require(!left.empty() && left.size() <= all.size() &&
                std::equal(left.begin(), left.end(), all.end() - left.size()) &&
                !NameOf(left.front()).empty() && FindOption(NameOf(left.front())) == nullptr,
            "the reported token names no option");
  } catch (const MissingArg&) {
    const Option* option = left.size() == 1 ? FindOption(left.front()) : nullptr;
    Require(option && left.front() == all.back() && option->TakesArgument() &&
                !option->ArgumentOptional(),
            "only the last token's mandatory value can be missing");
  } catch (const InvalidValue& invalid) {
    Require((invalid.option == "--max-workers" || invalid.option == "--randomize") &&
                !ReadDecimal(invalid.value),
            "only numeric options refuse a value, one that does not read as a number");
  }
  const Plugin::Registry& registry = Plugin::registry();
  Require(ListItems(registry.disabledNames) && ListItems(registry.interactiveTags),
          "recorded lists hold non-empty items without commas");
  ClearRegistry();
  return 0;
}
