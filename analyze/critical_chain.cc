#include "analyze/critical_chain.h"

#include <map>
#include <optional>
#include <set>
#include <stdexcept>

namespace dawnstep::analyze {
namespace {

using RecordsByName = std::map<std::string, std::vector<const Activation*>>;

// Later end wins; then the name, then file order, so the answer is stable.
bool Later(const Activation* a, const Activation* b) {
  if (a->end != b->end) return a->end > b->end;
  if (a->name != b->name) return a->name < b->name;
  return a < b;
}

const Activation* LastFinished(const std::vector<const Activation*>& records) {
  const Activation* last = nullptr;
  for (const Activation* record : records) {
    if (last == nullptr || Later(record, last)) last = record;
  }
  return last;
}

const Activation* FirstLink(const BootProfile& profile, const RecordsByName& byName,
                            const std::string& from) {
  if (from.empty()) {
    std::vector<const Activation*> all;
    for (const Activation& record : profile.activations) all.push_back(&record);
    return LastFinished(all);
  }
  auto named = byName.find(from);
  if (named == byName.end()) {
    throw std::runtime_error("no activation of '" + from + "' in the profile");
  }
  return LastFinished(named->second);
}

// The latest-ending activation, among those `current` waited for.
std::optional<ChainLink> NextLink(const Activation& current, const PluginGraph& graph,
                                  const RecordsByName& byName,
                                  const std::set<const Activation*>& seen) {
  std::optional<ChainLink> best;
  for (size_t plugin : graph.Named(current.name)) {
    for (const Blocker& blocker : graph.BlockersOf(plugin)) {
      auto records = byName.find(graph.plugins()[blocker.plugin].name);
      if (records == byName.end()) continue;
      for (const Activation* record : records->second) {
        if (record->end > current.start || seen.count(record) != 0) continue;
        if (!best || Later(record, best->activation)) {
          best = ChainLink{record, blocker.tag, blocker.preemption};
        }
      }
    }
  }
  return best;
}

}  // namespace

std::vector<ChainLink> CriticalChain(const BootProfile& profile, const PluginGraph& graph,
                                     const std::string& from) {
  RecordsByName byName;
  for (const Activation& record : profile.activations) byName[record.name].push_back(&record);
  std::vector<ChainLink> chain;
  const Activation* first = FirstLink(profile, byName, from);
  if (first == nullptr) return chain;
  chain.push_back({first, "", false});
  // Zero-length records can touch each other both ways; never revisit.
  std::set<const Activation*> seen{first};
  while (std::optional<ChainLink> next = NextLink(*chain.back().activation, graph, byName, seen)) {
    seen.insert(next->activation);
    chain.push_back(std::move(*next));
  }
  return chain;
}

void WriteCriticalChain(const std::vector<ChainLink>& chain, Micros origin,
                        const std::function<std::string(const std::string&)>& outcomeOf,
                        std::ostream& out) {
  std::string indent;
  for (const ChainLink& link : chain) {
    Micros offset = link.activation->start - origin;
    out << indent << link.activation->name << " (" << outcomeOf(link.activation->name)
        << ")  start " << (offset < 0 ? "" : "+")
        << FormatMillis(offset) << " ms  took " << FormatMillis(link.activation->Duration())
        << " ms";
    if (!link.tag.empty()) {
      out << (link.preemption ? "  preemptive provider of '" : "  provides '") << link.tag << "'";
    }
    out << '\n';
    indent += "  ";
  }
}

nlohmann::json CriticalChainJson(const std::vector<ChainLink>& chain, Micros origin) {
  nlohmann::json links = nlohmann::json::array();
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
    links.push_back({{"plugin", link->activation->name},
                     {"offset_us", link->activation->start - origin},
                     {"duration_us", link->activation->Duration()}});
  }
  return links;
}

}  // namespace dawnstep::analyze
