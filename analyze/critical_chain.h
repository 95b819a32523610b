#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "analyze/boot_profile.h"
#include "analyze/plugin_graph.h"

namespace dawnstep::analyze {

// One step back along the chain: the activation that the previous one
// waited for, and why.
struct ChainLink {
  const Activation* activation;
  std::string tag;          // empty for the first link
  bool preemption = false;  // waited for a preemptive provider of `tag`
};

// The chain of activations that decided when `from` started (or, with an
// empty `from`, when the last activation ended). From each activation it
// steps to the activation of a plugin it waited for (Blockers) that ended
// latest at or before its start; it stops where there is none. Throws
// std::runtime_error when `from` has no activation record.
std::vector<ChainLink> CriticalChain(const BootProfile& profile, const PluginGraph& graph,
                                     const std::string& from);

// One line per link, each indented two blanks deeper than the one before:
// name, " (OUTCOME)", "  start +S ms  took D ms" (S counted from `origin`),
// then for every link but the first "  provides 'TAG'" or "  preemptive
// provider of 'TAG'".
void WriteCriticalChain(const std::vector<ChainLink>& chain, Micros origin,
                        const std::function<std::string(const std::string&)>& outcomeOf,
                        std::ostream& out);

// The chain first to last (the reverse of the listing), as an array of
// {plugin, offset_us, duration_us}.
nlohmann::json CriticalChainJson(const std::vector<ChainLink>& chain, Micros origin);

}  // namespace dawnstep::analyze
