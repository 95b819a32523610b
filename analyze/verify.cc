#include "analyze/verify.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "json/json_plugin.h"
#include "platform/tolvar/option_parser.h"

namespace dawnstep::analyze {
namespace {

// A file the loader cannot read gets the system's reason, not a parse error.
std::string Unreadable(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return strerror(errno);
  if (S_ISDIR(info.st_mode)) return strerror(EISDIR);
  return "";
}

// dlopen searches the library path for a name without a slash; a file
// named on the command line is meant relative to here.
std::string LoadablePath(const std::string& path) {
  return path.find('/') == std::string::npos ? "./" + path : path;
}

std::string FileOf(const Findings& findings, const std::string& plugin) {
  auto found = findings.files.find(plugin);
  return found != findings.files.end() ? found->second : "(built in)";
}

void UnprovidedTags(const PluginGraph& graph, Findings& findings) {
  for (const PluginInfo& plugin : graph.plugins()) {
    for (const std::string& tag : plugin.requires_) {
      if (!PluginGraph::IsKindTag(tag) && graph.ProvidersOf(tag).empty()) {
        findings.warnings.push_back({FileOf(findings, plugin.name),
                                     "plugin '" + plugin.name + "' requires tag '" + tag +
                                         "', which no plugin provides"});
      }
    }
  }
}

// Where nlohmann's parser stopped, as "line L, column C" of the file.
std::string SyntaxErrorPlace(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string content = text.str();
  try {
    nlohmann::json parsed = nlohmann::json::parse(content);
    return "";
  } catch (const nlohmann::json::parse_error& e) {
    size_t end = std::min(e.byte == 0 ? 0 : e.byte - 1, content.size());
    size_t line = 1 + std::count(content.begin(), content.begin() + end, '\n');
    size_t lineStart = content.rfind('\n', end == 0 ? 0 : end - 1);
    size_t column = end - (lineStart == std::string::npos || end == 0 ? 0 : lineStart + 1) + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
  } catch (const std::exception&) {
  }
  return "";
}

// The loader's message, after where in the file it failed: the member of
// the wrong kind as the file spells it, or where the JSON syntax breaks.
std::string LoadFailure(const std::string& path, const std::exception& failure) {
  auto wrongKind = dynamic_cast<const JsonException*>(&failure);
  if (wrongKind != nullptr && !wrongKind->member.empty()) {
    return wrongKind->member + ": " + failure.what();
  }
  std::string place = path.ends_with(".json") ? SyntaxErrorPlace(path) : "";
  if (place.empty()) return failure.what();
  return failure.what() + (" (JSON syntax error at " + place + ")");
}

// Strongly connected components of the waits-for graph (Tarjan).
class Components {
 public:
  explicit Components(const PluginGraph& graph)
      : graph(graph), index(graph.plugins().size(), -1), low(index), onStack(index.size()) {
    for (size_t v = 0; v < index.size(); ++v) {
      if (index[v] < 0) Visit(v);
    }
  }
  std::vector<std::vector<size_t>> found;

 private:
  void Visit(size_t v) {
    index[v] = low[v] = next++;
    stack.push_back(v);
    onStack[v] = true;
    for (size_t w : Requirements(graph, v)) {
      if (index[w] < 0) {
        Visit(w);
        low[v] = std::min(low[v], low[w]);
      } else if (onStack[w]) {
        low[v] = std::min(low[v], index[w]);
      }
    }
    if (low[v] != index[v]) return;
    std::vector<size_t> component;
    size_t w;
    do {
      w = stack.back();
      stack.pop_back();
      onStack[w] = false;
      component.push_back(w);
    } while (w != v);
    std::sort(component.begin(), component.end());
    found.push_back(component);
  }

  static std::vector<size_t> Requirements(const PluginGraph& graph, size_t v) {
    std::vector<size_t> targets;
    for (const Blocker& blocker : graph.BlockersOf(v)) {
      if (!blocker.preemption) targets.push_back(blocker.plugin);
    }
    return targets;
  }

