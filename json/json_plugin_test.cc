#include "json/json_plugin.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using nlohmann::json;
using testing::NodeTexts;
using testing::TempRoot;
using Words = std::vector<std::string>;

const char kPluginDir[] = "/usr/libexec/dawnstep/plugins";

json MinimalDocument() {
  return json::parse(R"({"metadata": {"provides": [], "requires": [], "version": 1},
                         "operations": {"start": []}})");
}

// A change to a minimal document: the value (JSON text) at a JSON pointer,
// or null to remove the member.
using Change = std::pair<const char*, const char*>;

struct BadFile {
  std::vector<Change> changes;
  const char* message;
};

// Every way a file can fail, in check order, each with its exact message.
const BadFile kBadFiles[] = {
    {{{"", "[]"}}, "'value' is not a 'JsonObject'"},
    {{{"", "\"text\""}}, "'value' is not a 'JsonObject'"},
    {{{"/metadata", nullptr}, {"/operations", nullptr}},
     "'plugin[\"metadata\"]' is not a 'JsonObject'"},
    {{{"/metadata", "[]"}}, "'plugin[\"metadata\"]' is not a 'JsonObject'"},
    {{{"/operations", nullptr}}, "'plugin[\"operations\"]' is not a 'JsonObject'"},
    {{{"/metadata/provides", nullptr}}, "'meta[\"provides\"]' is not a 'JsonArray'"},
    {{{"/metadata/provides", "\"a\""}}, "'meta[\"provides\"]' is not a 'JsonArray'"},
    {{{"/metadata/provides", "[\"a\", 1]"}}, "'i' is not a 'JsonString'"},
    {{{"/metadata/requires", nullptr}}, "'meta[\"requires\"]' is not a 'JsonArray'"},
    {{{"/metadata/requires", "[null]"}}, "'i' is not a 'JsonString'"},
    {{{"/metadata/version", nullptr}}, "'meta[\"version\"]' is not a 'JsonNumber'"},
    {{{"/metadata/version", "\"2\""}}, "'meta[\"version\"]' is not a 'JsonNumber'"},
    {{{"/metadata/version", "6"}}, "Unsupported API version: 6"},
    {{{"/metadata/version", "0.5"}}, "Unsupported API version: 0"},
    {{{"/metadata/version", "-1"}}, "Unsupported API version: -1"},
    {{{"/metadata/version", "1e12"}}, "Unsupported API version: 2147483647"},
    {{{"/metadata/version", "-3e9"}}, "Unsupported API version: -2147483648"},
    {{{"/metadata/version", "18446744073709551615"}}, "Unsupported API version: 2147483647"},
    {{{"/operations/start", nullptr}}, "'ops[\"start\"]' is not a 'JsonArray'"},
    {{{"/operations/start", "{}"}}, "'ops[\"start\"]' is not a 'JsonArray'"},
    {{{"/operations/start", "[\"ok\", true]"}}, "'i' is not a 'JsonString'"},
    {{{"/metadata/version", "2"}, {"/operations/apply_host_profile", "\"x\""}},
     "'ops[\"apply_host_profile\"]' is not a 'JsonArray'"},
    {{{"/metadata/version", "2"}, {"/operations/apply_host_profile", "null"}},
     "'ops[\"apply_host_profile\"]' is not a 'JsonArray'"},
    {{{"/metadata/version", "2"}, {"/operations/apply_host_profile", "[1]"}},
     "'i' is not a 'JsonString'"},
    {{{"/metadata/plugin_version", "1"}}, "'meta[\"plugin_version\"]' is not a 'JsonString'"},
    {{{"/metadata/plugin_version", "null"}}, "'meta[\"plugin_version\"]' is not a 'JsonString'"},
    {{{"/metadata/required_flags", "\"x\""}}, "'meta[\"required_flags\"]' is not a 'JsonArray'"},
    {{{"/metadata/required_flags", "[1]"}}, "'i' is not a 'JsonString'"},
    {{{"/metadata/disabling_flags", "[1]"}}, "'i' is not a 'JsonString'"},
    {{{"/metadata/version", "3"}}, "'meta[\"run_once\"]' is not a 'JsonBool'"},
    {{{"/metadata/run_once", "\"yes\""}}, "'meta[\"run_once\"]' is not a 'JsonBool'"},
    {{{"/metadata/preemptive_provider", "\"true\""}},
     "'meta[\"preemptive_provider\"]' is not a 'JsonBool'"},
    // The earliest failing check is the one reported.
    {{{"/metadata/provides", "[1]"}, {"/metadata/version", "9"}}, "'i' is not a 'JsonString'"},
    {{{"/metadata/version", "9"}, {"/operations/start", nullptr}}, "Unsupported API version: 9"},
    {{{"/operations/start", "[1]"}, {"/metadata/plugin_version", "1"}},
     "'i' is not a 'JsonString'"},
    {{{"/metadata/run_once", "1"}, {"/metadata/preemptive_provider", "1"}},
     "'meta[\"run_once\"]' is not a 'JsonBool'"},
};

