// A management command line splits into a command path and parameters, or
// into known parse errors; a clean split splits the same way again when its
// words are quoted and joined.
#include "platform/tolvar/option_parser.h"
#include "tests/fuzz/fuzz_support.h"

using dawnstep::fuzzing::Require;
using Tolvar::AutoCli::OptionParser;

// Single quotes keep everything but a single quote: closed, escaped, reopened.
static std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One parser for every input, as a dispatcher keeps one: each parse must
  // forget the previous line.
  static OptionParser parser;
  const std::string line(reinterpret_cast<const char*>(data), size);
  const size_t first = line.find_first_not_of(" \t");
  const bool blank = first == std::string::npos || line[first] == '#';
  const auto& path = parser.GetCommandPath();
  const auto& parameters = parser.GetCommandParameters();
  if (parser.ParseString(line)) {
    Require(parser.GetParseErrors().empty() && path.empty() && parameters.empty(),
            "nothing to run leaves no result behind");
    return 0;
  }
  Require(!blank, "blank lines and comments are nothing to run");
  for (const std::string& error : parser.GetParseErrors()) {
    Require(error == "Unterminated quote" || error == "Trailing backslash" ||
                error == "Missing command" || error == "Empty option name" ||
                (error.starts_with("Unexpected argument '") && error.ends_with('\'')),
            "every parse error is a known one");
  }
  if (!parser.GetParseErrors().empty()) return 0;
  Require(!path.empty() && !path.front().starts_with('#'), "a clean line names a command");
  std::string rejoined;
  for (const std::string& word : path) {
    Require(!word.starts_with('-'), "no path word is an option");
    rejoined += Quote(word) + " ";
  }
  for (const auto& [name, value] : parameters) {
    Require(!name.empty() && name.find('=') == std::string::npos,
            "a parameter name is non-empty, without '='");
    rejoined += Quote("--" + name + "=" + value) + "\t";
  }
  OptionParser again;
  Require(!again.ParseString(rejoined) && again.GetParseErrors().empty() &&
              again.GetCommandPath() == path && again.GetCommandParameters() == parameters,
          "the quoted and joined words parse the same");
  return 0;
}
