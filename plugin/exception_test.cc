#include "plugin/exception.h"

#include <gtest/gtest.h>

#include <memory>

namespace dawnstep {

TEST(ExceptionTest, ACopyOwnsItsMessage) {
  auto original = std::make_unique<Exception>("%s %d", "left", 1);
  Exception copy(*original);
  original.reset();
  EXPECT_STREQ("left 1", copy.what());
}

}  // namespace dawnstep
