#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "analyze/boot.h"

namespace dawnstep::analyze {

// Every plugin of the boot, longest activation first (equal durations by
// name, then by boot order), those without an activation record last: the
// duration in milliseconds right-aligned in ten columns with three
// decimals (or "-"), " ms", two blanks, the outcome padded to 21 columns,
// a blank and the name. A boot that ended in unmet dependencies says so
// first, naming the plugins that never started.
void WriteBlame(const Boot& boot, std::ostream& out);

// The same order as an array of {plugin, outcome, start, end, duration_us}.
nlohmann::json BlameJson(const Boot& boot);

}  // namespace dawnstep::analyze
