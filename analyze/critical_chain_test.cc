#include "analyze/critical_chain.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep::analyze {
namespace {

const Micros kMs = 1000;

std::vector<std::string> Names(const std::vector<ChainLink>& chain) {
  std::vector<std::string> names;
  for (const ChainLink& link : chain) names.push_back(link.activation->name);
  return names;
}

// base <- {fast, slow} <- top; late provides what top needs but ended after
// top started, so it cannot have held top back.
PluginGraph Diamond() {
  return PluginGraph({{"top", {"json plugins", "t"}, {"x", "y"}, false},
                      {"fast", {"x"}, {"b"}, false},
                      {"slow", {"y"}, {"b"}, false},
                      {"late", {"x"}, {}, false},
                      {"base", {"b"}, {}, false},
                      {"other", {"o"}, {}, false}});
}

BootProfile DiamondBoot() {
  BootProfile profile;
  profile.start = 0;
  profile.activations = {{"base", 10 * kMs, 100 * kMs},  {"fast", 100 * kMs, 150 * kMs},
                         {"slow", 101 * kMs, 300 * kMs}, {"late", 150 * kMs, 900 * kMs},
                         {"top", 310 * kMs, 400 * kMs},  {"other", 0, 350 * kMs}};
  return profile;
}

TEST(CriticalChainTest, WalksBackThroughTheLatestBlocker) {
  BootProfile profile = DiamondBoot();
  PluginGraph graph = Diamond();
  // Without a plugin the walk starts at the last to finish, which waited
  // for nothing.
  EXPECT_EQ(std::vector<std::string>{"late"}, Names(CriticalChain(profile, graph, "")));

  std::vector<ChainLink> chain = CriticalChain(profile, graph, "top");
  EXPECT_EQ((std::vector<std::string>{"top", "slow", "base"}), Names(chain));
  std::ostringstream out;
  WriteCriticalChain(chain, *profile.start, out);
  EXPECT_EQ(
      "top  start +310.000 ms  took 90.000 ms\n"
      "  slow  start +101.000 ms  took 199.000 ms  provides 'y'\n"
      "    base  start +10.000 ms  took 90.000 ms  provides 'b'\n",
      out.str());

  EXPECT_THROW(CriticalChain(profile, graph, "absent"), std::runtime_error);
  EXPECT_TRUE(CriticalChain(BootProfile(), graph, "").empty());
}

TEST(CriticalChainTest, FollowsPreemptiveProvidersAndKindTags) {
  PluginGraph graph({{"end", {"builtin plugins"}, {"json plugins"}, false},
                     {"ordinary", {"json plugins", "net"}, {}, false},
                     {"preemptive", {"json plugins", "net"}, {}, true},
                     {"early", {"json plugins"}, {}, false}});
  BootProfile profile;
  profile.activations = {{"early", 0, 5 * kMs},
                         {"preemptive", 1 * kMs, 20 * kMs},
                         {"ordinary", 20 * kMs, 30 * kMs},
                         {"end", 30 * kMs, 31 * kMs}};
  std::vector<ChainLink> chain = CriticalChain(profile, graph, "");
  EXPECT_EQ((std::vector<std::string>{"end", "ordinary", "preemptive"}), Names(chain));
  EXPECT_EQ("json plugins", chain[1].tag);
  EXPECT_TRUE(chain[2].preemption);
  std::ostringstream out;
  // Offsets count from the earliest start when the trailer is missing.
  WriteCriticalChain(chain, profile.Origin(), out);
  EXPECT_EQ(
      "end  start +30.000 ms  took 1.000 ms\n"
      "  ordinary  start +20.000 ms  took 10.000 ms  provides 'json plugins'\n"
      "    preemptive  start +1.000 ms  took 19.000 ms  preemptive provider of 'net'\n",
      out.str());
}

TEST(CriticalChainTest, RecordsThatTouchBothWaysEndTheWalk) {
  // Two zero-length activations at the same instant, each requiring the
  // other: a walk that revisited records would never end.
  PluginGraph graph({{"a", {"ta"}, {"tb"}, false}, {"b", {"tb"}, {"ta"}, false}});
  BootProfile profile;
  profile.activations = {{"a", 5, 5}, {"b", 5, 5}};
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Names(CriticalChain(profile, graph, "")));
}

TEST(CriticalChainTest, ReadsTheRegisteredPlugins) {
  testing::TempRoot root;
  Plugin::ResetRegistry();
  testing::TestPlugin provider("provider", {"json plugins", "net"}, {});
  testing::TestPlugin user("user", {"json plugins"}, {"net"});
  user.preemptiveProvider = true;
  std::vector<PluginInfo> plugins = RegisteredPlugins();
  ASSERT_EQ(2u, plugins.size());
  EXPECT_EQ("user", plugins[1].name);
  EXPECT_EQ(TagSet{"net"}, plugins[1].requires_);
  EXPECT_EQ((TagSet{"json plugins", "net"}), plugins[0].provides);
  EXPECT_TRUE(plugins[1].preemptiveProvider);
  Plugin::ResetRegistry();
}

}  // namespace
}  // namespace dawnstep::analyze
