#include "log/kernel_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/hkn.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

// Records the node calls; fails the step it is told to.
class FakeHkn final : public HknInterface {
 public:
  explicit FakeHkn(std::string failing) : failing(std::move(failing)) { SetHknInterface(this); }
  ~FakeHkn() override { SetHknInterface(nullptr); }

  int32_t CheckSig(uint32_t*, int32_t, uint32_t*) override { return 0; }
  HKN_ParamList* ParamListCreate(uint32_t outputs, uint32_t inputs) override {
    calls += "create " + std::to_string(outputs) + " " + std::to_string(inputs) + ";";
    return failing == "create" ? nullptr : reinterpret_cast<HKN_ParamList*>(this);
  }
  int32_t ParamListAddString(HKN_ParamList*, const char* text) override {
    calls += "add " + std::string(text) + ";";
    return failing == "add" ? 3 : 0;
  }
  int32_t Set(uint32_t node, void*, HKN_ParamList*, void*, uint32_t) override {
    calls += node == HKN_NODE_system_sysAlert ? "set alert;" : "set other;";
    return failing == "set" ? -5 : 0;
  }
  void ParamListDestroy(HKN_ParamList*) override { calls += "destroy;"; }

  std::string failing;
  std::string calls;
};

// A failed send is reported, drops its text and marks the stream bad; the
// next message still goes out, on the stream the next use hands out.
TEST(KernelLog, AFailedSendLosesOnlyItsOwnMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"create", "Failed to create HKN param list.\n", "create 0 1;"},
      {"add", "Failed to add HKN input string.\n", "create 0 1;add lost;destroy;"},
      {"set", "Failed to set HKN node.\n", "create 0 1;add lost;set alert;destroy;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    {
      FakeHkn broken(c[0]);
      ::testing::internal::CaptureStderr();
      EXPECT_TRUE((AlertLog() << "lost" << std::endl).bad());
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), c[1]);
      EXPECT_EQ(broken.calls, c[2]);
    }
    FakeHkn working("");
    EXPECT_TRUE((AlertLog() << "a\nb\rnext" << std::endl).good());
    EXPECT_EQ(working.calls, "create 0 1;add next;set alert;destroy;");
  }
}

// A node file holds one JSON object per line, its fields in this order;
// the text is escaped whatever it holds, bytes that are not UTF-8 replaced.
TEST(KernelLog, ANodeRecordIsOneEscapedJsonLine) {
  testing::TempRoot root;
  KernelLog() << "say \"hi\" \\ \t\x01 caf\xe9" << std::endl;
  std::regex record(
      R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z","pid":\d+,)"
      R"("text":"say \\"hi\\" \\\\ \\t\\u0001 caf\xef\xbf\xbd"\}\n)");
  EXPECT_TRUE(std::regex_match(root.ReadFile("/run/hkn/system.log"), record))
      << root.ReadFile("/run/hkn/system.log");
}

// A node the host does not have takes no record, and nothing is made for
// it: not even on a root that does not exist yet.
TEST(KernelLog, AnUnknownNodeIsRefused) {
  testing::TempRoot root;
  setenv("DAWNSTEP_ROOT", root.Path("/fresh").c_str(), 1);
  HKN_ParamList* list = HKN_ParamListCreate(0, 1);
  HKN_ParamListAddString(list, "text");
  EXPECT_NE(HKN_Set(0x999, nullptr, list, nullptr, 0), 0);
  HKN_ParamListDestroy(list);
  EXPECT_FALSE(std::filesystem::exists(root.Path("/fresh")));
}

}  // namespace
}  // namespace dawnstep
