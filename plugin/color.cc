#include "plugin/color.h"

#include <string>

namespace dawnstep {

std::ostream& operator<<(std::ostream& out, const Color& color) {
  uint32_t code = color == Color::Reset ? 0 : 30 + static_cast<uint32_t>(color);
  // One insertion, so a field width set on the stream cannot split it.
  return out << "\e[" + std::to_string(code) + "m";
}

}  // namespace dawnstep
