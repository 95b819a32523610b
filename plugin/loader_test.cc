#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "plugin/plugin.h"
#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TempRoot;
using testing::TestPlugin;

const char kDir[] = "/usr/libexec/dawnstep/plugins";
const char kDir2[] = "/usr/libexec/dawnstep/plugins2";
const char kSystemLog[] = "/run/hkn/system.log";

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Plugin::ResetRegistry();
    root.MakeDir("/run");
  }

  // Loads and returns the standard error the loader wrote.
  std::string Load(const std::unordered_set<std::string>& plugins, uint32_t seed) {
    ::testing::internal::CaptureStderr();
    Plugin::LoadPlugins(plugins, seed);
    return ::testing::internal::GetCapturedStderr();
  }

  // The paths the loader tried, in order: none of these files can be
  // loaded, so each one is reported as skipped.
  std::vector<std::string> Tried(const std::unordered_set<std::string>& plugins,
                                 uint32_t seed = 0) {
    std::vector<std::string> paths;
    std::istringstream lines(Load(plugins, seed));
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(line.starts_with("Skipping ")) << line;
      paths.push_back(line.substr(9, line.find(": ") - 9));
    }
    return paths;
  }

  std::string In(const std::string& dir, const std::string& name) {
    return root.Path(dir) + "/" + name;
  }

  TempRoot root;
};

TEST_F(LoaderTest, MissingDirectoriesLoadNothingQuietly) {
  EXPECT_EQ("", Load({}, 0));
  EXPECT_EQ(std::vector<std::string>{}, NodeTexts(root, kSystemLog));
}

TEST_F(LoaderTest, UnknownTypeIsSkippedWithBothReports) {
  root.WriteFile(std::string(kDir) + "/readme.txt", "hello");
  root.WriteFile(std::string(kDir) + "/lib.so.1", "");
  EXPECT_EQ("Skipping " + In(kDir, "lib.so.1") + ": unknown type\n" + "Skipping " +
                In(kDir, "readme.txt") + ": unknown type\n",
            Load({}, 0));
  EXPECT_EQ((std::vector<std::string>{
                "exception occurred whilst loading plugin " + In(kDir, "lib.so.1") +
                    ": unknown type",
                "exception occurred whilst loading plugin " + In(kDir, "readme.txt") +
                    ": unknown type"}),
            NodeTexts(root, kSystemLog));
}

TEST_F(LoaderTest, OnlyVisibleRegularFilesAreListed) {
  root.WriteFile(std::string(kDir) + "/plain.txt", "");
  root.WriteFile(std::string(kDir) + "/.hidden.json", "");
  root.WriteFile(std::string(kDir) + "/.keep", "");
  root.MakeDir(std::string(kDir) + "/sub.json");
  root.WriteFile(std::string(kDir) + "/sub.json/inner.txt", "");
  root.WriteFile("/elsewhere/target.txt", "");
  ASSERT_EQ(0, symlink(root.Path("/elsewhere/target.txt").c_str(),
                       In(kDir, "link.txt").c_str()));
  root.MakeDir(kDir2);
  ASSERT_EQ(0, symlink(In(kDir, "plain.txt").c_str(), In(kDir2, "link2.txt").c_str()));
  EXPECT_EQ(std::vector<std::string>{In(kDir, "plain.txt")}, Tried({}));
}

TEST_F(LoaderTest, PathsAreSortedBytewiseAcrossBothDirectories) {
  for (const char* name : {"b.json", "a.json", "B.json", "a.json~"}) {
    root.WriteFile(std::string(kDir) + "/" + name, "");
  }
  root.WriteFile(std::string(kDir2) + "/0.json", "");
  EXPECT_EQ((std::vector<std::string>{In(kDir, "B.json"), In(kDir, "a.json"),
                                      In(kDir, "a.json~"), In(kDir, "b.json"),
                                      In(kDir2, "0.json")}),
            Tried({}));
}

TEST_F(LoaderTest, SeedShufflesReproduciblyAndSaysSo) {
  std::vector<std::string> sorted;
  for (char name = 'a'; name <= 'h'; ++name) {
    root.WriteFile(std::string(kDir) + "/" + name + ".txt", "");
    sorted.push_back(In(kDir, std::string(1, name) + ".txt"));
  }
  EXPECT_EQ(sorted, Tried({}, 0));
  EXPECT_EQ(8u, NodeTexts(root, kSystemLog).size());

  std::vector<std::string> first = Tried({}, 7);
  EXPECT_EQ(first, Tried({}, 7));
  EXPECT_NE(sorted, first);
  EXPECT_NE(first, Tried({}, 8));
  std::sort(first.begin(), first.end());
  EXPECT_EQ(sorted, first);

  std::vector<std::string> records = NodeTexts(root, kSystemLog);
  auto announced = [&records](const std::string& seed) {
    return std::count(records.begin(), records.end(),
                      "Dawnstep is randomizing iteration order using seed: " + seed);
  };
  EXPECT_EQ(0, announced("0"));
  EXPECT_EQ(2, announced("7"));
  EXPECT_EQ(1, announced("8"));
}

TEST_F(LoaderTest, SeedIsAnnouncedEvenWithNothingToLoad) {
  Load({}, 4294967295u);
  EXPECT_EQ(
      std::vector<std::string>{"Dawnstep is randomizing iteration order using seed: 4294967295"},
      NodeTexts(root, kSystemLog));
}

TEST_F(LoaderTest, ExplicitNamesResolveThroughThePluginDirectories) {
  root.WriteFile(std::string(kDir) + "/both.txt", "");
  root.WriteFile(std::string(kDir2) + "/both.txt", "");
  root.WriteFile(std::string(kDir2) + "/second.txt", "");
  root.WriteFile(std::string(kDir) + "/unlisted.txt", "");
  // Typed paths are taken as given, never under the root.
  root.WriteFile("/opt/abs.txt", "");
  std::vector<std::string> expected{In(kDir2, "second.txt"), In(kDir, "both.txt"), "/opt/abs.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Tried({"second.txt", "both.txt", "/opt/abs.txt"}));
}

TEST_F(LoaderTest, UnresolvedNameAbandonsTheWholeList) {
  TestPlugin earlier("earlier", {"json plugins"}, {});
  root.WriteFile(std::string(kDir) + "/found.txt", "");
  EXPECT_EQ("Failed to list plugins: Cannot find plugin 'lost.json'\n",
            Load({"found.txt", "lost.json", "/opt/abs.txt"}, 3));
  EXPECT_EQ(std::vector<std::string>{
                "exception occurred whilst listing plugins: Cannot find plugin 'lost.json'"},
            NodeTexts(root, kSystemLog));
  EXPECT_EQ(std::list<Plugin*>{&earlier}, Plugin::registry().pendingPlugins);
}

}  // namespace
}  // namespace dawnstep
