#include "analyze/blame.h"

#include <algorithm>
#include <cstdio>

namespace dawnstep::analyze {
namespace {

std::vector<const PluginRun*> LongestFirst(const Boot& boot) {
  std::vector<const PluginRun*> order;
  for (const PluginRun& run : boot.plugins) order.push_back(&run);
  std::stable_sort(order.begin(), order.end(), [](const PluginRun* a, const PluginRun* b) {
    if ((a->record == nullptr) != (b->record == nullptr)) return b->record == nullptr;
    if (a->record == nullptr) return false;
    if (a->record->Duration() != b->record->Duration()) {
      return a->record->Duration() > b->record->Duration();
    }
    return a->name < b->name;
  });
  return order;
}

}  // namespace

void WriteBlame(const Boot& boot, std::ostream& out) {
  if (boot.records.unmetDependencies) {
    out << "The boot ended in unmet dependencies; never started:";
    for (const PluginRun& run : boot.plugins) {
      if (run.outcome == Outcome::kNeverStarted) out << ' ' << run.name;
    }
    out << '\n';
  }
  for (const PluginRun* run : LongestFirst(boot)) {
    char line[80];
    snprintf(line, sizeof line, "%10s ms  %-21s ",
             run->record != nullptr ? FormatMillis(run->record->Duration()).c_str() : "-",
             OutcomeText(run->outcome).c_str());
    out << line << run->name << '\n';
  }
}

nlohmann::json BlameJson(const Boot& boot) {
  nlohmann::json rows = nlohmann::json::array();
  for (const PluginRun* run : LongestFirst(boot)) {
    nlohmann::json row = {{"plugin", run->name}, {"outcome", OutcomeText(run->outcome)},
                          {"start", nullptr}, {"end", nullptr}, {"duration_us", nullptr}};
    if (run->record != nullptr) {
      row["start"] = FormatProfileTime(run->record->start);
      row["end"] = FormatProfileTime(run->record->end);
      row["duration_us"] = run->record->Duration();
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace dawnstep::analyze
