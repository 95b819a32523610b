#include "analyze/boot_records.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

namespace dawnstep::analyze {
namespace {

const char kPrefix[] = "Dawnstep plugin ";
const char kStarting[] = "Activating Dawnstep plugin ";
const char kBootStart[] = "Activating Dawnstep Plugins: ";
const char kUnmet[] = "Dawnstep has unmet dependencies!";

// Longer endings first: " opportunistic activation failed." also ends in
// " activation failed.".
const std::pair<const char*, std::optional<Outcome>> kEndings[] = {
    {" opportunistic activation failed.", Outcome::kOpportunisticFailed},
    {" opportunistic skipped.", Outcome::kOpportunisticSkipped},
    {" activation failed.", Outcome::kFailed},
    {" activated.", Outcome::kActivated},
    {" skipped.", std::nullopt},
};

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class Reader {
 public:
  explicit Reader(BootRecords& boot) : boot(boot) {}

  void Take(const std::string& raw, bool alert) {
    std::string text = WithoutLineEnd(raw);
    if (alert && text == kUnmet) {
      boot.unmetDependencies = true;
      awaitingDiagnosis = true;
      return;
    }
    if (text.starts_with(kStarting) && text.ends_with(".")) {
      Plugin(text.substr(sizeof kStarting - 1, text.size() - sizeof kStarting)).started = true;
    } else if (text.starts_with(kPrefix) && Outcome(text)) {
      return;
    } else if (!alert && awaitingDiagnosis) {
      boot.diagnosis = text;
      awaitingDiagnosis = false;
    }
  }

 private:
  PluginRecords& Plugin(const std::string& name) {
    auto [found, added] = boot.plugins.try_emplace(name);
    if (added) boot.order.push_back(name);
    return found->second;
  }

  bool Outcome(const std::string& text) {
    for (const auto& [ending, outcome] : kEndings) {
      if (!text.ends_with(ending)) continue;
      size_t length = text.size() - strlen(ending) - (sizeof kPrefix - 1);
      PluginRecords& plugin = Plugin(text.substr(sizeof kPrefix - 1, length));
      if (outcome) {
        plugin.final = outcome;
      } else {
        ++plugin.skipLines;
      }
      if (outcome == Outcome::kFailed) plugin.alerts.push_back(text);
      return true;
    }
    return false;
  }

  BootRecords& boot;
  bool awaitingDiagnosis = false;
};

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kActivated: return "activated";
    case Outcome::kFailed: return "failed";
    case Outcome::kSkipped: return "skipped";
    case Outcome::kPreempted: return "preempted";
    case Outcome::kOpportunisticFailed: return "opportunistic-failed";
    case Outcome::kOpportunisticSkipped: return "opportunistic-skipped";
    case Outcome::kNeverStarted: return "never-started";
  }
  return "unknown";
}

BootRecords ReadBootRecords(const std::vector<NodeRecord>& log, const std::vector<NodeRecord>& alerts,
                            const std::vector<NodeRecord>& progress) {
  std::string since;
  for (const NodeRecord& record : progress) {
    if (WithoutLineEnd(record.text) == WithoutLineEnd(kBootStart)) since = record.time;
  }
  // (time, alert?, index): stable merge with the system log first at equal times.
  std::vector<std::tuple<std::string, bool, size_t>> merged;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].time >= since) merged.emplace_back(log[i].time, false, i);
  }
  for (size_t i = 0; i < alerts.size(); ++i) {
    if (alerts[i].time >= since) merged.emplace_back(alerts[i].time, true, i);
  }
  std::stable_sort(merged.begin(), merged.end());
  BootRecords boot;
  boot.began = since;
  if (boot.began.empty() && !merged.empty()) boot.began = std::get<0>(merged.front());
  Reader reader(boot);
  for (const auto& [time, alert, index] : merged) {
    reader.Take(alert ? alerts[index].text : log[index].text, alert);
  }
  return boot;
}

std::vector<NodeRecord> ReadNodeFile(const std::string& path, std::string& error) {
  std::vector<NodeRecord> records;
  std::ifstream in(path);
  if (!in) {
    error = path + ": " + strerror(errno);
    return records;
  }
  for (std::string line; std::getline(in, line);) {
    nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (!record.is_object() || !record["time"].is_string() || !record["text"].is_string()) continue;
    records.push_back({record["time"], record["text"]});
  }
  return records;
}

}  // namespace dawnstep::analyze
