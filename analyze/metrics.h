#pragma once

#include <ostream>
#include <string>

#include "analyze/boot.h"

namespace dawnstep::analyze {

// The boot in the Prometheus text exposition format (0.0.4), for a
// textfile collector: boot, kernel, activation and critical chain times,
// plugins by outcome, each plugin's activation time and whether it failed,
// and whether the boot ended in unmet dependencies. Families whose source
// the boot lacks (no profile, no node records) are left out.
void WriteMetrics(const Boot& boot, std::ostream& out);

// `value` as a label value: UTF-8 (other bytes become U+FFFD), with
// backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& value);

}  // namespace dawnstep::analyze
