#include "analyze/verify.h"

#include <gtest/gtest.h>

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
