// An argument vector (NUL-separated) becomes a command line or a clean usage
// exit, without touching the process: the hooks only record what was asked.
#include <algorithm>
#include <deque>

#include "main/command_line.h"
#include "main/option.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dawnstep;

struct HelpRequested {};

struct Hooks final : StartupHooks {
  void Help() override { throw HelpRequested(); }
  void Quiet() override {}
  void LimitWorkers(int) override {}
  uint32_t Now() override { return 1; }
};

static std::string NameOf(const std::string& token) { return token.substr(0, token.find('=')); }

// List items are non-empty and hold no comma.
template <typename Items>
static bool ListItems(const Items& items) {
  return std::none_of(items.begin(), items.end(), [](const std::string& item) {
    return item.empty() || item.find(',') != std::string::npos;
  });
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::ScratchRoot();
  std::deque<std::string> all(1);
  for (size_t at = 0; at < size; ++at) data[at] ? all.back() += data[at] : all.emplace_back();
  if (size == 0 || data[size - 1] == 0) all.pop_back();  // a NUL ends an argument
  std::deque<std::string> left = all;
  Hooks hooks;
  try {
    CommandLine line = ReadCommandLine(left, hooks);
    const auto own =
        Plugin::DryRun | Plugin::InteractiveMode | Plugin::TimeOps | Plugin::PreemptiveDisabled;
    REQUIRE(left.empty() && (line.flags & ~own) == 0 && ListItems(line.plugins));
  } catch (const HelpRequested&) {
    REQUIRE(std::any_of(all.begin(), all.end(),
                        [](auto& t) { return NameOf(t) == "-h" || NameOf(t) == "--help"; }));
  } catch (const InvalidArg&) {
    // Only tokens from the front were read; the unknown one stays as typed.
    REQUIRE(!left.empty() && left.size() <= all.size() &&
            std::equal(left.begin(), left.end(), all.end() - left.size()));
    REQUIRE(!NameOf(left.front()).empty() && FindOption(NameOf(left.front())) == nullptr);
  } catch (const MissingArg&) {  // only the last token's mandatory value
    const Option* option = left.size() == 1 ? FindOption(left.front()) : nullptr;
    REQUIRE(option && left.front() == all.back() && option->TakesArgument() &&
            !option->ArgumentOptional());
  } catch (const InvalidValue& invalid) {  // a numeric option's value that is no number
    REQUIRE((invalid.option == "--max-workers" || invalid.option == "--randomize") &&
            !ReadDecimal(invalid.value));
  }
  const Plugin::Registry& registry = Plugin::registry();
  REQUIRE(ListItems(registry.disabledNames) && ListItems(registry.interactiveTags));
  fuzzing::ClearRegistry();
  return 0;
}
