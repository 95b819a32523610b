#include "cli/orvocli.h"

#include <gtest/gtest.h>

#include "platform/tolvar/dispatcher.h"
#include "tests/temp_root.h"

namespace dawnstep {

TEST(Orvocli, OneDispatcherReadsTheFourCommandDirectoriesInOrder) {
  testing::TempRoot root;
  root.WriteFile("/usr/lib/corvane/orvocli/int/ext/a.json",
                 R"({"namespace": "a  b", "commands": [{"name": "c", "handler": "h"}]})");
  Orvocli::ResetDispatcher();
  Orvocli first, second;
  Tolvar::AutoCli::Dispatcher* shared = Orvocli::SharedDispatcher();
  const std::string base = root.Path("/usr/lib/corvane/orvocli");
  EXPECT_EQ(shared->Directories(), (std::vector<std::string>{base, base + "/int",
                                                              base + "/int/ext", base + "/ext"}));
  EXPECT_TRUE(shared->Check({"a", "b", "c"}, {}).empty());
  EXPECT_TRUE(shared->Check({"a b", "c"}, {}).empty());
  EXPECT_EQ(shared->Check({"a", "b"}, {}), std::vector<std::string>{"Unknown command 'a b'"});
  Orvocli::ResetDispatcher();
}

}  // namespace dawnstep
