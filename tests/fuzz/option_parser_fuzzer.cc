// A command line splits into a path and parameters or into known parse errors;
// a clean split splits the same way again once its words are quoted and joined.
#undef NDEBUG  // the asserts are the properties under test
#include <cassert>

#include "platform/tolvar/option_parser.h"

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
  const auto& path = parser.GetCommandPath();
  const auto& parameters = parser.GetCommandParameters();
  const auto& errors = parser.GetParseErrors();
  const bool nothingToRun = parser.ParseString(line);  // and then nothing left behind
  assert(!nothingToRun || (errors.empty() && path.empty() && parameters.empty()));
  if (nothingToRun) return 0;
  assert(first != std::string::npos && line[first] != '#');  // blanks, comments: nothing to run
  for (const std::string& e : errors)
    assert(e == "Unterminated quote" || e == "Trailing backslash" || e == "Missing command" ||
           e == "Empty option name" ||
           (e.starts_with("Unexpected argument '") && e.ends_with('\'')));
  if (!errors.empty()) return 0;
  assert(!path.empty() && !path.front().starts_with('#'));
  std::string rejoined;
  for (const std::string& word : path) {
    assert(!word.starts_with('-'));
    rejoined += Quote(word) + " ";
  }
  for (const auto& [name, value] : parameters) {
    assert(!name.empty() && name.find('=') == std::string::npos);
    rejoined += Quote("--" + name + "=" + value) + "\t";
  }
  Tolvar::AutoCli::OptionParser again;
  assert(!again.ParseString(rejoined) && again.GetParseErrors().empty());
  assert(again.GetCommandPath() == path && again.GetCommandParameters() == parameters);
  return 0;
}
