#include "log/kernel_log.h"

#include "platform/hkn.h"

namespace dawnstep {
namespace {

// The buffer is never freed: streams may still be flushed by exit handlers
// after other statics are gone.
std::ostream& NodeStream(uint32_t node, bool keepNewline) {
  return *new std::ostream(new HknBuffer(node, keepNewline));
}

// A failed send marks the stream bad, which would silence every later
// message of the boot; each use starts from a good stream instead.
std::ostream& Usable(std::ostream& stream) {
  stream.clear();
  return stream;
}

}  // namespace

std::ostream& KernelLog() {
  static std::ostream& stream = NodeStream(HKN_NODE_system_log, false);
  return Usable(stream);
}

std::ostream& AlertLog() {
  static std::ostream& stream = NodeStream(HKN_NODE_system_sysAlert, false);
  return Usable(stream);
}

std::ostream& ProgressLog() {
  static std::ostream& stream = NodeStream(HKN_NODE_system_progressTerm_progressText, false);
  return Usable(stream);
}

std::ostream& StatusLog() {
  static std::ostream& stream = NodeStream(HKN_NODE_system_progressTerm_statusText, true);
  return Usable(stream);
}

}  // namespace dawnstep
