#pragma once

#include <ostream>

#include "analyze/boot_profile.h"

namespace dawnstep::analyze {

// One line per activation record, longest first (equal durations by name,
// then by file order): the duration in milliseconds right-aligned in ten
// columns with three decimals, " ms", two blanks and the name.
void WriteBlame(const BootProfile& profile, std::ostream& out);

}  // namespace dawnstep::analyze