json Changed(const std::vector<Change>& changes) {
  json document = MinimalDocument();
  for (const auto& [pointer, value] : changes) {
    json::json_pointer at(pointer);
    if (value == nullptr) {
      document[at.parent_pointer()].erase(at.back());
    } else {
      document[at] = json::parse(value);
    }
  }
  return document;
}

// Files that are no JSON object before any member is looked at.
const std::pair<const char*, const char*> kUnparsable[] = {
    {"empty.json", ""},
    {"garbage.json", "not json"},
    {"truncated.json", "{\"metadata\": {"},
    {"trailing.json", "{} {}"},
    {"huge-number.json", "{\"metadata\": {\"version\": 1e400}}"},
};

class JsonPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Plugin::ResetRegistry();
    // The node stand-in makes /run/hkn but not /run.
    root.MakeDir("/run/hkn");
    root.WriteScript("/usr/lib/corvane/orvocli/bin/touch",
                     "#!/bin/sh\necho \"${1#--name=}\" >>\"$DAWNSTEP_ROOT/ran\"\n");
    root.WriteScript("/usr/lib/corvane/orvocli/bin/fail",
                     "#!/bin/sh\necho 'disk on fire' >&2\nexit 4\n");
    root.WriteFile("/usr/lib/corvane/orvocli/demo.json", R"({"namespace": "demo", "commands": [
        {"name": "touch", "handler": "bin/touch", "parameters": [{"name": "name"}]},
        {"name": "fail", "handler": "bin/fail"}]})");
    Orvocli::ResetDispatcher();
  }

  // Loaded plugins are never freed by the program; the tests free theirs.
  void TearDown() override {
    for (Plugin* plugin : Plugin::registry().pendingPlugins) {
      delete dynamic_cast<JsonPlugin*>(plugin);
    }
    Plugin::ResetRegistry();
    Orvocli::ResetDispatcher();
  }

  std::string Write(const std::string& file, const json& document) {
    root.WriteFile(std::string(kPluginDir) + "/" + file, document.dump());
    return root.Path(std::string(kPluginDir) + "/" + file);
  }

  JsonPlugin* Load(const json& document, const std::string& file = "p.json") {
    return new JsonPlugin(Write(file, document));
  }

  TempRoot root;
};

