#pragma once

#include <ostream>
#include <vector>

#include "analyze/boot.h"
#include "analyze/critical_chain.h"

namespace dawnstep::analyze {

// An SVG timeline of one boot: one row per activation record in order of
// start (then name), a time axis in milliseconds from the profile's origin
// with labelled ticks at the top and the bottom, each bar (a rect of class
// "bar" and "outcome-OUTCOME", one colour per outcome, with a legend)
// labelled with its name and duration, the bars of `chain` also in the
// "critical" class (outlined); the title gives the boot's date.
void WritePlot(const Boot& boot, const std::vector<ChainLink>& chain, std::ostream& out);

// The tick spacing for a time span: the smallest 1, 2 or 5 times a power
// of ten microseconds that gives at most ten intervals.
Micros TickStep(Micros span);

}  // namespace dawnstep::analyze
