// dawnstep-analyze: reads what a boot left behind (the timing profile) and
// the installed plugins, and reports on them. It never activates a plugin
// and writes nothing but its own output.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "analyze/blame.h"
#include "analyze/boot_profile.h"
#include "analyze/critical_chain.h"
#include "analyze/dot.h"
#include "analyze/plot.h"
#include "analyze/plugin_graph.h"
#include "analyze/stdout_diversion.h"
#include "analyze/verify.h"
#include "cli/orvocli.h"
#include "log/hkn_buffer.h"
#include "platform/root.h"
#include "plugin/plugin.h"

using namespace dawnstep;
using namespace dawnstep::analyze;

namespace {

const char kProgram[] = "dawnstep-analyze";
const int kUsageError = 2;

const char kUsage[] =
    "Usage: dawnstep-analyze COMMAND [OPTION...] [ARGUMENT...]\n"
    "\n"
    "Reports on the last boot's activations and on the installed plugins.\n"
    "Reads files only: activates nothing and writes nothing but its output.\n"
    "\n"
    "Commands:\n"
    "  blame                    activations of the last boot, longest first\n"
    "  critical-chain [PLUGIN]  the chain of plugins that decided when activation\n"
    "                           ended (or when PLUGIN started)\n"
    "  plot                     an SVG timeline of the last boot\n"
    "  dot                      the plugin dependency graph in Graphviz dot\n"
    "  verify [FILE...]         check plugin files without activating them\n"
    "  tags                     the tags the installed plugins provide or require\n"
    "\n"
    "Run 'dawnstep-analyze COMMAND --help' for one command's options.\n";

// A command line error: reported with the command's usage hint.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Command {
  const char* help;
  bool takesLog;       // accepts --log FILE
  size_t maxOperands;  // SIZE_MAX: any number
  std::function<int(const std::string& log, const std::vector<std::string>& operands)> run;
};

std::string DefaultLog() { return RootPath("/var/log/sysboot.log"); }

BootProfile ReadProfile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path + ": " + strerror(errno));
  BootProfile profile = ReadBootProfile(in);
  if (in.bad()) throw std::runtime_error("cannot read " + path + ": " + strerror(errno));
  for (const std::string& line : profile.malformed) {
    std::cerr << kProgram << ": " << path << ": ignoring unrecognised " << line << '\n';
  }
  if (profile.activations.empty()) {
    std::cerr << kProgram << ": " << path << ": no activation records\n";
  }
  return profile;
}

// The installed plugins, loaded as dawnstep loads them; files that fail
// are reported by the loader on standard error.
PluginGraph InstalledPlugins() {
  StdoutDiversion diversion;
  Plugin::LoadPlugins({}, 0);
  return PluginGraph(RegisteredPlugins());
}

std::string Operand(const std::vector<std::string>& operands) {
  return operands.empty() ? "" : operands.front();
}

int Blame(const std::string& log, const std::vector<std::string>&) {
  WriteBlame(ReadProfile(log), std::cout);
  return 0;
}

int CriticalChainCommand(const std::string& log, const std::vector<std::string>& operands) {
  BootProfile profile = ReadProfile(log);
  PluginGraph graph = InstalledPlugins();
  std::vector<ChainLink> chain;
  try {
    chain = CriticalChain(profile, graph, Operand(operands));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(log + ": " + e.what());
  }
  WriteCriticalChain(chain, profile.Origin(), std::cout);
  return 0;
}

int Plot(const std::string& log, const std::vector<std::string>&) {
  BootProfile profile = ReadProfile(log);
  PluginGraph graph = InstalledPlugins();
  WritePlot(profile, CriticalChain(profile, graph, ""), std::cout);
  return 0;
}

int Dot(const std::string&, const std::vector<std::string>&) {
  WriteDot(InstalledPlugins(), std::cout);
  return 0;
}

int Tags(const std::string&, const std::vector<std::string>&) {
  for (const std::string& tag : InstalledPlugins().UsedTags()) std::cout << tag << '\n';
  return 0;
}

