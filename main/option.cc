#include "main/option.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

Option::Option(const std::vector<std::string>& names, std::string argument, std::string help)
    : names(names.begin(), names.end()), argument(std::move(argument)), help(std::move(help)) {}

namespace {

const std::string kNoArgument;

}  // namespace

const Option kOptions[13] = {
    {{"-h", "--help"}, kNoArgument, "show this help message\n"},
    {{"--interactive"},
     "[tag,...]",
     "prompts before activating a plugin, allowing\n"
     "plugins to be skipped, executed, or to fall to a\n"
     "troubleshooting shell. Tags specify the requirements\n"
     "for interactive mode to function (e.g. 'usb')\n"},
    {{"--dry"},
     kNoArgument,
     "dry run; do not execute anything, but show the operations\n"
     "that would be performed\n"},
    {{"--disable-preemptive-plugins"},
     kNoArgument,
     "disable preemptive plugins during activation\n"},
    {{"--disable"},
     "<plugin|tag>[,<plugin|tag>]",
     "a comma separated list of plugins or provide tags to be\n"
     "disabled during execution\n"},
    {{"--requires"}, "[tag]", "list plugins that require given tag\n"},
    {{"--provides"}, "[tag]", "list plugins that provide given tag\n"},
    {{"--quiet"}, kNoArgument, "do not log any hvkernel messages\n"},
    {{"--time-ops"}, kNoArgument, "for JSON plugins, record times for each orvocli\n"},
    {{"--max-workers"}, "n", "limit the number of spawned workers\n"},
    {{"--plugin"},
     "<plugin>[,...]",
     "list of plugins to execute, must be full name (or path)\n"
     "of plugin file\n"},
    {{"--tags"}, kNoArgument, "list all barrier tags\n"},
    {{"--randomize"},
     "[seed]",
     "randomize the activation order of plugins, or specify a\n"
     "fixed seed for reproducibility (only useful for testing)\n"},
};

const Option* FindOption(const std::string& name) {
  for (const Option& option : kOptions) {
    if (option.names.count(name) != 0) return &option;
  }
  return nullptr;
}

namespace {

// The names and the argument, as the usage text shows them.
std::string Head(const Option& option) {
  std::string head;
  for (const std::string& name : option.names) {
    if (!head.empty()) head += ',';
    head += name;
  }
  if (option.TakesArgument()) head += ' ' + option.argument;
  return head;
}

// With tab stops every 8 columns, every help line starts in column 17.
const char* FirstSeparator(int width) {
  if (width <= 7) return "\t\t";
  if (width <= 15) return "\t";
  return "\n\t\t";
}

}  // namespace

void WriteUsage(std::ostream& out) {
  for (const Option& option : kOptions) {
    std::string head = Head(option);
    out << head;
    const char* separator = FirstSeparator(static_cast<int>(head.size()));
    std::istringstream help(option.help);
    for (std::string line; std::getline(help, line);) {
      out << separator << line << '\n';
      separator = "\t\t";
    }
  }
  out.flush();
}

void Usage(int status) {
  WriteUsage(std::cerr);
  std::exit(status);
}
