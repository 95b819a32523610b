#include "analyze/json_output.h"

namespace dawnstep::analyze {

void WriteJson(const nlohmann::json& document, std::ostream& out) {
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace dawnstep::analyze