std::string Counted(size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Without files, the installed set as dawnstep loads it (the built-in
// plugin too); with files, those files alone, as `dawnstep --plugin` would.
int Verify(const std::string&, const std::vector<std::string>& operands) {
  std::vector<std::string> files = operands;
  std::ostringstream skipped;
  size_t errors;
  {
    StdoutDiversion diversion;
    if (files.empty()) {
      Plugin::LoadBuiltins();
      files = Plugin::InstalledPluginFiles();
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    errors = LoadPluginFiles(files, skipped);
  }
  std::cout << skipped.str();
  std::vector<std::string> warnings = PluginWarnings(PluginGraph(RegisteredPlugins()));
  std::vector<PluginCommands> commandLines = RegisteredCommands();
  if (!commandLines.empty()) {
    // The dispatcher every JSON plugin shares, with the descriptors it read.
    std::vector<std::string> more = CommandWarnings(commandLines, *Orvocli::SharedDispatcher());
    warnings.insert(warnings.end(), more.begin(), more.end());
  }
  for (const std::string& warning : warnings) std::cout << warning << '\n';
  std::cout << Counted(files.size(), "file") << " checked: " << Counted(errors, "error") << ", "
            << Counted(warnings.size(), "warning") << '\n';
  return errors != 0 ? 2 : warnings.empty() ? 0 : 1;
}

const std::map<std::string, Command>& Commands() {
  static const std::map<std::string, Command> commands = {
      {"blame",
       {"Usage: dawnstep-analyze blame [--log FILE]\n"
        "\n"
        "Lists the activations of the last boot, longest first: the duration in\n"
        "milliseconds, right-aligned, then the plugin's name. Equal durations are\n"
        "ordered by name.\n",
        true, 0, Blame}},
      {"critical-chain",
       {"Usage: dawnstep-analyze critical-chain [--log FILE] [PLUGIN]\n"
        "\n"
        "Shows the chain of activations that decided when activation ended (or\n"
        "when PLUGIN started): from the last activation to finish back through the\n"
        "plugin it waited for that finished latest, and so on. Each line shows the\n"
        "start, counted from the profile's Start, and the duration, indented one\n"
        "step per link, and the tag that links it to the line above.\n",
        true, 1, CriticalChainCommand}},
      {"plot",
       {"Usage: dawnstep-analyze plot [--log FILE] > boot.svg\n"
        "\n"
        "Writes an SVG timeline of the last boot to standard output: one bar per\n"
        "activation, the critical chain in red.\n",
        true, 0, Plot}},
      {"dot",
       {"Usage: dawnstep-analyze dot > plugins.dot\n"
        "\n"
        "Writes the dependency graph of the installed plugins in the Graphviz dot\n"
        "language: an edge from provider to requirer for every required tag,\n"
        "preemptive providers drawn as octagons, unprovided tags in red.\n",
        false, 0, Dot}},
      {"verify",
       {"Usage: dawnstep-analyze verify [FILE...]\n"
        "\n"
        "Loads plugin files without activating them (the installed plugins when no\n"
        "FILE is given) and reports files that fail to load, required tags that no\n"
        "plugin provides, requirement cycles, tags with two preemptive providers,\n"
        "JSON plugin command lines that do not parse and commands that no command\n"
        "descriptor defines. Native plugin libraries are loaded, so their\n"
        "initialisers run; no entry point and no command is called.\n"
        "Exit status: 0 clean, 1 warnings, 2 errors.\n",
        false, SIZE_MAX, Verify}},
      {"tags",
       {"Usage: dawnstep-analyze tags\n"
        "\n"
        "Lists every tag that an installed plugin provides or requires, kind tags\n"
        "excepted, one per line in byte order.\n",
        false, 0, Tags}},
  };
  return commands;
}

struct Invocation {
  std::string log;
  std::vector<std::string> operands;
  bool help = false;
};

Invocation ReadArguments(const Command& command, const std::vector<std::string>& args) {
  Invocation invocation{DefaultLog(), {}, false};
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "-h" || arg == "--help")) {
      invocation.help = true;
    } else if (options && command.takesLog && arg == "--log") {
      if (i + 1 == args.size()) throw UsageError("option --log needs a file");
      invocation.log = args[++i];
    } else if (options && command.takesLog && arg.starts_with("--log=")) {
      invocation.log = arg.substr(6);
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else {
      invocation.operands.push_back(arg);
    }
  }
  if (invocation.operands.size() > command.maxOperands) {
    throw UsageError("unexpected argument " + invocation.operands[command.maxOperands]);
  }
  return invocation;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::cerr << kUsage;
    return kUsageError;
  }
  if (args[0] == "-h" || args[0] == "--help") {
    std::cout << kUsage;
    return 0;
  }
  auto command = Commands().find(args[0]);
  if (command == Commands().end()) {
    std::cerr << kProgram << ": unknown command '" << args[0] << "'\n"
              << "Run 'dawnstep-analyze --help' for the list of commands.\n";
    return kUsageError;
  }
  Invocation invocation;
  try {
    invocation = ReadArguments(command->second, {args.begin() + 1, args.end()});
  } catch (const UsageError& e) {
    std::cerr << kProgram << " " << args[0] << ": " << e.what() << "\n"
              << "Run 'dawnstep-analyze " << args[0] << " --help' for its usage.\n";
    return kUsageError;
  }
  if (invocation.help) {
    std::cout << command->second.help;
    return 0;
  }
  return command->second.run(invocation.log, invocation.operands);
}

}  // namespace

int main(int argc, char** argv) {
  // Loading reports failed plugin files on the kernel log too; an analysis
  // is no boot and must leave the boot's records alone.
  DeactivateKernelLog();
  int status;
  try {
    status = Run({argv + 1, argv + argc});
  } catch (const std::exception& e) {
    std::cerr << kProgram << ": " << e.what() << '\n';
    status = 1;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << kProgram << ": cannot write standard output\n";
    return 1;
  }
  return status;
}
