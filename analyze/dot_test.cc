#include "analyze/dot.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dawnstep::analyze {
namespace {

TEST(DotTest, EdgesRunFromProviderToRequirerInStableOrder) {
  PluginGraph graph(
      {{"end-autoconf", {"builtin plugins"}, {"json plugins", "native plugins"}, false},
       {"net", {"json plugins", "network"}, {}, false},
       {"fast-net", {"json plugins", "network"}, {}, true},
       {"say \"hi\"\\", {"json plugins"}, {"usb", "network", "disk"}, false},
       {"disk", {"json plugins", "disk"}, {"usb"}, false}});
  std::ostringstream out;
  WriteDot(graph, out);
  EXPECT_EQ(
      "digraph plugins {\n"
      "  rankdir=LR;\n"
      "  node [shape=box];\n"
      "  p0 [label=\"end-autoconf\"];\n"
      "  p1 [label=\"net\"];\n"
      "  p2 [label=\"fast-net\", shape=octagon];\n"
      "  p3 [label=\"say \\\"hi\\\"\\\\\"];\n"
      "  p4 [label=\"disk\"];\n"
      "  p1 -> p0 [label=\"json plugins\"];\n"
      "  p2 -> p0 [label=\"json plugins\"];\n"
      "  p3 -> p0 [label=\"json plugins\"];\n"
      "  p4 -> p0 [label=\"json plugins\"];\n"
      "  p4 -> p3 [label=\"disk\"];\n"
      "  p1 -> p3 [label=\"network\"];\n"
      "  p2 -> p3 [label=\"network\"];\n"
      "  m0 [label=\"usb (no provider)\", shape=plaintext, fontcolor=red];\n"
      "  m0 -> p3 [label=\"usb\", style=dashed];\n"
      "  m0 -> p4 [label=\"usb\", style=dashed];\n"
      "}\n",
      out.str());
}

TEST(DotTest, QuotingKeepsTheFileValid) {
  EXPECT_EQ("\"a\\nb\"", DotQuote("a\nb"));
  EXPECT_EQ("\"\xEF\xBF\xBDok\"", DotQuote("\xFFok"));
  EXPECT_EQ("\"\"", DotQuote(""));
}

}  // namespace
}  // namespace dawnstep::analyze
