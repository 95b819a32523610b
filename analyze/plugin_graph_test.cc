#include "analyze/plugin_graph.h"

#include <gtest/gtest.h>

namespace dawnstep::analyze {
namespace {

PluginGraph Sample() {
  return PluginGraph(
      {{"end-autoconf", {"builtin plugins"}, {"json plugins", "native plugins"}, false},
       {"loop", {"json plugins", "x"}, {"x", "usb"}, false},
       {"fast", {"json plugins", "x", "y"}, {}, true},
       {"slow", {"native plugins", "y"}, {}, false}});
}

TEST(PluginGraphTest, BlockersAreProvidersOfRequiredTagsThenPreemptiveRivals) {
  PluginGraph graph = Sample();
  auto describe = [&](size_t plugin) {
    std::vector<std::string> lines;
    for (const Blocker& blocker : graph.BlockersOf(plugin)) {
      lines.push_back(graph.plugins()[blocker.plugin].name + " " + blocker.tag +
                      (blocker.preemption ? " preempts" : ""));
    }
    return lines;
  };
  EXPECT_EQ(
      (std::vector<std::string>{"loop json plugins", "fast json plugins", "slow native plugins"}),
      describe(0));
  // A plugin that requires its own tag waits for itself; a preemptive
  // provider never holds itself back.
  EXPECT_EQ((std::vector<std::string>{"loop x", "fast x", "fast x preempts"}), describe(1));
  EXPECT_EQ(std::vector<std::string>{}, describe(2));
  EXPECT_EQ(std::vector<std::string>{"fast y preempts"}, describe(3));
}

TEST(PluginGraphTest, UsedTagsLeaveOutKindTags) {
  EXPECT_EQ((TagSet{"usb", "x", "y"}), Sample().UsedTags());
  EXPECT_EQ((std::vector<size_t>{}), Sample().Named("absent"));
  EXPECT_EQ((std::vector<size_t>{2}), Sample().Named("fast"));
  EXPECT_TRUE(PluginGraph({}).UsedTags().empty());
}

}  // namespace
}  // namespace dawnstep::analyze
