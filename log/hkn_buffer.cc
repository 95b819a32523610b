#include "log/hkn_buffer.h"

#include <iostream>

#include "platform/hkn.h"

namespace dawnstep {
namespace {

bool kernelLogDeactivated = false;

}  // namespace

void DeactivateKernelLog() { kernelLogDeactivated = true; }

HknBuffer::HknBuffer(uint32_t node, bool keepNewline) : node(node), keepNewline(keepNewline) {}

HknBuffer::~HknBuffer() = default;

int HknBuffer::overflow(int c) {
  if (!keepNewline && c == '\n') return 0;
  if (c == '\r') {
    text.str("");
    return 0;
  }
  if (c == traits_type::eof()) return c;
  // Straight into the string: a string stream's own checks around each
  // character cost more than the character.
  text.rdbuf()->sputc(static_cast<char>(c));
  return c;
}

int HknBuffer::sync() {
  if (kernelLogDeactivated) {
    text.str("");
    return 0;
  }
  // Shared by every buffer: once the check succeeds in a process it is
  // never made again.
  static bool checkSig = true;
  if (checkSig) {
    uint32_t ours = 0;
    uint32_t theirs = 0;
    if (HKN_CheckSig(&ours, 21, &theirs) != 0) {
      std::cerr << "HKN signature mismatch" << std::endl;
      return -1;
    }
    checkSig = false;
  }
  int result = -1;
  HKN_ParamList* list = HKN_ParamListCreate(0, 1);
  if (list == nullptr) {
    std::cerr << "Failed to create HKN param list." << std::endl;
  } else {
    std::string pending = std::move(text).str();  // taken, not copied
    if (HKN_ParamListAddString(list, pending.c_str()) != 0) {
      std::cerr << "Failed to add HKN input string." << std::endl;
    } else if (HKN_Set(node, nullptr, list, nullptr, 0) != 0) {
      std::cerr << "Failed to set HKN node." << std::endl;
    } else {
      result = 0;
    }
    HKN_ParamListDestroy(list);
  }
  text.str("");
  return result;
}

}  // namespace dawnstep
