#include "platform/process_id.h"

#include <pthread.h>
#include <unistd.h>

namespace dawnstep {
namespace {

pid_t cached = 0;

void Forget() { cached = 0; }

}  // namespace

pid_t ProcessId() {
  static const bool forgottenInChildren = pthread_atfork(nullptr, nullptr, Forget) == 0;
  if (cached == 0 || !forgottenInChildren) cached = getpid();
  return cached;
}

}  // namespace dawnstep