TEST_F(JsonPluginTest, TheLoaderSkipsEachBadFileWithItsMessage) {
  std::unordered_set<std::string> names{"good.json", root.Path("/missing.json")};
  std::map<std::string, std::string> skipped{
      {root.Path("/missing.json"), "'value' is not a 'JsonObject'"}};
  int count = 100;
  for (const BadFile& bad : kBadFiles) {
    std::string file = "bad" + std::to_string(count++) + ".json";
    names.insert(file);
    skipped[Write(file, Changed(bad.changes))] = bad.message;
  }
  for (const auto& [file, text] : kUnparsable) {
    root.WriteFile(std::string(kPluginDir) + "/" + file, text);
    names.insert(file);
    skipped[root.Path(std::string(kPluginDir) + "/" + file)] = "'value' is not a 'JsonObject'";
  }
  Write("good.json", MinimalDocument());

  ::testing::internal::CaptureStderr();
  Plugin::LoadPlugins(names, 0);
  std::string reported = ::testing::internal::GetCapturedStderr();

  // Files load in byte order of their paths, which the map keeps too.
  std::string expected;
  for (const auto& [path, message] : skipped) expected += "Skipping " + path + ": " + message + "\n";
  EXPECT_EQ(expected, reported);
  ASSERT_EQ(1u, Plugin::registry().pendingPlugins.size());
  EXPECT_EQ("good", Plugin::registry().pendingPlugins.front()->name);
}

TEST_F(JsonPluginTest, FailureKinds) {
  EXPECT_THROW(Load(Changed({{"/metadata/version", "6"}})), VersionException);
  EXPECT_THROW(Load(Changed({{"/metadata/version", "\"6\""}})), JsonException);
  EXPECT_THROW(new JsonPlugin(root.Path("/nowhere.json")), JsonException);
}

TEST_F(JsonPluginTest, AValidFileFillsThePlugin) {
  json document = json::parse(R"({
    "description": "ignored",
    "metadata": {"provides": ["a", "a", "b"], "requires": ["net"], "version": 2.9,
                 "plugin_version": "1.4", "required_flags": ["x", "x"],
                 "disabling_flags": ["y"], "run_once": true, "preemptive_provider": true,
                 "unknown": {"nested": 1}},
    "operations": {"start": ["cmd one", "", "cmd one"], "apply_host_profile": ["hp"],
                   "stop": ["ignored"]}})");
  JsonPlugin* plugin = Load(document, "net.setup.json");
  EXPECT_EQ("net.setup", plugin->name);
  EXPECT_EQ((TagSet{"json plugins", "a", "b"}), plugin->provides);
  EXPECT_EQ(TagSet{"net"}, plugin->requires_);
  EXPECT_EQ(2, plugin->apiVersion);
  EXPECT_EQ("1.4", plugin->pluginVersion);
  EXPECT_EQ(TagSet{"x"}, plugin->requiredFlags);
  EXPECT_EQ(TagSet{"y"}, plugin->disablingFlags);
  EXPECT_TRUE(plugin->runOnce);
  EXPECT_TRUE(plugin->preemptiveProvider);
  EXPECT_EQ((Words{"cmd one", "", "cmd one"}), plugin->startCommands);
  EXPECT_EQ(Words{"hp"}, plugin->hostProfileCommands);
  EXPECT_TRUE(plugin->hostProfileAware);
  EXPECT_FALSE(plugin->nothingToStart);
  EXPECT_EQ(std::list<Plugin*>{plugin}, Plugin::registry().pendingPlugins);
  EXPECT_EQ("dawnstep.run-once=net.setup1.4", root.ReadFile("/.runonce"));
}

TEST_F(JsonPluginTest, VersionDependentMembers) {
  json minimal = MinimalDocument();
  JsonPlugin* plugin = Load(minimal, "minimal.json");
  EXPECT_EQ(TagSet{"json plugins"}, plugin->provides);
  EXPECT_TRUE(plugin->requires_.empty());
  EXPECT_TRUE(plugin->nothingToStart);
  EXPECT_FALSE(plugin->runOnce);

  json v1 = MinimalDocument();
  v1["operations"]["apply_host_profile"] = "ignored in version 1";
  v1["operations"]["start"] = {"x"};
  plugin = Load(v1, "v1.json");
  EXPECT_FALSE(plugin->hostProfileAware);
  EXPECT_TRUE(plugin->hostProfileCommands.empty());

  json v2 = MinimalDocument();
  v2["metadata"]["version"] = 2;
  v2["operations"]["apply_host_profile"] = json::array();
  v2["metadata"]["disabling_flags"] = "not a list";
  plugin = Load(v2, "v2.json");
  EXPECT_TRUE(plugin->hostProfileAware);
  EXPECT_TRUE(plugin->hostProfileCommands.empty());
  EXPECT_TRUE(plugin->disablingFlags.empty());
  // Host-profile commands alone leave nothing to start.
  EXPECT_TRUE(plugin->nothingToStart);

  json v5 = MinimalDocument();
  v5["metadata"]["version"] = 5.99;
  v5["metadata"]["run_once"] = false;
  plugin = Load(v5, "v5.json");
  EXPECT_EQ(5, plugin->apiVersion);
  EXPECT_FALSE(plugin->runOnce);
}

