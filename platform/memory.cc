#include "platform/memory.h"

#include <sys/sysinfo.h>

namespace dawnstep {
namespace {

std::optional<uint64_t> SysinfoMemoryBytes() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return std::nullopt;
  return uint64_t{info.totalram} * info.mem_unit;
}

MainMemoryQuery currentQuery = SysinfoMemoryBytes;

}  // namespace

std::optional<uint64_t> MainMemoryBytes() { return currentQuery(); }

void SetMainMemoryQuery(MainMemoryQuery query) {
  currentQuery = query != nullptr ? query : SysinfoMemoryBytes;
}

}  // namespace dawnstep
