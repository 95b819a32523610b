// A management command line splits into a command path and parameters, or
// into parse errors; a line that splits cleanly splits the same way again
// when its words are quoted and joined.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tolvar/option_parser.h"
#include "tests/fuzz/fuzz_support.h"

namespace dawnstep::fuzzing {
namespace {

using Tolvar::AutoCli::OptionParser;

bool IsOption(const std::string& word) { return !word.empty() && word[0] == '-'; }

bool IsNothingToRun(const std::string& line) {
  const size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos || line[first] == '#';
}

bool IsKnownError(const std::string& error) {
  return error == "Unterminated quote" || error == "Trailing backslash" ||
         error == "Missing command" || error == "Empty option name" ||
         (error.starts_with("Unexpected argument '") && error.ends_with('\''));
}

// Single quotes keep everything but a single quote, which is closed,
// escaped and reopened.
std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Rejoin(const OptionParser& parser) {
  std::string line;
  for (const std::string& word : parser.GetCommandPath()) line += Quote(word) + " ";
  for (const auto& [name, value] : parser.GetCommandParameters()) {
    line += Quote("--" + name + "=" + value) + "\t";
  }
  return line;
}

void CheckClean(const OptionParser& parser) {
  Require(!parser.GetCommandPath().empty(), "a clean line names a command");
  Require(!parser.GetCommandPath().front().starts_with('#'), "a comment is nothing to run");
  for (const std::string& word : parser.GetCommandPath()) {
    Require(!IsOption(word), "no path word is an option");
  }
  for (const auto& [name, value] : parser.GetCommandParameters()) {
    Require(!name.empty() && name.find('=') == std::string::npos,
            "a parameter name is non-empty and holds no '='");
  }
  OptionParser again;
  Require(!again.ParseString(Rejoin(parser)), "the rejoined line has something to run");
  Require(again.GetParseErrors().empty(), "the rejoined line parses cleanly");
  Require(again.GetCommandPath() == parser.GetCommandPath(), "the path survives quoting");
  Require(again.GetCommandParameters() == parser.GetCommandParameters(),
          "the parameters survive quoting");
}

}  // namespace
}  // namespace dawnstep::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dawnstep::fuzzing;
  // One parser for every input, as a dispatcher keeps one: each parse must
  // forget the previous line.
  static OptionParser parser;
  const std::string line(reinterpret_cast<const char*>(data), size);
  const bool nothingToRun = parser.ParseString(line);
  Require(nothingToRun || !IsNothingToRun(line), "blank lines and comments are nothing to run");
  if (nothingToRun) {
    Require(parser.GetParseErrors().empty() && parser.GetCommandPath().empty() &&
                parser.GetCommandParameters().empty(),
            "nothing to run leaves no result behind");
    return 0;
  }
  for (const std::string& error : parser.GetParseErrors()) {
    Require(IsKnownError(error), "every parse error is one of the known lines");
  }
  if (parser.GetParseErrors().empty()) CheckClean(parser);
  return 0;
}
