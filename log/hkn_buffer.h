#pragma once

#include <cstdint>
#include <sstream>
#include <streambuf>

namespace dawnstep {

// A stream buffer that sends everything written since the last flush to a
// kernel information node as one string. It keeps no put area, so every
// character passes through overflow().
class HknBuffer : public std::streambuf {
 public:
  HknBuffer(uint32_t node, bool keepNewline);
  ~HknBuffer() override;

 protected:
  int sync() override;
  int overflow(int c) override;

 private:
  std::ostringstream text;
  uint32_t node;
  bool keepNewline;
};

// From now on every flush of the four kernel log streams discards its text.
void DeactivateKernelLog();

}  // namespace dawnstep
