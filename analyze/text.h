#pragma once

#include <string>
#include <string_view>

namespace dawnstep::analyze {

// `text` with every byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD, so that names from file names can go into formats
// that must be UTF-8.
std::string ValidUtf8(std::string_view text);

// The number of code points of well-formed UTF-8 text.
size_t CodePoints(std::string_view text);

// Text for XML character data and quoted attribute values: valid UTF-8,
// markup characters as entities, and control characters (which XML does
// not allow) as U+FFFD.
std::string XmlEscape(std::string_view text);

}  // namespace dawnstep::analyze
