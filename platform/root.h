#pragma once

#include <string>

namespace dawnstep {

// Every fixed system path the program names goes through here, so that
// $DAWNSTEP_ROOT can move the whole file system view under a test root.
// Paths typed by the user are never passed in.
std::string RootPath(const std::string& fixed_path);

}  // namespace dawnstep
