#include "analyze/trace.h"

#include <algorithm>

#include "analyze/json_output.h"

namespace dawnstep::analyze {

void WriteTrace(const Boot& boot, std::ostream& out) {
  std::vector<const PluginRun*> runs;
  for (const PluginRun& run : boot.plugins) {
    if (run.record != nullptr) runs.push_back(&run);
  }
  std::stable_sort(runs.begin(), runs.end(), [](const PluginRun* a, const PluginRun* b) {
    return a->record->start < b->record->start;
  });
  Micros origin = boot.profile.Origin();
  std::vector<Micros> laneEnds;  // when each lane is free again
  nlohmann::json events = nlohmann::json::array();
  for (const PluginRun* run : runs) {
    const Activation& record = *run->record;
    auto lane = std::find_if(laneEnds.begin(), laneEnds.end(),
                             [&](Micros end) { return end <= record.start; });
    if (lane == laneEnds.end()) lane = laneEnds.insert(lane, record.end);
    *lane = record.end;
    events.push_back({{"name", run->name},
                      {"cat", "activation"},
                      {"ph", "X"},
                      {"ts", record.start - origin},
                      {"dur", record.Duration()},
                      {"pid", 1},
                      {"tid", 1 + (lane - laneEnds.begin())},
                      {"args", {{"outcome", OutcomeText(run->outcome)}}}});
  }
  WriteJson({{"traceEvents", events}, {"displayTimeUnit", "ms"}}, out);
}

}  // namespace dawnstep::analyze
