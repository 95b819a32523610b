#include "platform/memory.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace dawnstep {
namespace {

TEST(MemoryTest, HostQueryCountsBytesNotUnits) {
  std::optional<uint64_t> bytes = MainMemoryBytes();
  ASSERT_TRUE(bytes.has_value());
  const uint64_t pageSize = sysconf(_SC_PAGESIZE);
  const uint64_t fromPages = uint64_t(sysconf(_SC_PHYS_PAGES)) * pageSize;
  EXPECT_GE(*bytes, fromPages);
  EXPECT_LT(*bytes, fromPages + pageSize);
}

}  // namespace
}  // namespace dawnstep
