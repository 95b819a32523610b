// A management command line splits into a command path and parameters, or
// into known parse errors; a clean split splits the same way again when its
// words are quoted and joined.
#include "platform/tolvar/option_parser.h"
#include "tests/fuzz/fuzz_support.h"

// Single quotes keep everything but a single quote: closed, escaped, reopened.
static std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One parser for every input, as a dispatcher keeps one: each parse must forget the last.
  static Tolvar::AutoCli::OptionParser parser;
  const std::string line(reinterpret_cast<const char*>(data), size);
  const size_t first = line.find_first_not_of(" \t");
  const bool blank = first == std::string::npos || line[first] == '#';
  const auto& path = parser.GetCommandPath();
  const auto& parameters = parser.GetCommandParameters();
  const auto& errors = parser.GetParseErrors();
  if (parser.ParseString(line)) {  // nothing to run, and nothing left behind
    REQUIRE(errors.empty() && path.empty() && parameters.empty());
    return 0;
  }
  REQUIRE(!blank);
  for (const std::string& e : errors) {
    REQUIRE(e == "Unterminated quote" || e == "Trailing backslash" || e == "Missing command" ||
            e == "Empty option name" ||
            (e.starts_with("Unexpected argument '") && e.ends_with('\'')));
  }
  if (!errors.empty()) return 0;
  REQUIRE(!path.empty() && !path.front().starts_with('#'));
  std::string rejoined;
  for (const std::string& word : path) {
    REQUIRE(!word.starts_with('-'));
    rejoined += Quote(word) + " ";
  }
  for (const auto& [name, value] : parameters) {
    REQUIRE(!name.empty() && name.find('=') == std::string::npos);
    rejoined += Quote("--" + name + "=" + value) + "\t";
  }
  Tolvar::AutoCli::OptionParser again;
  REQUIRE(!again.ParseString(rejoined) && again.GetParseErrors().empty());
  REQUIRE(again.GetCommandPath() == path && again.GetCommandParameters() == parameters);
  return 0;
}
