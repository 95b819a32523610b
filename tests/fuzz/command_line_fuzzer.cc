// An argument vector (NUL-separated) becomes a command line or a clean usage
// exit, without touching the process: the hooks only record what was asked.
#undef NDEBUG  // the asserts are the properties under test
#include <algorithm>
#include <cassert>

#include "main/command_line.h"
#include "main/option.h"

using namespace dawnstep;

struct HelpRequested {};
struct Hooks final : StartupHooks {
  void Help() override { throw HelpRequested(); }
  void Quiet() override {}
  void LimitWorkers(int) override {}
  uint32_t Now() override { return 1; }
};

static std::string Name(const std::string& token) { return token.substr(0, token.find('=')); }

static bool ListItems(const auto& items) {  // each non-empty, without a comma
  return std::none_of(items.begin(), items.end(), [](auto& item) {
    return item.empty() || item.find(',') != std::string::npos;
  });
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::deque<std::string> all(1);
  for (size_t at = 0; at < size; ++at) data[at] ? all.back() += data[at] : all.emplace_back();
  if (size == 0 || data[size - 1] == 0) all.pop_back();  // a NUL ends an argument
  std::deque<std::string> left = all;
  Hooks hooks;
  try {
    CommandLine line = ReadCommandLine(left, hooks);
    const auto own =
        Plugin::DryRun | Plugin::InteractiveMode | Plugin::TimeOps | Plugin::PreemptiveDisabled;
    assert(left.empty() && (line.flags & ~own) == 0 && ListItems(line.plugins));
  } catch (const HelpRequested&) {  // usage only when asked for
    assert(std::any_of(all.begin(), all.end(),
                       [](auto& t) { return Name(t) == "-h" || Name(t) == "--help"; }));
  } catch (const InvalidArg&) {  // tokens are read from the front; the unknown one stays as typed
    assert(!left.empty() && left.size() <= all.size() &&
           std::equal(left.begin(), left.end(), all.end() - left.size()));
    assert(!Name(left.front()).empty() && FindOption(Name(left.front())) == nullptr);
  } catch (const MissingArg&) {  // only the last token's mandatory value
    const Option* option = left.size() == 1 ? FindOption(left.front()) : nullptr;
    assert(option && left.front() == all.back() && option->TakesArgument() &&
           !option->ArgumentOptional());
  } catch (const InvalidValue& invalid) {  // a numeric option's value that is no number
    assert((invalid.option == "--max-workers" || invalid.option == "--randomize") &&
           !ReadDecimal(invalid.value));
  }
  Plugin::Registry& registry = Plugin::registry();
  assert(ListItems(registry.disabledNames) && ListItems(registry.interactiveTags));
  registry.disabledNames.clear();
  registry.interactiveTags.clear();
  return 0;
}
