#include "log/hkn_buffer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/hkn.h"
#include "tests/child_process.h"

namespace dawnstep {
namespace {

using testing::ChildOutcome;
using testing::RunInChild;

struct HKN_ParamListStandIn {};

// Records every node call but the signature check (counted on its own,
// since whether a process still checks depends on what ran before).
class FakeHkn final : public HknInterface {
 public:
  FakeHkn() { SetHknInterface(this); }
  ~FakeHkn() override { SetHknInterface(nullptr); }

  int32_t CheckSig(uint32_t* ours, int32_t expected, uint32_t* theirs) override {
    ++checkSigCalls;
    lastExpected = expected;
    bool gotOutputs = ours != nullptr && theirs != nullptr;
    return gotOutputs ? checkSigResult : -99;
  }
  HKN_ParamList* ParamListCreate(uint32_t outputs, uint32_t inputs) override {
    calls.push_back("create " + std::to_string(outputs) + " " + std::to_string(inputs));
    return failCreate ? nullptr : reinterpret_cast<HKN_ParamList*>(&list);
  }
  int32_t ParamListAddString(HKN_ParamList*, const char* text) override {
    calls.push_back("add " + std::string(text));
    return addResult;
  }
  int32_t Set(uint32_t node, void* reserved, HKN_ParamList* paramList, void* output,
              uint32_t flags) override {
    bool plain = reserved == nullptr && output == nullptr && flags == 0 &&
                 paramList == reinterpret_cast<HKN_ParamList*>(&list);
    calls.push_back("set " + std::to_string(node) + (plain ? "" : " with odd arguments"));
    return setResult;
  }
  void ParamListDestroy(HKN_ParamList*) override { calls.push_back("destroy"); }

  int32_t checkSigResult = 0;
  bool failCreate = false;
  int32_t addResult = 0;
  int32_t setResult = 0;
  int checkSigCalls = 0;
  int32_t lastExpected = 0;
  std::vector<std::string> calls;

 private:
  HKN_ParamListStandIn list;
};

// Opens the stream-buffer operations to the tests.
class OpenBuffer final : public HknBuffer {
 public:
  using HknBuffer::HknBuffer;
  using HknBuffer::overflow;
};

const uint32_t kNode = 0x1234;

std::vector<std::string> SentTo(uint32_t node, const std::string& text) {
  return {"create 0 1", "add " + text, "set " + std::to_string(node), "destroy"};
}

TEST(HknBuffer, FlushSendsPendingTextOnceThenStartsEmpty) {
  FakeHkn hkn;
  HknBuffer buffer(kNode, false);
  std::ostream out(&buffer);

  out << "abc" << std::endl;
  EXPECT_TRUE(out.good());
  EXPECT_EQ(hkn.calls, SentTo(kNode, "abc"));

  hkn.calls.clear();
  out.flush();
  EXPECT_EQ(hkn.calls, SentTo(kNode, "")) << "a flush with nothing pending sends an empty string";

  hkn.calls.clear();
  out << "3 of " << 4 << " plugins\xff";
  EXPECT_EQ(buffer.pubsync(), 0);
  EXPECT_EQ(hkn.calls, SentTo(kNode, "3 of 4 plugins\xff"));
}

TEST(HknBuffer, EachFailedStepReportsAndDiscardsThePendingText) {
  struct Case {
    const char* name;
    void (*breakIt)(FakeHkn&);
    const char* message;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"create",
       [](FakeHkn& hkn) { hkn.failCreate = true; },
       "Failed to create HKN param list.\n",
       {"create 0 1"}},
      {"add",
       [](FakeHkn& hkn) { hkn.addResult = 3; },
       "Failed to add HKN input string.\n",
       {"create 0 1", "add lost", "destroy"}},
      {"set", [](FakeHkn& hkn) { hkn.setResult = -5; }, "Failed to set HKN node.\n",
       SentTo(kNode, "lost")},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.name);
    FakeHkn hkn;
    ChildOutcome child = RunInChild([&] {
      HknBuffer buffer(kNode, false);
      std::ostream out(&buffer);
      failure.breakIt(hkn);
      out << "lost";
      int failed = buffer.pubsync();
      std::vector<std::string> failedCalls = hkn.calls;

      FakeHkn working;
      out << "next";
      int next = buffer.pubsync();
      return std::to_string(failed) + "/" + std::to_string(next) + "\n" +
             ::testing::PrintToString(failedCalls) + "\n" + ::testing::PrintToString(working.calls);
    });
    ASSERT_EQ(child.exitCode, 0) << child.report;
    EXPECT_EQ(child.report, "-1/0\n" + ::testing::PrintToString(failure.calls) + "\n" +
                                ::testing::PrintToString(SentTo(kNode, "next")));
    EXPECT_EQ(child.err, failure.message);
  }
}

