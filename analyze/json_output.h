#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

namespace dawnstep::analyze {

// Writes `document` indented, with a final line end; bytes of names that
// are not UTF-8 become U+FFFD, so the output is valid whatever the names.
void WriteJson(const nlohmann::json& document, std::ostream& out);

}  // namespace dawnstep::analyze
