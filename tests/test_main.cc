#include <gtest/gtest.h>

#include "tests/temp_root.h"

// Every fixed path the code under test opens lands under a throw-away root,
// never on the machine running the tests.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  dawnstep::testing::TempRoot root;
  return RUN_ALL_TESTS();
}
