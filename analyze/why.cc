#include "analyze/why.h"

#include <regex>
#include <set>
#include <sstream>

#include "analyze/critical_chain.h"

namespace dawnstep::analyze {
namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string Millis(Micros micros) { return FormatMillis(micros) + " ms"; }

class NeverStarted {
 public:
  NeverStarted(const Boot& boot, std::vector<std::string>& reasons) : boot(boot), reasons(reasons) {}

  // Follows what `plugin` waited for until a cause shows; true when found.
  bool Explain(size_t plugin) {
    const std::vector<PluginInfo>& plugins = boot.graph.plugins();
    const std::string& name = plugins[plugin].name;
    for (size_t i = 0; i < path.size(); ++i) {
      if (path[i] != plugin) continue;
      std::string loop = "requirement loop: ";
      for (size_t j = i; j < path.size(); ++j) {
        loop += (j == i ? "" : ", ") + plugins[path[j]].name + " waits for " +
                plugins[j + 1 < path.size() ? path[j + 1] : plugin].name;
      }
      reasons.push_back(loop);
      return true;
    }
    path.push_back(plugin);
    for (const Blocker& blocker : boot.graph.BlockersOf(plugin)) {
      const PluginInfo& other = plugins[blocker.plugin];
      const PluginRun* run = boot.Find(other.name);
      if (run == nullptr || run->outcome != Outcome::kNeverStarted) continue;
      if (blocker.plugin == plugin) {
        reasons.push_back(name + " requires " + Quoted(blocker.tag) +
                          ", which it provides itself: it waits for itself");
        return true;
      }
      if (blocker.preemption && plugins[plugin].preemptiveProvider) {
        reasons.push_back(name + " and " + other.name + " are both preemptive providers of " +
                          Quoted(blocker.tag) + ": each holds the other back");
        return true;
      }
      reasons.push_back(name + (blocker.preemption ? " is held back by preemptive provider "
                                                   : " requires " + Quoted(blocker.tag) +
                                                         " from ") +
                        other.name + (blocker.preemption ? " of " + Quoted(blocker.tag) : "") +
                        ", which never started");
      if (Explain(blocker.plugin)) return true;
      reasons.pop_back();
    }
    path.pop_back();
    return false;
  }

 private:
  const Boot& boot;
  std::vector<std::string>& reasons;
  std::vector<size_t> path;
};

void WhyNeverStarted(const Boot& boot, const PluginRun& run, std::vector<std::string>& reasons) {
  reasons.push_back(run.name + " never started: no outcome record in the last boot");
  auto records = boot.records.plugins.find(run.name);
  if (records != boot.records.plugins.end() && records->second.started) {
    reasons.push_back("it was handed to a worker, but the boot ended before its result came back");
    return;
  }
  if (!boot.records.unmetDependencies) {
    reasons.push_back("the boot did not end in unmet dependencies: it ended before " + run.name +
                      " could start, or " + run.name + " was not loaded then");
    return;
  }
  if (run.installed && NeverStarted(boot, reasons).Explain(*run.installed)) return;
  reasons.push_back(
      "everything it waits for finished: it was disabled and still waiting when the boot "
      "stopped, or the plugin set changed since the boot");
}

void WhyActivated(const Boot& boot, const PluginRun& run, std::vector<std::string>& reasons) {
  if (run.record == nullptr) {
    reasons.push_back(run.name + " activated; the timing profile has no record of it");
    return;
  }
  Micros origin = boot.profile.Origin();
  reasons.push_back(run.name + " activated: started at +" + Millis(run.record->start - origin) +
                    ", took " + Millis(run.record->Duration()));
  std::vector<ChainLink> chain = CriticalChain(boot.profile, boot.graph, run.name);
  if (chain.size() < 2) {
    reasons.push_back("it waited for nothing that ran before it");
    return;
  }
  const ChainLink& last = chain[1];
  reasons.push_back("it waited for " + last.activation->name + " (" +
                    (last.preemption ? "preemptive provider of " : "provides ") +
                    Quoted(last.tag) + "), the last of its requirements to finish, at +" +
                    Millis(last.activation->end - origin) + "; it waited " +
                    Millis(run.record->start - last.activation->start) + " from that one's start");
}

}  // namespace

std::vector<std::string> WhyReasons(const Boot& boot, const PluginRun& run,
                                    const std::vector<std::string>& failureLines) {
  std::vector<std::string> reasons;
  if (!run.outcome) {
    reasons.push_back("the outcome of " + run.name + " is unknown: no node records to read");
    return reasons;
  }
  switch (*run.outcome) {
    case Outcome::kActivated:
      WhyActivated(boot, run, reasons);
      break;
    case Outcome::kFailed:
    case Outcome::kOpportunisticFailed: {
      reasons.push_back(run.name + " failed: its activation reported failure");
      auto records = boot.records.plugins.find(run.name);
      if (records != boot.records.plugins.end()) {
        for (const std::string& alert : records->second.alerts) reasons.push_back("alert: " + alert);
      }
      if (*run.outcome == Outcome::kOpportunisticFailed) {
        reasons.push_back("it is a preemptive provider, tried opportunistically: the plugins it "
                          "held back ran instead");
      }
      reasons.insert(reasons.end(), failureLines.begin(), failureLines.end());
      if (failureLines.empty()) reasons.push_back("its work left no error lines in the logs");
      break;
    }
    case Outcome::kSkipped:
      reasons.push_back(run.name + " was skipped: it was disabled for the boot (--disable or the "
                        "interactive prompt); it waited for its requirements, then was skipped");
      break;
    case Outcome::kPreempted: {
      auto [preemptor, tag] = *boot.Preemptor(run);
      reasons.push_back(run.name + " was preempted: preemptive provider " +
                        boot.graph.plugins()[preemptor].name + " of " + Quoted(tag) +
                        " activated and took its place, so it never started");
      break;
    }
    case Outcome::kOpportunisticSkipped:
      reasons.push_back(run.name + " is a preemptive provider and preemptive plugins were disabled "
                        "for the boot (--disable-preemptive-plugins): the plugins it held back "
                        "ran instead");
      break;
    case Outcome::kNeverStarted:
      WhyNeverStarted(boot, run, reasons);
      break;
  }
  return reasons;
}

std::vector<std::string> FailureLines(const std::string& logText, const std::string& plugin,
                                      const std::string& since) {
  // Emergency to error: the levels failures are logged at.
  static const std::regex kFailureLevel(" (Em|Al|Cr|Er)\\([0-9]+\\) ");
  // Process log lines are stamped to the millisecond, node records finer.
  std::string from = since.substr(0, std::min<size_t>(since.size(), 23));
  std::vector<std::string> found;
  std::string previous;
  std::istringstream in(logText);
  const std::string mentions[] = {"]: " + plugin + ": ", "Plugin " + plugin + " "};
  for (std::string line; std::getline(in, line);) {
    bool error = std::regex_search(line, kFailureLevel) && line.substr(0, from.size()) >= from;
    bool named = false;
    for (const std::string& mention : mentions) named = named || line.find(mention) != std::string::npos;
    if (error && named) {
      if (!previous.empty() && (found.empty() || found.back() != previous)) found.push_back(previous);
      found.push_back(line);
      previous.clear();
    } else {
      previous = error && line.find("Method invocation failed") != std::string::npos ? line : "";
    }
  }
  return found;
}

}  // namespace dawnstep::analyze
