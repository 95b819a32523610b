#include "platform/config_store.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::TempRoot;

TEST(ConfigStoreTest, EachCallAppendsOneLineAndCreatesTheDirectory) {
  TempRoot root;
  OrvoConfigStore::EndAutoConf();
  OrvoConfigStore::CleanupBootState();
  OrvoConfigStore::EnableMgmtdNotification(true);
  OrvoConfigStore::EnableMgmtdNotification(false);
  EXPECT_EQ(
      "EndAutoConf\nCleanupBootState\nEnableMgmtdNotification true\n"
      "EnableMgmtdNotification false\n",
      root.ReadFile("/var/lib/corvane/configstore.log"));
}

TEST(ConfigStoreTest, AFileThatCannotBeWrittenThrowsWithItsPath) {
  TempRoot root;
  root.WriteFile("/var/lib/corvane", "a file where the directory belongs");
  try {
    OrvoConfigStore::CleanupBootState();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(root.Path("/var/lib/corvane/configstore.log") + ": Not a directory",
              std::string(e.what()));
  }
}

}  // namespace
}  // namespace dawnstep
