#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "analyze/boot.h"

namespace dawnstep::analyze {

// Where the boot's time went, in summary.
struct TimeReport {
  std::optional<Micros> kernel;         // the profile's first line
  std::optional<Micros> activation;     // trailer Start to End
  std::optional<Micros> criticalChain;  // end of its last activation, from Start
  std::map<std::string, size_t> outcomes;  // outcome name -> plugins
};

TimeReport MakeTimeReport(const Boot& boot);

// "Kernel initialisation", "Plugin activation", "Critical chain" lines
// ("unknown" for what the profile lacks), then the plugins by outcome.
void WriteTime(const TimeReport& report, std::ostream& out);

// {kernel_us, activation_us, critical_chain_us, outcomes}; null for unknown.
nlohmann::json TimeJson(const TimeReport& report);

}  // namespace dawnstep::analyze