TEST(JsonPluginNameTest, BaseNameWithoutTheLastExtension) {
  EXPECT_EQ("net-setup", JsonPluginName("/usr/libexec/dawnstep/plugins/net-setup.json"));
  EXPECT_EQ("a.b", JsonPluginName("/dir/a.b.json"));
  EXPECT_EQ("", JsonPluginName("/dir/.json"));
  EXPECT_EQ("x", JsonPluginName("x.json"));
}

// What a forked child did: the result of its work and its two outputs.
struct ChildRun {
  int result = -1;  // 1 true, 0 false, -1 the child did not finish normally
  std::string out;
  std::string err;
};

// Activate moves this process's descriptors about, so it runs in a child
// whose standard output and error are files. The root has no /var/log, so
// the redirection to the command-output log cannot happen and leaves them.
ChildRun InChild(const TempRoot& root, const std::function<bool()>& work) {
  std::cout.flush();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(root.Path("/child.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(root.Path("/child.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(99);
    bool result = work();
    std::cout.flush();
    fflush(nullptr);
    _exit(result ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ChildRun run;
  if (WIFEXITED(status) && WEXITSTATUS(status) <= 1) run.result = WEXITSTATUS(status);
  run.out = root.ReadFile("/child.out");
  run.err = root.ReadFile("/child.err");
  return run;
}

// The texts of the process-log records at the failure level, as echoed on
// the child's standard error ("<time> Cr(2) <id>[<pid>]: <text>").
Words FailureRecords(const std::string& err) {
  Words records;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    size_t text = line.find("]: ");
    if (line.find(" Cr(2) ") != std::string::npos && text != std::string::npos) {
      records.push_back(line.substr(text + 3));
    }
  }
  return records;
}

json PluginDocument(const Words& start, const Words& hostProfile = {}) {
  json document = MinimalDocument();
  document["metadata"]["version"] = 2;
  document["operations"]["start"] = start;
  if (!hostProfile.empty()) document["operations"]["apply_host_profile"] = hostProfile;
  return document;
}

TEST_F(JsonPluginTest, AFailedCommandIsLoggedAndTheRestStillRun) {
  JsonPlugin* plugin =
      Load(PluginDocument({"demo touch --name=one", "demo fail", "demo touch --name=three"}));
  ChildRun run = InChild(root, [&] { return plugin->Activate(0); });
  EXPECT_EQ(0, run.result);
  EXPECT_EQ("one\nthree\n", root.ReadFile("/ran"));
  EXPECT_EQ((Words{"Method invocation failed: execute demo fail failed", "p: disk on fire",
                   "p: exit status 4"}),
            FailureRecords(run.err));
  EXPECT_EQ(Words{"Applying start on plugin p"}, NodeTexts(root, "/run/hkn/system.log"));
  EXPECT_EQ("", run.out);
}

TEST_F(JsonPluginTest, AllCommandsSucceeding) {
  JsonPlugin* plugin = Load(PluginDocument({"demo touch --name=a", "# comment", "demo touch"}));
  ChildRun run = InChild(root, [&] { return plugin->Activate(0); });
  EXPECT_EQ(1, run.result);
  EXPECT_EQ("a\n\n", root.ReadFile("/ran"));
  EXPECT_TRUE(FailureRecords(run.err).empty()) << run.err;
}

TEST_F(JsonPluginTest, HostProfileChoosesTheList) {
  JsonPlugin* plugin =
      Load(PluginDocument({"demo touch --name=start"}, {"demo touch --name=profile"}), "hp.json");
  ChildRun run = InChild(root, [&] { return plugin->Activate(Plugin::HostProfilePresent); });
  EXPECT_EQ(1, run.result);
  EXPECT_EQ("profile\n", root.ReadFile("/ran"));

  run = InChild(root, [&] { return plugin->Activate(0); });
  EXPECT_EQ("profile\nstart\n", root.ReadFile("/ran"));

  // Behind the barrier the start list runs, with a warning.
  run = InChild(root, [&] {
    return plugin->Activate(Plugin::HostProfilePresent | Plugin::HostProfileBarrier);
  });
  EXPECT_EQ("profile\nstart\nstart\n", root.ReadFile("/ran"));
  // (The root has no /var/log, so the redirection warned first.)
  EXPECT_TRUE(run.err.ends_with("]: Failed opening log file " +
                                root.Path("/var/log/dawnstep-orvocli-stdout.log") +
                                "\nPlugin tries to execute before host profile requirement.\n"))
      << run.err;

  // A dry run names the operation on the kernel log but says ": start".
  run = InChild(root, [&] { return plugin->Activate(Plugin::HostProfilePresent | Plugin::DryRun); });
  EXPECT_EQ(1, run.result);
  EXPECT_EQ("hp: start\n", run.out);
  EXPECT_EQ("profile\nstart\nstart\n", root.ReadFile("/ran"));
  EXPECT_EQ((Words{"Applying apply_host_profile on plugin hp", "Applying start on plugin hp",
                   "Applying start on plugin hp", "Applying apply_host_profile on plugin hp"}),
            NodeTexts(root, "/run/hkn/system.log"));
}

TEST_F(JsonPluginTest, PreemptiveProviderSkippedWhenPreemptionIsOff) {
  json document = PluginDocument({"demo touch --name=pre"});
  document["metadata"]["preemptive_provider"] = true;
  JsonPlugin* plugin = Load(document, "pre.json");
  ChildRun run = InChild(root, [&] { return plugin->Activate(Plugin::PreemptiveDisabled); });
  EXPECT_EQ(0, run.result);
  EXPECT_EQ("", root.ReadFile("/ran"));
  EXPECT_EQ((Words{"Applying start on plugin pre", "Plugin pre skipped."}),
            NodeTexts(root, "/run/hkn/system.log"));
  EXPECT_TRUE(FailureRecords(run.err).empty());
}

TEST_F(JsonPluginTest, DryRunDispatchesNothingButReportsParseFailures) {
  JsonPlugin* plugin = Load(PluginDocument({"demo fail", "demo touch --name=x"}), "d.json");
  ChildRun run = InChild(root, [&] { return plugin->Activate(Plugin::DryRun | Plugin::TimeOps); });
  EXPECT_EQ(1, run.result);
  EXPECT_EQ("d: start\n", run.out);
  EXPECT_EQ("", root.ReadFile("/ran"));

  plugin = Load(PluginDocument({"demo touch --name='x"}), "e.json");
  run = InChild(root, [&] { return plugin->Activate(Plugin::DryRun); });
  EXPECT_EQ(0, run.result);
  EXPECT_EQ((Words{"Method invocation failed: parse demo touch --name='x failed",
                   "e: Unterminated quote"}),
            FailureRecords(run.err));
}

TEST_F(JsonPluginTest, TimedCommandsPrintTheirTimingLines) {
  JsonPlugin* plugin = Load(PluginDocument({"demo touch --name=a", "demo fail"}), "t.json");
  ChildRun run = InChild(root, [&] { return plugin->Activate(Plugin::TimeOps); });
  EXPECT_EQ(0, run.result);
  EXPECT_TRUE(std::regex_match(run.out, std::regex("\\d+\\.\\d{6} orvocli demo touch --name=a\n"
                                                   "\\d+\\.\\d{6} orvocli demo fail\n")))
      << run.out;
}

}  // namespace
}  // namespace dawnstep
