#pragma once

#include <cstdint>
#include <ostream>

namespace dawnstep {

// Foreground colours of an ANSI terminal; Reset returns to the default
// rendition.
enum class Color : uint32_t {
  Black,
  Red,
  Green,
  Yellow,
  Blue,
  Magenta,
  Cyan,
  White,
  Reset,
};

// Writes the select-graphic-rendition sequence of `color`.
std::ostream& operator<<(std::ostream& out, const Color& color);

}  // namespace dawnstep
