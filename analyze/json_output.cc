#include "analyze/json_output.h"

namespace dawnstep::analyze {

void WriteJson(const nlohmann::json& document, std::ostream& out) {
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::string ValidUtf8(const std::string& text) {
  std::string quoted =
      nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return nlohmann::json::parse(quoted).get<std::string>();
}

}  // namespace dawnstep::analyze
