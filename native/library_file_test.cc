#include "native/library_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "plugin/plugin.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

using testing::TempRoot;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string CheckFailure(const std::string& path) {
  try {
    CheckLibraryFile(path);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(accepted)";
}

// A library cut short used to be mapped anyway and ended the loading
// process with a bus error. Every cut must now be a load failure or a
// loaded plugin, never the end of the process; the loads run in a child so
// that a crash fails this test rather than the test program.
TEST(LibraryFileTest, TruncatedLibrariesAreRejectedWithoutCrashing) {
  TempRoot root;
  const std::string library = Contents(DAWNSTEP_TEST_PLUGIN_DIR "/libv3.so");
  ASSERT_GT(library.size(), 8192u);
  std::vector<std::string> cuts;
  for (size_t size = 64; size < library.size(); size += library.size() / 23) {
    cuts.push_back(root.Path("/libcut" + std::to_string(size) + ".so"));
    root.WriteFile("/libcut" + std::to_string(size) + ".so", library.substr(0, size));
  }
  std::string half = root.Path("/libhalf.so");
  root.WriteFile("/libhalf.so", library.substr(0, library.size() / 2));
  EXPECT_EQ("Invalid plugin: " + half + ": file is shorter than its loadable segments",
            CheckFailure(half));

  fflush(nullptr);
  pid_t child = fork();
  ASSERT_LE(0, child);
  if (child == 0) {
    Plugin::ResetRegistry();
    for (const std::string& cut : cuts) {
      try {
        Plugin::LoadNativePlugin(cut);
      } catch (const std::exception&) {
      }
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

TEST(LibraryFileTest, LeavesOtherFilesToTheLoader) {
  TempRoot root;
  EXPECT_EQ("(accepted)", CheckFailure(DAWNSTEP_TEST_PLUGIN_DIR "/libv3.so"));
  root.WriteFile("/junk.so", std::string("\x7f" "ELF", 4));
  EXPECT_EQ("(accepted)", CheckFailure(root.Path("/junk.so")));
  EXPECT_EQ("(accepted)", CheckFailure(root.Path("/missing.so")));
  ASSERT_EQ(0, mkfifo(root.Path("/fifo.so").c_str(), 0600));
  EXPECT_EQ("(accepted)", CheckFailure(root.Path("/fifo.so")));
}

}  // namespace
}  // namespace dawnstep
