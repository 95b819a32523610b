#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

namespace dawnstep::analyze {

// Writes `document` indented, with a final line end; bytes of names that
// are not UTF-8 become U+FFFD, so the output is valid whatever the names.
void WriteJson(const nlohmann::json& document, std::ostream& out);

// The value, or null when there is none.
template <typename T>
nlohmann::json ValueOrNull(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// `text` with every byte that is not part of UTF-8 replaced by U+FFFD, as
// WriteJson writes it.
std::string ValidUtf8(const std::string& text);

}  // namespace dawnstep::analyze
