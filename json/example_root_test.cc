// The bundled sample root: its JSON plugins load cleanly and their command
// lines reach real commands whose handlers change files under the root.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "json/json_plugin.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

namespace fs = std::filesystem;
using testing::TempRoot;
using Words = std::vector<std::string>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

class ExampleRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(DAWNSTEP_SOURCE_DIR "/examples/root", root.path(), fs::copy_options::recursive);
    Plugin::ResetRegistry();
    Orvocli::ResetDispatcher();
    std::unordered_set<std::string> files;
    for (const char* dir : {"/usr/libexec/dawnstep/plugins", "/usr/libexec/dawnstep/plugins2"}) {
      for (const auto& entry : fs::directory_iterator(root.Path(dir))) {
        files.insert(entry.path().string());
      }
    }
    CaptureStderr();
    Plugin::LoadPlugins(files, 0);
    loadErrors = GetCapturedStderr();
    for (Plugin* plugin : Plugin::registry().pendingPlugins) {
      plugins[plugin->name] = dynamic_cast<JsonPlugin*>(plugin);
    }
  }

  void TearDown() override {
    for (const auto& [name, plugin] : plugins) delete plugin;
    Plugin::ResetRegistry();
    Orvocli::ResetDispatcher();
  }

  TempRoot root;
  std::string loadErrors;
  std::map<std::string, JsonPlugin*> plugins;
};

TEST_F(ExampleRootTest, PluginsLoadWithRealDependencies) {
  EXPECT_EQ("", loadErrors);
  ASSERT_EQ(8u, plugins.size());
  std::multimap<std::string, std::string> providers;
  for (const auto& [name, plugin] : plugins) {
    for (const std::string& tag : plugin->provides) providers.emplace(tag, name);
  }
  for (const auto& [name, plugin] : plugins) {
    for (const std::string& tag : plugin->requires_) {
      EXPECT_NE(0u, providers.count(tag)) << name << " requires " << tag;
    }
  }
  EXPECT_TRUE(plugins["network-installer"]->preemptiveProvider);
  EXPECT_EQ(2u, providers.count("network"));
  EXPECT_TRUE(plugins["ssh-host-keys"]->runOnce);
  EXPECT_EQ("dawnstep.run-once=ssh-host-keys2.1", root.ReadFile("/.runonce"));
  EXPECT_TRUE(plugins["welcome"]->hostProfileAware);
}

TEST_F(ExampleRootTest, CommandsChangeTheRootAndOneFails) {
  std::map<std::string, Words> failures;
  CaptureStdout();
  for (const auto& [name, plugin] : plugins) {
    EXPECT_TRUE(plugin->orvocli.Execute(plugin->startCommands, true, false).empty()) << name;
    for (const OrvocliException& failure :
         plugin->orvocli.Execute(plugin->startCommands, false, false)) {
      failures[name] = failure.errors;
    }
  }
  GetCapturedStdout();
  EXPECT_EQ((std::map<std::string, Words>{
                {"local-volume", {"no volume labelled 'volume1'", "exit status 2"}}}),
            failures);
  EXPECT_EQ("host01.lab.example\n", root.ReadFile("/etc/hostname"));
  // Plugins ran in name order here, so the installer's address came last.
  EXPECT_EQ(
      "interface name=mgmt0 ipv4=192.0.2.10 netmask=255.255.255.0 mtu=9000\n"
      "route default via 192.0.2.1\n",
      root.ReadFile("/etc/corvane/network.conf"));
  EXPECT_EQ("server=pool.ntp.example\nenabled=yes\n", root.ReadFile("/etc/corvane/ntp.conf"));
  EXPECT_EQ("loghost udp://192.0.2.5:514\n", root.ReadFile("/etc/corvane/syslog.conf"));
  EXPECT_NE("", root.ReadFile("/etc/corvane/ssh/ssh_host_ed25519_key"));
  EXPECT_EQ("Configured by dawnstep; see /var/log/dawnstep-orvocli-stdout.log\n",
            root.ReadFile("/etc/motd"));

  JsonPlugin* welcome = plugins["welcome"];
  CaptureStdout();
  EXPECT_TRUE(welcome->orvocli.Execute(welcome->hostProfileCommands, false, false).empty());
  GetCapturedStdout();
  EXPECT_EQ("Host profile applied\n", root.ReadFile("/etc/motd"));
}

}  // namespace
}  // namespace dawnstep