TEST(HknBuffer, OverflowRules) {
  FakeHkn hkn;
  OpenBuffer plain(kNode, false);
  OpenBuffer status(kNode + 1, true);
  const int eof = std::char_traits<char>::eof();

  EXPECT_EQ(plain.overflow('a'), 'a');
  EXPECT_EQ(plain.overflow('\n'), 0);
  EXPECT_EQ(plain.overflow(eof), eof);
  EXPECT_EQ(plain.overflow(0xff), 0xff);
  plain.pubsync();
  EXPECT_EQ(hkn.calls, SentTo(kNode, "a\xff")) << "line feed dropped, end-of-file not stored";

  hkn.calls.clear();
  EXPECT_EQ(status.overflow('a'), 'a');
  EXPECT_EQ(status.overflow('\n'), '\n');
  EXPECT_EQ(status.overflow(eof), eof);
  status.pubsync();
  EXPECT_EQ(hkn.calls, SentTo(kNode + 1, "a\n")) << "the status buffer keeps line feeds";

  for (OpenBuffer* buffer : {&plain, &status}) {
    hkn.calls.clear();
    std::ostream out(buffer);
    out << "x\ny\r";
    EXPECT_EQ(buffer->overflow('\r'), 0);
    out << "z" << std::flush;
    EXPECT_EQ(hkn.calls.at(1), "add z") << "a carriage return erases what came before it";
  }
}

TEST(HknBuffer, DeactivatedBuffersDiscardWithoutTouchingTheNode) {
  FakeHkn hkn;
  ChildOutcome child = RunInChild([&hkn] {
    HknBuffer buffer(kNode, true);
    std::ostream out(&buffer);
    out << "pending from before\n";
    DeactivateKernelLog();
    out.flush();
    out << "after" << std::endl;
    std::string report = out.good() ? "good" : "not good";
    report += " sync=" + std::to_string(buffer.pubsync());
    report += " checks=" + std::to_string(hkn.checkSigCalls) +
              " calls=" + ::testing::PrintToString(hkn.calls);
    return report;
  });
  EXPECT_EQ(child.report, "good sync=0 checks=0 calls={}");
  EXPECT_EQ(child.err, "");
}

// The signature check is a one-shot per process, so this runs in a process
// that has not flushed anything yet.
TEST(HknBuffer, SignatureMismatchKeepsTextAndIsCheckedAgainUntilItPasses) {
  if (!testing::InFreshProcess()) {
    ChildOutcome fresh = testing::RerunInFreshProcess();
    EXPECT_EQ(fresh.exitCode, 0) << fresh.out << fresh.err;
    EXPECT_EQ(fresh.err, "HKN signature mismatch\nHKN signature mismatch\n");
    return;
  }
  FakeHkn hkn;
  HknBuffer first(kNode, false);
  HknBuffer second(kNode + 1, false);
  std::ostream out(&first);

  hkn.checkSigResult = 7;
  out << "kept";
  EXPECT_EQ(first.pubsync(), -1);
  EXPECT_EQ(first.pubsync(), -1);
  EXPECT_EQ(hkn.checkSigCalls, 2);
  EXPECT_EQ(hkn.lastExpected, 21);
  EXPECT_TRUE(hkn.calls.empty()) << "nothing is sent while the signatures differ";

  hkn.checkSigResult = 0;
  out << " and more";
  EXPECT_EQ(first.pubsync(), 0);
  EXPECT_EQ(hkn.checkSigCalls, 3);
  EXPECT_EQ(hkn.calls, SentTo(kNode, "kept and more"));

  hkn.checkSigResult = 7;
  hkn.calls.clear();
  EXPECT_EQ(second.pubsync(), 0) << "the passed check holds for every buffer";
  EXPECT_EQ(first.pubsync(), 0);
  EXPECT_EQ(hkn.checkSigCalls, 3);
  EXPECT_EQ(hkn.calls.size(), 8u);
}

}  // namespace
}  // namespace dawnstep
