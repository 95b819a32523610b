#pragma once

#include <string>

namespace dawnstep {

// An existence test, not a readability test.
bool PathExists(const std::string& path);

}  // namespace dawnstep
