#include "analyze/dot.h"

#include <map>

#include "analyze/text.h"

namespace dawnstep::analyze {

std::string DotQuote(const std::string& text) {
  std::string quoted = "\"";
  for (char c : ValidUtf8(text)) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

namespace {

// Plugins within `options.depth` requirement steps of the plugins named
// `options.around`, either way; all plugins without --around.
std::vector<bool> Kept(const PluginGraph& graph, const DotOptions& options) {
  size_t count = graph.plugins().size();
  if (options.around.empty()) return std::vector<bool>(count, true);
  std::vector<std::vector<size_t>> neighbours(count);
  for (size_t i = 0; i < count; ++i) {
    for (const Blocker& blocker : graph.BlockersOf(i)) {
      if (blocker.preemption) continue;
      if (!options.kindTags && PluginGraph::IsKindTag(blocker.tag)) continue;
      neighbours[i].push_back(blocker.plugin);
      neighbours[blocker.plugin].push_back(i);
    }
  }
  std::vector<bool> kept(count, false);
  std::vector<size_t> frontier = graph.Named(options.around);
  for (size_t step = 0; !frontier.empty(); ++step) {
    std::vector<size_t> next;
    for (size_t plugin : frontier) {
      if (kept[plugin]) continue;
      kept[plugin] = true;
      if (step < options.depth) next.insert(next.end(), neighbours[plugin].begin(), neighbours[plugin].end());
    }
    frontier.swap(next);
  }
  return kept;
}

}  // namespace

void WriteDot(const PluginGraph& graph, const DotOptions& options, std::ostream& out) {
  const std::vector<PluginInfo>& plugins = graph.plugins();
  std::vector<bool> kept = Kept(graph, options);
  out << "digraph plugins {\n"
      << "  rankdir=LR;\n"
      << "  node [shape=box];\n";
  for (size_t i = 0; i < plugins.size(); ++i) {
    if (!kept[i]) continue;
    out << "  p" << i << " [label=" << DotQuote(plugins[i].name)
        << (plugins[i].preemptiveProvider ? ", shape=octagon" : "") << "];\n";
  }
  // Unprovided tags, each with the plugins that require it.
  std::map<std::string, std::vector<size_t>> missing;
  for (size_t i = 0; i < plugins.size(); ++i) {
    if (!kept[i]) continue;
    for (const std::string& tag : plugins[i].requires_) {
      if (!options.kindTags && PluginGraph::IsKindTag(tag)) continue;
      std::vector<size_t> providers = graph.ProvidersOf(tag);
      if (providers.empty() && !PluginGraph::IsKindTag(tag)) missing[tag].push_back(i);
      for (size_t provider : providers) {
        if (!kept[provider]) continue;
        out << "  p" << provider << " -> p" << i << " [label=" << DotQuote(tag) << "];\n";
      }
    }
  }
  size_t index = 0;
  for (const auto& [tag, requirers] : missing) {
    out << "  m" << index << " [label=" << DotQuote(tag + " (no provider)")
        << ", shape=plaintext, fontcolor=red];\n";
    for (size_t requirer : requirers) {
      out << "  m" << index << " -> p" << requirer << " [label=" << DotQuote(tag)
          << ", style=dashed];\n";
    }
    ++index;
  }
  out << "}\n";
}

}  // namespace dawnstep::analyze
