#include "native/native_plugin.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/temp_root.h"

namespace dawnstep {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::NodeTexts;
using testing::TempRoot;

const char kPluginDir[] = "/usr/libexec/dawnstep/plugins";
const char kNativeLog[] = "/var/log/dawnstep-native-stdout.log";
const char kSystemLog[] = "/run/hkn/system.log";

std::string Built(const std::string& library) {
  return std::string(DAWNSTEP_TEST_PLUGIN_DIR) + "/lib" + library + ".so";
}

bool IsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

// Plugin objects are never destroyed; the ones a test loaded stay reachable
// here once the registry forgets them, so leak checking does not count them.
void KeepLoadedPlugins() {
  static auto* kept = new std::vector<Plugin*>;
  const auto& pending = Plugin::registry().pendingPlugins;
  kept->insert(kept->end(), pending.begin(), pending.end());
}

class NativePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Plugin::ResetRegistry();
    root.MakeDir("/run/hkn");
  }
  void TearDown() override { KeepLoadedPlugins(); }

  // Copies a built test library into the plugin directory as `file_name`;
  // a copy is a library of its own, apart from every earlier load.
  std::string Install(const std::string& library, const std::string& file_name) {
    std::string path = root.Path(kPluginDir) + "/" + file_name;
    fs::create_directories(root.Path(kPluginDir));
    fs::copy_file(Built(library), path);
    return path;
  }

  // Installs `library` under its own name and loads it.
  Plugin* Load(const std::string& library) {
    Plugin::LoadNativePlugin(Install(library, "lib" + library + ".so"));
    return Find(library);
  }

  Plugin* Find(const std::string& name) {
    const auto& pending = Plugin::registry().pendingPlugins;
    auto found = std::find_if(pending.begin(), pending.end(),
                              [&](const Plugin* p) { return p->name == name; });
    return found == pending.end() ? nullptr : *found;
  }

  template <typename Expected>
  std::string LoadFailure(const std::string& path) {
    try {
      Plugin::LoadNativePlugin(path);
    } catch (const Expected& e) {
      return e.what();
    }
    return "(loaded)";
  }

  // Activates in a child, since activation redirects the descriptors of
  // its process; the child's output and error go to the given files.
  int ActivateInChild(Plugin* plugin, Plugin::ActivateFlags flags, const std::string& out,
                      const std::string& err) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 2);
      bool succeeded = plugin->Activate(flags);
      fflush(nullptr);
      _exit(succeeded ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
  }

  // The usual set-up: both outputs land in the native log, which is where
  // the activation itself points them.
  int Activate(Plugin* plugin, Plugin::ActivateFlags flags) {
    root.MakeDir("/var/log");
    return ActivateInChild(plugin, flags, root.Path(kNativeLog), root.Path(kNativeLog));
  }

  std::string NativeLog() { return root.ReadFile(kNativeLog); }

  TempRoot root;
};

