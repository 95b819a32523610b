#pragma once

#include <exception>
#include <ostream>
#include <set>
#include <string>
#include <vector>

// One command-line option: the names it answers to, the argument it takes
// and its help text.
class Option {
 public:
  Option(const std::vector<std::string>& names, std::string argument, std::string help);

  // An empty argument text means no argument; a leading '[' an optional one.
  bool TakesArgument() const { return !argument.empty(); }
  bool ArgumentOptional() const { return argument.starts_with('['); }

  std::set<std::string> names;
  std::string argument;
  std::string help;
};

// Thrown by the command-line reader. They carry nothing: the offending word
// is left at the front of the argument queue. Not derived publicly, so a
// handler for standard exceptions lets them pass.
class MissingArg : std::exception {};
class InvalidArg : std::exception {};

// Every option the program knows, in the order the usage text lists them.
extern const Option kOptions[13];

// The option one of whose names is `name`, or null.
const Option* FindOption(const std::string& name);

// Writes the usage text: every option with its help, help lines aligned.
void WriteUsage(std::ostream& out);

// Writes the usage text to standard error and exits with `status`.
[[noreturn]] void Usage(int status);
