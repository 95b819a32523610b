#pragma once

#include <ostream>

#include "log/hkn_buffer.h"

namespace dawnstep {

// The four kernel log streams. A message ends with std::endl (or a flush);
// each flush sends one string to the stream's node.
std::ostream& KernelLog();
std::ostream& AlertLog();
std::ostream& ProgressLog();
std::ostream& StatusLog();

}  // namespace dawnstep
