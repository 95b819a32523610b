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

void WriteDot(const PluginGraph& graph, std::ostream& out) {
  const std::vector<PluginInfo>& plugins = graph.plugins();
  out << "digraph plugins {\n"
      << "  rankdir=LR;\n"
      << "  node [shape=box];\n";
  for (size_t i = 0; i < plugins.size(); ++i) {
    out << "  p" << i << " [label=" << DotQuote(plugins[i].name)
        << (plugins[i].preemptiveProvider ? ", shape=octagon" : "") << "];\n";
  }
  // Unprovided tags, each with the plugins that require it.
  std::map<std::string, std::vector<size_t>> missing;
  for (size_t i = 0; i < plugins.size(); ++i) {
    for (const std::string& tag : plugins[i].requires_) {
      std::vector<size_t> providers = graph.ProvidersOf(tag);
      if (providers.empty() && !PluginGraph::IsKindTag(tag)) missing[tag].push_back(i);
      for (size_t provider : providers) {
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