bool Succeeded(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
bool Failed(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 1; }

TEST_F(NativePluginTest, NameIsBaseNameWithoutExtensionAndLibPrefix) {
  EXPECT_EQ("net-setup", NativePluginName("/x/libnet-setup.so"));
  EXPECT_EQ("net.setup", NativePluginName("/x/net.setup.so"));
  EXPECT_EQ("", NativePluginName("/x/lib.so"));
  EXPECT_EQ("li", NativePluginName("/x/li.so"));
  EXPECT_EQ("foo.bar", NativePluginName("libfoo.bar.so"));
  EXPECT_EQ("", NativePluginName("/x/.so"));
  // Only the base name counts: a "." in a directory is no extension.
  EXPECT_THROW(NativePluginName("/opt/plugins.d/noext"), std::out_of_range);

  EXPECT_THROW(Plugin::LoadNativePlugin(Install("v1", "noext")), std::out_of_range);
  EXPECT_TRUE(Plugin::registry().pendingPlugins.empty());
}

TEST_F(NativePluginTest, LoaderNamesPluginsFromTheirFiles) {
  Install("v1", "libnet-setup.so");
  Install("v5", "net.setup.so");
  Install("v1_short", "lib.so");
  Plugin::LoadPlugins({}, 0);
  ASSERT_NE(nullptr, Find("net-setup"));
  EXPECT_EQ(1, Find("net-setup")->apiVersion);
  ASSERT_NE(nullptr, Find("net.setup"));
  EXPECT_EQ(5, Find("net.setup")->apiVersion);
  ASSERT_NE(nullptr, Find(""));
  EXPECT_EQ(1, Find("")->apiVersion);
}

TEST_F(NativePluginTest, AttributesFollowTheVersion) {
  // Version 1 ignores every later field and its host-profile entry.
  Plugin* v1 = Load("v1");
  ASSERT_NE(nullptr, v1);
  EXPECT_EQ((TagSet{"native plugins", "net", "disk"}), v1->provides);
  EXPECT_EQ((TagSet{"base"}), v1->requires_);
  EXPECT_FALSE(v1->hostProfileAware);
  EXPECT_EQ("", v1->pluginVersion);
  EXPECT_FALSE(v1->runOnce);
  EXPECT_TRUE(v1->requiredFlags.empty());
  EXPECT_TRUE(v1->disablingFlags.empty());
  EXPECT_FALSE(v1->preemptiveProvider);

  // Exports only 24 bytes of record and 8 of table: nothing past is read.
  Plugin* shortV1 = Load("v1_short");
  ASSERT_NE(nullptr, shortV1);
  EXPECT_EQ((TagSet{"native plugins"}), shortV1->provides);
  EXPECT_TRUE(shortV1->requires_.empty());
  EXPECT_FALSE(shortV1->hostProfileAware);

  Plugin* v2 = Load("v2_null_start");
  ASSERT_NE(nullptr, v2);
  EXPECT_EQ(2, v2->apiVersion);
  EXPECT_EQ((TagSet{"native plugins"}), v2->provides);
  EXPECT_TRUE(v2->hostProfileAware);

  // Exports only the 56 bytes of version 3; its plugin version is null.
  Plugin* v3 = Load("v3");
  ASSERT_NE(nullptr, v3);
  EXPECT_EQ("", v3->pluginVersion);
  EXPECT_TRUE(v3->runOnce);
  EXPECT_EQ((TagSet{"fa", "fb"}), v3->requiredFlags);
  EXPECT_TRUE(v3->disablingFlags.empty());
  EXPECT_FALSE(v3->hostProfileAware);

  Plugin* v4 = Load("v4");
  ASSERT_NE(nullptr, v4);
  EXPECT_EQ((TagSet{"native plugins", "storage"}), v4->provides);
  EXPECT_EQ((TagSet{"net"}), v4->requires_);
  EXPECT_EQ("4.1", v4->pluginVersion);
  EXPECT_TRUE(v4->runOnce);
  EXPECT_EQ((TagSet{"da"}), v4->disablingFlags);
  EXPECT_FALSE(v4->preemptiveProvider);
  EXPECT_TRUE(v4->hostProfileAware);

  Plugin* v5 = Load("v5");
  ASSERT_NE(nullptr, v5);
  EXPECT_TRUE(v5->preemptiveProvider);
  EXPECT_EQ("5.0", v5->pluginVersion);
  EXPECT_FALSE(v5->runOnce);

  EXPECT_EQ((std::list<Plugin*>{v1, shortV1, v2, v3, v4, v5}),
            Plugin::registry().pendingPlugins);
  EXPECT_EQ(2u, Plugin::registry().providers.count("net"));
  EXPECT_EQ(0u, Plugin::registry().providers.count("native plugins"));
  EXPECT_EQ("dawnstep.run-once=v3,v44.1", root.ReadFile("/.runonce"));
}

TEST_F(NativePluginTest, RejectedLibrariesAreClosedAndNotRegistered) {
  // Loaded first and globally: its symbols must not stand in for those
  // that the libraries below lack.
  ASSERT_NE(nullptr, Load("v1"));

  std::string text = Install("not-a-library", "libtext.so");
  EXPECT_THAT(LoadFailure<Exception>(text), ::testing::StartsWith("Invalid plugin: " + text));
  std::string absent = root.Path(kPluginDir) + "/libabsent.so";
  EXPECT_THAT(LoadFailure<Exception>(absent), ::testing::StartsWith("Invalid plugin: " + absent));

  struct Case {
    std::string library;
    std::string message;
  };
  for (const Case& c : {Case{"no_metadata", "missing 'metadata'"},
                        Case{"no_operations", "missing 'operations'"},
                        Case{"version0", "Unsupported API version: 0"},
                        Case{"version6", "Unsupported API version: 6"}}) {
    SCOPED_TRACE(c.library);
    std::string path = Install(c.library, "lib" + c.library + ".so");
    if (c.library.starts_with("version")) {
      EXPECT_EQ(c.message, LoadFailure<VersionException>(path));
    } else {
      EXPECT_EQ(c.message, LoadFailure<SymbolException>(path));
    }
    EXPECT_FALSE(IsLoaded(path));
  }
  EXPECT_EQ(1u, Plugin::registry().pendingPlugins.size());
}

TEST_F(NativePluginTest, LoaderReportsRejectedLibrariesAndGoesOn) {
  Install("version6", "a.so");
  Install("no_metadata", "b.so");
  Install("v5", "c.so");
  ::testing::internal::CaptureStderr();
  Plugin::LoadPlugins({}, 0);
  std::string dir = root.Path(kPluginDir);
  EXPECT_EQ("Skipping " + dir + "/a.so: Unsupported API version: 6\n" +
                "Skipping " + dir + "/b.so: missing 'metadata'\n",
            ::testing::internal::GetCapturedStderr());
  EXPECT_NE(nullptr, Find("c"));
  EXPECT_EQ(nullptr, Find("a"));
  EXPECT_EQ(nullptr, Find("b"));
  EXPECT_THAT(NodeTexts(root, kSystemLog),
              ElementsAre("exception occurred whilst loading plugin " + dir +
                              "/a.so: Unsupported API version: 6",
                          "exception occurred whilst loading plugin " + dir +
                              "/b.so: missing 'metadata'"));
}

TEST_F(NativePluginTest, NativeKindTagDisablesEveryNativePlugin) {
  Plugin::DisablePlugins({"native plugins"});
  EXPECT_TRUE(Load("v1")->disabled);
  EXPECT_TRUE(Load("v5")->disabled);

  KeepLoadedPlugins();
  Plugin::ResetRegistry();
  Plugin::DisablePlugins({"v4"});
  EXPECT_TRUE(Load("v4")->disabled);
  EXPECT_FALSE(Load("v3")->disabled);
}

TEST_F(NativePluginTest, FailingStartIsLoggedWithItsStatus) {
  Plugin* plugin = Load("v3");
  EXPECT_TRUE(Failed(Activate(plugin, 0)));
  std::string log = NativeLog();
  EXPECT_THAT(log, HasSubstr("Invoking method start on plugin v3"));
  EXPECT_THAT(log, HasSubstr("v3: start ran"));
  EXPECT_THAT(log, HasSubstr("Plugin v3 failed Invoking method start (rc=3)"));
  EXPECT_THAT(log, Not(HasSubstr("executed successfully")));
  EXPECT_THAT(NodeTexts(root, kSystemLog), ElementsAre("Applying start on plugin v3"));
}

TEST_F(NativePluginTest, ThrowingEntriesAreLoggedAndFail) {
  Plugin* plugin = Load("throws");
  EXPECT_TRUE(Failed(Activate(plugin, 0)));
  EXPECT_THAT(NativeLog(), HasSubstr("Plugin throws failed Invoking method start - start blew up"));

  // The host-profile entry throws something that is no standard exception.
  EXPECT_TRUE(Failed(Activate(plugin, Plugin::HostProfilePresent)));
  std::string log = NativeLog();
  EXPECT_THAT(log, HasSubstr("Plugin throws failed Invoking method apply_host_profile"));
  EXPECT_THAT(log, Not(HasSubstr("apply_host_profile -")));
}

TEST_F(NativePluginTest, NullStartSucceedsWithoutCallingAnything) {
  Plugin* plugin = Load("v2_null_start");
  EXPECT_TRUE(Succeeded(Activate(plugin, 0)));
  std::string log = NativeLog();
  EXPECT_THAT(log, HasSubstr("Method start executed successfully for plugin v2_null_start"));
  EXPECT_THAT(log, Not(HasSubstr("ran")));
  EXPECT_TRUE(NodeTexts(root, kSystemLog).empty());
}

TEST_F(NativePluginTest, DryRunNamesThePluginAndRunsNothing) {
  Plugin* plugin = Load("v1");
  Plugin::ActivateFlags flags = Plugin::DryRun | Plugin::HostProfilePresent;
  EXPECT_TRUE(Failed(ActivateInChild(plugin, flags, root.Path("/out"), root.Path("/err"))));
  EXPECT_EQ("v1: start\n", root.ReadFile("/out"));
  EXPECT_EQ("", root.ReadFile("/err"));
  EXPECT_FALSE(fs::exists(root.Path(kNativeLog)));
  EXPECT_TRUE(NodeTexts(root, kSystemLog).empty());
}

TEST_F(NativePluginTest, HostProfileEntryRunsOnlyForAwarePluginsPastTheBarrier) {
  Plugin* v4 = Load("v4");
  EXPECT_TRUE(Succeeded(Activate(v4, Plugin::HostProfilePresent)));
  EXPECT_THAT(NativeLog(), HasSubstr("v4: apply_host_profile ran"));
  EXPECT_THAT(NativeLog(),
              HasSubstr("Method apply_host_profile executed successfully for plugin v4"));

  // Before the barrier is lifted the plugin starts as usual.
  EXPECT_TRUE(Succeeded(Activate(v4, Plugin::HostProfilePresent | Plugin::HostProfileBarrier)));
  EXPECT_THAT(NativeLog(), HasSubstr("Plugin tries to execute before host profile requirement."));
  EXPECT_THAT(NativeLog(), HasSubstr("v4: start ran"));

  // A version 1 library never has its host-profile entry called.
  Plugin* v1 = Load("v1");
  EXPECT_TRUE(Succeeded(Activate(v1, Plugin::HostProfilePresent)));
  EXPECT_THAT(NativeLog(), HasSubstr("v1: start ran"));
  EXPECT_THAT(NativeLog(), Not(HasSubstr("v1: apply_host_profile ran")));

  EXPECT_THAT(NodeTexts(root, kSystemLog),
              ElementsAre("Applying apply_host_profile on plugin v4", "Applying start on plugin v4",
                          "Applying start on plugin v1"));
}

TEST_F(NativePluginTest, PreemptiveProviderIsSkippedWhenPreemptionIsDisabled) {
  Plugin* v5 = Load("v5");
  EXPECT_TRUE(Failed(Activate(v5, Plugin::PreemptiveDisabled)));
  EXPECT_THAT(NativeLog(), Not(HasSubstr("Invoking method")));
  EXPECT_THAT(NativeLog(), Not(HasSubstr("v5: start ran")));
  EXPECT_THAT(NodeTexts(root, kSystemLog), ElementsAre("Plugin v5 skipped."));

  // The preemptive byte of a version 4 record means nothing.
  Plugin* v4 = Load("v4");
  EXPECT_TRUE(Succeeded(Activate(v4, Plugin::PreemptiveDisabled)));
  EXPECT_TRUE(Succeeded(Activate(v5, 0)));
  EXPECT_THAT(NativeLog(), HasSubstr("v5: start ran"));
}

TEST_F(NativePluginTest, CrashingEntriesEndOnlyTheirOwnProcess) {
  int status = Activate(Load("exit7"), 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
  status = Activate(Load("abort"), 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
  status = Activate(Load("segfault"), 0);
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer reports the fault and exits instead of dying of it.
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
#else
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV);
#endif
  // The line announcing the call is out before the call.
  EXPECT_THAT(NodeTexts(root, kSystemLog),
              ElementsAre("Applying start on plugin exit7", "Applying start on plugin abort",
                          "Applying start on plugin segfault"));
}

}  // namespace
}  // namespace dawnstep
