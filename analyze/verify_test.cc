#include "analyze/verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/temp_root.h"

namespace dawnstep::analyze {
namespace {

using Lines = std::vector<std::string>;

TEST(VerifyTest, CleanSetHasNoWarnings) {
  // A diamond reaches one plugin along two paths without being a cycle.
  PluginGraph graph(
      {{"end-autoconf", {"builtin plugins"}, {"json plugins", "native plugins"}, false},
       {"top", {"json plugins"}, {"x", "y"}, false},
       {"left", {"json plugins", "x"}, {"z"}, false},
       {"right", {"json plugins", "y"}, {"z"}, false},
       {"bottom", {"json plugins", "z"}, {}, true}});
  EXPECT_EQ(Lines{}, PluginWarnings(graph));
}

TEST(VerifyTest, ReportsUnprovidedTagsCyclesAndRivalPreemptiveProviders) {
  PluginGraph graph({{"a", {"json plugins", "ta"}, {"tb", "usb"}, false},
                     {"self", {"json plugins", "own"}, {"own"}, false},
                     {"b", {"json plugins", "tb"}, {"tc"}, true},
                     {"c", {"json plugins", "tc"}, {"ta"}, false},
                     {"d", {"json plugins", "ta"}, {"disk", "native plugins"}, true},
                     {"e", {"json plugins", "ta", "tb"}, {}, true},
                     {"f", {"json plugins"}, {"builtin plugins"}, false}});
  EXPECT_EQ(
      (Lines{"warning: plugin 'a' requires tag 'usb', which no plugin provides",
             "warning: plugin 'd' requires tag 'disk', which no plugin provides",
             "warning: requirement cycle: a requires 'tb' from b, b requires 'tc' from c, "
             "c requires 'ta' from a",
             "warning: requirement cycle: self requires 'own' from self",
             "warning: tag 'ta' has 2 preemptive providers, which hold each other back: d, e",
             "warning: tag 'tb' has 2 preemptive providers, which hold each other back: b, e"}),
      PluginWarnings(graph));
}

TEST(VerifyTest, KindTagsTakePartInCycles) {
  PluginGraph graph({{"end-autoconf", {"builtin plugins"}, {"json plugins"}, false},
                     {"late", {"json plugins"}, {"builtin plugins"}, false}});
  EXPECT_EQ((Lines{"warning: requirement cycle: end-autoconf requires 'json plugins' from "
                   "late, late requires 'builtin plugins' from end-autoconf"}),
            PluginWarnings(graph));
}

TEST(VerifyTest, CommandLinesThatCannotRun) {
  testing::TempRoot root;
  root.WriteFile("/cmds/hostname.json", R"({"namespace": "system hostname", "commands": [
      {"name": "set", "handler": "bin/set", "parameters": [{"name": "fqdn"}]}]})");
  root.WriteScript("/cmds/bin/set", "#!/bin/sh\ntouch \"$DAWNSTEP_ROOT/ran\"\n");
  Tolvar::AutoCli::Dispatcher commands;
  commands.AddExternalDirectory(root.Path("/cmds"));
  std::vector<PluginCommands> plugins = {
      {"net",
       {"system hostname set --fqdn a", "", "  # a comment with 'a quote",
        "system hostname set --fqdn 'b", "system  hostname get", "--fqdn x y -- z"},
       {"'system hostname' set --unknown-parameter=1", "system hostname"}},
      {"clean", {"system hostname set --fqdn c"}, {}},
      {"late", {}, {"system  route add"}},
  };
  EXPECT_EQ(
      (Lines{"warning: plugin 'net' start command 'system hostname set --fqdn 'b' does not "
             "parse: Unterminated quote",
             "warning: plugin 'net' start command 'system  hostname get' calls 'system hostname "
             "get', which no command descriptor defines",
             "warning: plugin 'net' start command '--fqdn x y -- z' does not parse: Missing "
             "command",
             "warning: plugin 'net' start command '--fqdn x y -- z' does not parse: Unexpected "
             "argument 'y'",
             "warning: plugin 'net' start command '--fqdn x y -- z' does not parse: Empty option "
             "name",
             "warning: plugin 'net' start command '--fqdn x y -- z' does not parse: Unexpected "
             "argument 'z'",
             "warning: plugin 'net' apply_host_profile command 'system hostname' calls 'system "
             "hostname', which no command descriptor defines",
             "warning: plugin 'late' apply_host_profile command 'system  route add' calls "
             "'system route add', which no command descriptor defines"}),
      CommandWarnings(plugins, commands));
  // Parameters are the handler's business, checked when it runs; nothing ran here.
  EXPECT_FALSE(std::filesystem::exists(root.Path("/ran")));
}

TEST(VerifyTest, CommandLinesOfRegisteredJsonPluginsOnly) {
  testing::TempRoot root;
  Plugin::ResetRegistry();
  root.WriteFile("/p/v1.json", R"({"metadata": {"provides": [], "requires": [], "version": 1},
      "operations": {"start": ["a b"], "apply_host_profile": ["c d"]}})");
  root.WriteFile("/p/v2.json", R"({"metadata": {"provides": [], "requires": [], "version": 2},
      "operations": {"start": [], "apply_host_profile": ["e f", "g"]}})");
  Plugin::LoadBuiltins();
  for (const char* file : {"/p/v1.json", "/p/v2.json"}) Plugin::LoadPlugin(root.Path(file));
  std::vector<PluginCommands> found = RegisteredCommands();
  ASSERT_EQ(2u, found.size());
  EXPECT_EQ("v1", found[0].plugin);
  EXPECT_EQ(Lines{"a b"}, found[0].start);
  EXPECT_EQ(Lines{}, found[0].hostProfile);  // a version 1 file's is never run
  EXPECT_EQ("v2", found[1].plugin);
  EXPECT_EQ(Lines{}, found[1].start);
  EXPECT_EQ((Lines{"e f", "g"}), found[1].hostProfile);
  Plugin::ResetRegistry();
}

TEST(VerifyTest, LoaderFailuresNameTheFileAndTheReason) {
  testing::TempRoot root;
  root.WriteFile("/plugins/readme.txt", "not a plugin");
  root.MakeDir("/plugins/dir.json");
  std::ostringstream out;
  std::string missing = root.Path("/plugins/missing.json");
  EXPECT_EQ(3u,
            LoadPluginFiles(
                {root.Path("/plugins/readme.txt"), missing, root.Path("/plugins/dir.json")}, out));
  EXPECT_EQ("Skipping " + root.Path("/plugins/readme.txt") + ": unknown type\n" + "Skipping " +
                missing + ": No such file or directory\n" + "Skipping " +
                root.Path("/plugins/dir.json") + ": Is a directory\n",
            out.str());
}

}  // namespace
}  // namespace dawnstep::analyze
