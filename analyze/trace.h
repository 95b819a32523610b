#pragma once

#include <ostream>

#include "analyze/boot.h"

namespace dawnstep::analyze {

// The boot's activations as a trace in the Trace Event Format that trace
// viewers open: one complete event per activation record, times in
// microseconds from the activation start, each on the first lane (thread
// id) where it overlaps no other event, the plugin's outcome as an argument.
void WriteTrace(const Boot& boot, std::ostream& out);

}  // namespace dawnstep::analyze
