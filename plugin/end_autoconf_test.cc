#include "plugin/end_autoconf.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "log/kernel_log.h"
#include "platform/config_store.h"
#include "plugin/scheduler.h"
#include "tests/temp_root.h"
#include "worker/worker.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TempRoot;
using Lines = std::vector<std::string>;

// Records the calls it gets; fails every one of them when asked to.
class RecordingStore : public ConfigStore {
 public:
  void EndAutoConf() override { Call("end autoconf broke"); }
  void CleanupBootState() override { Call("cleanup broke"); }
  void EnableMgmtdNotification(bool enable) override {
    Call(enable ? "notify true broke" : "notify false broke");
  }

  Lines calls;
  bool fail = false;

 private:
  void Call(const std::string& what) {
    calls.push_back(what);
    if (fail) throw std::runtime_error(what);
  }
};

class EndAutoConfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.MakeDir("/run/hkn");
    root.MakeDir("/var/log");
    Plugin::ResetRegistry();
    Worker::ResetPool();
  }
  void TearDown() override {
    SetConfigStore(nullptr);
    Worker::ResetPool();
  }

  // Loads the run's plugins from the (empty) plugin directories, which
  // leaves the built-in plugin alone in the registry.
  static EndAutoConf* LoadOnlyTheBuiltin() {
    Plugin::LoadPlugins({}, 0);
    EXPECT_EQ(1u, Plugin::registry().pendingPlugins.size());
    return dynamic_cast<EndAutoConf*>(Plugin::registry().pendingPlugins.front());
  }

  TempRoot root;
  RecordingStore store;
};

TEST_F(EndAutoConfTest, WaitsForBothPluginKindsAndProvidesItsOwn) {
  EndAutoConf plugin;
  EXPECT_EQ("end-autoconf", plugin.name);
  EXPECT_EQ((TagSet{"builtin plugins"}), plugin.provides);
  EXPECT_EQ((TagSet{"json plugins", "native plugins"}), plugin.requires_);
  EXPECT_EQ((std::list<Plugin*>{&plugin}), Plugin::registry().pendingPlugins);
  EXPECT_TRUE(Plugin::registry().providers.empty());
  EXPECT_FALSE(plugin.disabled || plugin.preemptiveProvider || plugin.runOnce);
}

TEST_F(EndAutoConfTest, ADryRunLeavesTheStoreAlone) {
  SetConfigStore(&store);
  EndAutoConf plugin;
  EXPECT_TRUE(plugin.Activate(Plugin::DryRun));
  EXPECT_TRUE(store.calls.empty());
  EXPECT_EQ(Lines{}, NodeTexts(root, "/run/hkn/system.log"));
}

TEST_F(EndAutoConfTest, EveryStoreFailureIsLoggedAndTheRestStillRuns) {
  SetConfigStore(&store);
  store.fail = true;
  EndAutoConf plugin;
  EXPECT_TRUE(plugin.Activate(0));
  EXPECT_EQ((Lines{"end autoconf broke", "cleanup broke", "notify true broke"}), store.calls);
  EXPECT_EQ((Lines{"Failed to end autoconf: end autoconf broke",
                   "Failed to cleanup boot state: cleanup broke",
                   "Error settingup configstore mgmtd notifications: notify true broke"}),
            NodeTexts(root, "/run/hkn/system.log"));
}

TEST_F(EndAutoConfTest, ARunWithoutPluginFilesEndsAutoConfigurationInAWorker) {
  EndAutoConf* builtin = LoadOnlyTheBuiltin();
  ASSERT_NE(nullptr, builtin);
  Plugin::ActivateFlags flags = 0;
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"Activating Dawnstep plugin end-autoconf.",
                   "Dawnstep plugin end-autoconf activated."}),
            NodeTexts(root, "/run/hkn/system.log"));
  EXPECT_EQ("EndAutoConf\nCleanupBootState\nEnableMgmtdNotification true\n",
            root.ReadFile("/var/lib/corvane/configstore.log"));
  delete builtin;
}

TEST_F(EndAutoConfTest, ADisabledBuiltinIsSkippedWithoutTouchingTheStore) {
  Plugin::DisablePlugins({"end-autoconf"});
  EndAutoConf* builtin = LoadOnlyTheBuiltin();
  ASSERT_NE(nullptr, builtin);
  EXPECT_TRUE(builtin->disabled);
  Plugin::ActivateFlags flags = 0;
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"Dawnstep plugin end-autoconf skipped.",
                   "Dawnstep plugin end-autoconf skipped."}),
            NodeTexts(root, "/run/hkn/system.log"));
  EXPECT_EQ("", root.ReadFile("/var/lib/corvane/configstore.log"));
  EXPECT_TRUE(Worker::Pool().empty());
  delete builtin;
}

}  // namespace
}  // namespace dawnstep