  const PluginGraph& graph;
  std::vector<int> index, low;
  std::vector<bool> onStack;
  std::vector<size_t> stack;
  int next = 0;
};

// The shortest requirement chain from `start` back to itself inside
// `component` (breadth first, in blocker order), as an error message.
std::string CycleMessage(const PluginGraph& graph, const std::vector<size_t>& component) {
  size_t start = component.front();
  std::map<size_t, Blocker> reachedBy;  // node -> the step that reached it first
  std::deque<size_t> queue{start};
  while (!queue.empty() && reachedBy.count(start) == 0) {
    size_t v = queue.front();
    queue.pop_front();
    for (const Blocker& blocker : graph.BlockersOf(v)) {
      size_t w = blocker.plugin;
      if (blocker.preemption || reachedBy.count(w) != 0 ||
          !std::binary_search(component.begin(), component.end(), w)) {
        continue;
      }
      reachedBy.emplace(w, Blocker{v, blocker.tag, false});
      queue.push_back(w);
    }
  }
  // Walk back from start to start; each step says who requires what from whom.
  std::vector<std::string> steps;
  size_t node = start;
  do {
    const Blocker& step = reachedBy.at(node);
    steps.push_back(graph.plugins()[step.plugin].name + " requires '" + step.tag + "' from " +
                    graph.plugins()[node].name);
    node = step.plugin;
  } while (node != start);
  std::string warning = "requirement cycle: ";
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    warning += (step == steps.rbegin() ? "" : ", ") + *step;
  }
  return warning;
}

bool InCycle(const PluginGraph& graph, const std::vector<size_t>& component) {
  if (component.size() > 1) return true;
  for (const Blocker& blocker : graph.BlockersOf(component.front())) {
    if (!blocker.preemption && blocker.plugin == component.front()) return true;
  }
  return false;
}

void Cycles(const PluginGraph& graph, Findings& findings) {
  std::vector<std::vector<size_t>> cycles;
  for (const std::vector<size_t>& component : Components(graph).found) {
    if (InCycle(graph, component)) cycles.push_back(component);
  }
  std::sort(cycles.begin(), cycles.end());
  for (const std::vector<size_t>& cycle : cycles) {
    findings.errors.push_back({FileOf(findings, graph.plugins()[cycle.front()].name),
                               CycleMessage(graph, cycle)});
  }
}

void RivalPreemptiveProviders(const PluginGraph& graph, Findings& findings) {
  std::map<std::string, std::vector<size_t>> preemptive;
  const std::vector<PluginInfo>& plugins = graph.plugins();
  for (size_t i = 0; i < plugins.size(); ++i) {
    if (!plugins[i].preemptiveProvider) continue;
    for (const std::string& tag : plugins[i].provides) {
      if (!PluginGraph::IsKindTag(tag)) preemptive[tag].push_back(i);
    }
  }
  for (const auto& [tag, providers] : preemptive) {
    if (providers.size() < 2) continue;
    std::string names;
    for (size_t provider : providers) names += (names.empty() ? "" : ", ") + plugins[provider].name;
    findings.errors.push_back({FileOf(findings, plugins[providers.front()].name),
                               "tag '" + tag + "' has " + std::to_string(providers.size()) +
                                   " preemptive providers, which hold each other back: " + names});
  }
}

void CheckLines(const std::string& plugin, const char* operation,
                const std::vector<std::string>& lines, const Tolvar::AutoCli::Dispatcher& commands,
                Findings& findings) {
  for (const std::string& line : lines) {
    Tolvar::AutoCli::OptionParser parser;
    if (parser.ParseString(line)) continue;  // blank or a comment: nothing to run
    std::string head = "plugin '" + plugin + "' " + operation + " command '" + line + "' ";
    for (const std::string& error : parser.GetParseErrors()) {
      findings.errors.push_back({FileOf(findings, plugin), head + "does not parse: " + error});
    }
    if (!parser.GetParseErrors().empty()) continue;
    for (const std::string& error :
         commands.Check(parser.GetCommandPath(), parser.GetCommandParameters())) {
      findings.errors.push_back({FileOf(findings, plugin), head + "is refused: " + error});
    }
  }
}

nlohmann::json FindingList(const std::vector<Finding>& list) {
  nlohmann::json array = nlohmann::json::array();
  for (const Finding& finding : list) {
    array.push_back({{"file", finding.file}, {"message", finding.message}});
  }
  return array;
}

std::string Counted(size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

void LoadPluginFiles(const std::vector<std::string>& paths, Findings& findings) {
  for (const std::string& path : paths) {
    std::string reason = Unreadable(path);
    if (reason.empty()) {
      try {
        Plugin::LoadPlugin(LoadablePath(path));
        findings.files[Plugin::registry().pendingPlugins.back()->name] = path;
      } catch (const std::exception& e) {
        reason = LoadFailure(path, e);
      }
    }
    if (!reason.empty()) findings.errors.push_back({path, reason, true});
  }
}

void AddPluginFindings(const PluginGraph& graph, Findings& findings) {
  UnprovidedTags(graph, findings);
  Cycles(graph, findings);
  RivalPreemptiveProviders(graph, findings);
}

std::vector<PluginCommands> RegisteredCommands() {
  std::vector<PluginCommands> found;
  for (const Plugin* plugin : Plugin::registry().pendingPlugins) {
    if (auto jsonPlugin = dynamic_cast<const JsonPlugin*>(plugin)) {
      found.push_back(
          {jsonPlugin->name, jsonPlugin->startCommands, jsonPlugin->hostProfileCommands});
    }
  }
  return found;
}

void AddCommandFindings(const std::vector<PluginCommands>& plugins,
                        const Tolvar::AutoCli::Dispatcher& commands, Findings& findings) {
  for (const PluginCommands& plugin : plugins) {
    CheckLines(plugin.plugin, "start", plugin.start, commands, findings);
    CheckLines(plugin.plugin, "apply_host_profile", plugin.hostProfile, commands, findings);
  }
}

void WriteFindings(const Findings& findings, size_t fileCount, std::ostream& out) {
  for (const Finding& error : findings.errors) {
    if (error.unloaded) {
      out << "Skipping " << error.file << ": " << error.message << '\n';
    } else {
      out << "error: " << error.message << '\n';
    }
  }
  for (const Finding& warning : findings.warnings) out << "warning: " << warning.message << '\n';
  out << Counted(fileCount, "file") << " checked: " << Counted(findings.errors.size(), "error")
      << ", " << Counted(findings.warnings.size(), "warning") << '\n';
}

nlohmann::json FindingsJson(const Findings& findings) {
  return {{"errors", FindingList(findings.errors)}, {"warnings", FindingList(findings.warnings)}};
}

}  // namespace dawnstep::analyze
