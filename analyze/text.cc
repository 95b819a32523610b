#include "analyze/text.h"

namespace dawnstep::analyze {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed sequence at `pos`, or 0.
size_t SequenceLength(std::string_view text, size_t pos) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 0;
  for (size_t i = pos + 2; i < pos + length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// The entity that stands for a markup character, or null.
const char* Entity(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    default:
      return nullptr;
  }
}

// U+FFFE and U+FFFF are valid UTF-8 but not XML characters.
bool IsNonCharacter(const std::string& text, size_t pos) {
  return text.compare(pos, 2, "\xEF\xBF") == 0 && pos + 2 < text.size() &&
         (text[pos + 2] == '\xBE' || text[pos + 2] == '\xBF');
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
  std::string valid;
  for (size_t pos = 0; pos < text.size();) {
    size_t length = SequenceLength(text, pos);
    if (length == 0) {
      valid += kReplacement;
      ++pos;
    } else {
      valid.append(text, pos, length);
      pos += length;
    }
  }
  return valid;
}

size_t CodePoints(std::string_view text) {
  size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string XmlEscape(std::string_view text) {
  std::string valid = ValidUtf8(text);
  std::string escaped;
  for (size_t pos = 0; pos < valid.size(); ++pos) {
    char c = valid[pos];
    if (const char* entity = Entity(c)) {
      escaped += entity;
    } else if (IsNonCharacter(valid, pos)) {
      escaped += kReplacement;
      pos += 2;
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
      escaped += kReplacement;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace dawnstep::analyze
