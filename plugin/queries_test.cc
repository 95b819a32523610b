#include <gtest/gtest.h>

#include "plugin/plugin.h"
#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::TempRoot;
using testing::TestPlugin;

class QueriesTest : public ::testing::Test {
 protected:
  void SetUp() override { Plugin::ResetRegistry(); }

  template <typename Query>
  static std::string Printed(Query query) {
    ::testing::internal::CaptureStdout();
    query();
    return ::testing::internal::GetCapturedStdout();
  }

  TempRoot root;
};

TEST_F(QueriesTest, EmptyRegistryPrintsNothing) {
  EXPECT_EQ("", Printed([] { Plugin::DumpPluginsRequiring(""); }));
  EXPECT_EQ("", Printed([] { Plugin::DumpPluginsProviding(""); }));
  EXPECT_EQ("", Printed([] { Plugin::ListTags(); }));
}

TEST_F(QueriesTest, RecordsFollowRegistrationOrder) {
  TestPlugin net("net", {"network", "json plugins"}, {"storage", "clock"});
  TestPlugin disk("disk", {"storage", "native plugins"}, {});
  TestPlugin end("end", {"builtin plugins"}, {"json plugins", "native plugins"});
  Plugin::DisablePlugins({"net"});

  EXPECT_EQ("net: clock,storage\ndisk:\nend: json plugins,native plugins\n",
            Printed([] { Plugin::DumpPluginsRequiring(""); }));
  EXPECT_EQ("net: json plugins,network\ndisk: native plugins,storage\nend: builtin plugins\n",
            Printed([] { Plugin::DumpPluginsProviding(""); }));
}

TEST_F(QueriesTest, TagSelectsPlugins) {
  TestPlugin net("net", {"network", "json plugins"}, {"storage"});
  TestPlugin disk("disk", {"storage", "native plugins"}, {});
  TestPlugin web("web", {"json plugins"}, {"network", "storage"});

  EXPECT_EQ("net: storage\nweb: network,storage\n",
            Printed([] { Plugin::DumpPluginsRequiring("storage"); }));
  EXPECT_EQ("disk: native plugins,storage\n",
            Printed([] { Plugin::DumpPluginsProviding("storage"); }));
  EXPECT_EQ("net: json plugins,network\nweb: json plugins\n",
            Printed([] { Plugin::DumpPluginsProviding("json plugins"); }));
  EXPECT_EQ("", Printed([] { Plugin::DumpPluginsRequiring("usb"); }));
  EXPECT_EQ("", Printed([] { Plugin::DumpPluginsProviding("net"); }));
}

TEST_F(QueriesTest, TagListIsSortedDistinctAndWithoutKinds) {
  TestPlugin net("net", {"network", "json plugins"}, {"Zone", "storage"});
  TestPlugin disk("disk", {"storage", "native plugins"}, {"builtin plugins"});
  TestPlugin lone("lone", {"json plugins"}, {});

  EXPECT_EQ("Zone\nnetwork\nstorage\n", Printed([] { Plugin::ListTags(); }));
}

}  // namespace
}  // namespace dawnstep
