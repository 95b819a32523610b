#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "analyze/plugin_graph.h"
#include "platform/tolvar/dispatcher.h"

namespace dawnstep::analyze {

// One problem found, and the file it is in.
struct Finding {
  std::string file;
  std::string message;
  bool unloaded = false;  // the file failed to load
};

struct Findings {
  std::vector<Finding> errors;    // each stops a file from loading or a boot from ending
  std::vector<Finding> warnings;
  std::map<std::string, std::string> files;  // plugin name -> the file it came from
};

// Loads each plugin file through the plugin loader (which registers it);
// one error per file that fails, with the loader's message (and where a
// JSON syntax error is). Nothing is activated.
void LoadPluginFiles(const std::vector<std::string>& paths, Findings& findings);

// Problems of a plugin set that loading does not catch, in this order:
// warnings for required tags that no plugin provides (plugins in list
// order, tags in byte order; kind tags are never reported); errors for one
// requirement cycle per set of plugins that wait for each other (the chain
// from its first plugin in list order; a plugin requiring its own tag is
// one) and for tags with more than one preemptive provider (byte order).
void AddPluginFindings(const PluginGraph& graph, Findings& findings);

// The management command lines of one JSON plugin, as its activation would
// run them.
struct PluginCommands {
  std::string plugin;
  std::vector<std::string> start;
  std::vector<std::string> hostProfile;  // "apply_host_profile"
};

// The command lines of the registered JSON plugins, in registration order.
std::vector<PluginCommands> RegisteredCommands();

// Command lines that would fail before any handler runs, as errors: one
// per parse error of a line that does not parse, and one per line the
// dispatcher would give for a command it does not define, or for an unknown,
// missing or ill-typed parameter. Plugins in list order, "start" lines
// before "apply_host_profile" lines. Runs nothing.
void AddCommandFindings(const std::vector<PluginCommands>& plugins,
                        const Tolvar::AutoCli::Dispatcher& commands, Findings& findings);

// "Skipping FILE: MESSAGE" for files that failed to load, "error: " and
// "warning: " lines for the rest, then the counts.
void WriteFindings(const Findings& findings, size_t fileCount, std::ostream& out);

// {errors, warnings}, each an array of {file, message}.
nlohmann::json FindingsJson(const Findings& findings);

}  // namespace dawnstep::analyze
