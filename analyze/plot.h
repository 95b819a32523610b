#pragma once

#include <ostream>
#include <vector>

#include "analyze/boot_profile.h"
#include "analyze/critical_chain.h"

namespace dawnstep::analyze {

// An SVG timeline of one boot: one row per activation record in order of
// start (then name), a time axis in milliseconds from the profile's origin
// with labelled ticks, each bar (a rect of class "bar") labelled with its
// name and duration, the bars of `chain` drawn in the "critical" class.
void WritePlot(const BootProfile& profile, const std::vector<ChainLink>& chain, std::ostream& out);

// The tick spacing for a time span: the smallest 1, 2 or 5 times a power
// of ten microseconds that gives at most ten intervals.
Micros TickStep(Micros span);

}  // namespace dawnstep::analyze
