#include "plugin/plugin.h"

#include <gtest/gtest.h>

#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::TempRoot;
using testing::TestPlugin;

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override { Plugin::ResetRegistry(); }
  TempRoot root;
};

TEST_F(PluginTest, RegistrationIndexesNonKindTagsAndDisablesByNameOrTag) {
  Plugin::ResetRegistry();
  Plugin::DisablePlugins({"off", "json plugins"});
  TestPlugin a("a", {"json plugins", "net"}, {});
  TestPlugin b("off", {"native plugins"}, {});
  TestPlugin c("c", {"native plugins", "disk"}, {"net"});

  auto& reg = Plugin::registry();
  EXPECT_EQ((std::list<Plugin*>{&a, &b, &c}), reg.pendingPlugins);
  EXPECT_EQ(1u, reg.providers.count("net"));
  EXPECT_EQ(0u, reg.providers.count("json plugins"));
  EXPECT_TRUE(a.disabled);
  EXPECT_TRUE(b.disabled);
  EXPECT_FALSE(c.disabled);
}

TEST_F(PluginTest, RunOnceRecordListsKeysInRegistrationOrder) {
  Plugin::ResetRegistry();
  Plugin::DisablePlugins({"x1.0"});
  struct RunOncePlugin final : Plugin {
    RunOncePlugin(const std::string& name, const std::string& version)
        : Plugin(name, {"json plugins"}, {}) {
      runOnce = true;
      pluginVersion = version;
      Register();
    }
    bool Activate(ActivateFlags) override { return true; }
  };
  RunOncePlugin x("x", "1.0");
  RunOncePlugin y("y", "");
  EXPECT_EQ("dawnstep.run-once=x1.0,y", root.ReadFile("/.runonce"));
  EXPECT_TRUE(x.disabled);
  EXPECT_FALSE(y.disabled);
}

TEST_F(PluginTest, OnlyOpeningTheRunOnceRecordEmptiesIt) {
  root.WriteFile("/.runonce", "dawnstep.run-once=kept");
  Plugin::Registry readOnly;
  EXPECT_EQ("dawnstep.run-once=kept", root.ReadFile("/.runonce"));
  Plugin::OpenRunOnceRecord();
  EXPECT_EQ("", root.ReadFile("/.runonce"));
}

TEST_F(PluginTest, HostProfileDecision) {
  Plugin::ActivateFlags flags = Plugin::HostProfilePresent;
  EXPECT_FALSE(Plugin::ApplyHostProfiles(flags, false));
  EXPECT_TRUE(Plugin::ApplyHostProfiles(flags, true));
  flags |= Plugin::HostProfileBarrier;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Plugin::ApplyHostProfiles(flags, true));
  EXPECT_EQ("Plugin tries to execute before host profile requirement.\n",
            ::testing::internal::GetCapturedStderr());
  EXPECT_EQ(Plugin::InteractiveMode, Plugin::Interactive({}));
}

}  // namespace
}  // namespace dawnstep
