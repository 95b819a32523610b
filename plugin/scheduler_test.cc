#include "plugin/scheduler.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <random>

#include "log/kernel_log.h"
#include "platform/base.h"
#include "platform/file_system.h"
#include "platform/hkn.h"
#include "platform/root.h"
#include "tests/fake_worker_side.h"
#include "tests/temp_root.h"
#include "tests/test_plugin.h"
#include "worker/worker.h"

namespace dawnstep {
namespace {

using testing::FakeWorkerSide;
using testing::NodeTexts;
using testing::TempRoot;
using testing::TestPlugin;
using Lines = std::vector<std::string>;

const char kSystemLog[] = "/run/hkn/system.log";
const char kAlerts[] = "/run/hkn/system.sysAlert";
const char kProgress[] = "/run/hkn/system.progressTerm.progressText";
const char kStatus[] = "/run/hkn/system.progressTerm.statusText";

// The prompt's script: answers handed out in order, names asked about.
std::deque<uint32_t> promptAnswers;
Lines* promptsAsked = nullptr;

uint32_t ScriptedPrompt(const std::string& name) {
  if (promptsAsked != nullptr) promptsAsked->push_back("prompt " + name);
  uint32_t answer = promptAnswers.empty() ? Plugin::InteractiveMode : promptAnswers.front();
  if (!promptAnswers.empty()) promptAnswers.pop_front();
  return answer;
}

struct ProcessEnded {
  int status;
};

[[noreturn]] void ThrowProcessEnded(int status) { throw ProcessEnded{status}; }

class SchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.MakeDir("/run/hkn");
    root.MakeDir("/var/log");
    Plugin::ResetRegistry();
    Use(side);
    promptAnswers.clear();
    promptsAsked = &events;
    SetPromptHook(&ScriptedPrompt);
    // A run that gives up fails the test instead of ending the test binary.
    SetExitHook(&ThrowProcessEnded);
  }
  void TearDown() override {
    SetWorkerSide(nullptr);
    SetPromptHook(nullptr);
    SetExitHook(nullptr);
    promptsAsked = nullptr;
    Worker::ResetPool();
  }

  void Use(FakeWorkerSide& fake) {
    fake.events = &events;
    SetWorkerSide(&fake);
  }

  // The events that start or skip a plugin, or prompt for one, without the
  // flag words.
  Lines Starts() const {
    Lines starts;
    for (const std::string& event : events) {
      if (event.starts_with("result")) continue;
      starts.push_back(event.substr(0, event.find(' ', event.find(' ') + 1)));
    }
    return starts;
  }

  Lines Log() const { return NodeTexts(root, kSystemLog); }
  Lines Alerts() const { return NodeTexts(root, kAlerts); }

  TempRoot root;
  FakeWorkerSide side{4, 0};
  Lines events;
  Plugin::ActivateFlags flags = 0;
};

TEST_F(SchedulerTest, AnEmptyRegistryOnlyReportsStartAndEnd) {
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"Activating Dawnstep Plugins: ", "All dawnstep plugins activated"}),
            NodeTexts(root, kProgress));
  EXPECT_EQ(Lines{""}, NodeTexts(root, kStatus));
  EXPECT_TRUE(events.empty());
}

TEST_F(SchedulerTest, RequirementsWaitForEveryProviderWhateverItsOutcome) {
  TestPlugin a("a", {}, {"x"});
  TestPlugin b("b", {"x"}, {}, [](Plugin::ActivateFlags) { return false; });
  TestPlugin c("c", {}, {"nobody provides this"});
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"start b", "start c", "start a"}), Starts());
  EXPECT_EQ((Lines{"Activating Dawnstep plugin b.", "Activating Dawnstep plugin c.",
                   "Dawnstep plugin c activated.", "Activating Dawnstep plugin a.",
                   "Dawnstep plugin a activated."}),
            Log());
  EXPECT_EQ(Lines{"Dawnstep plugin b activation failed."}, Alerts());
  EXPECT_TRUE(Plugin::registry().pendingPlugins.empty());
}

TEST_F(SchedulerTest, WaitingOnAKindTagWaitsForEveryPluginOfThatKind) {
  TestPlugin last("last", {"builtin plugins"}, {"json plugins"});
  TestPlugin first("first", {"json plugins"}, {"t"});
  TestPlugin second("second", {"json plugins", "t"}, {});
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"start second", "start first", "start last"}), Starts());
}

TEST_F(SchedulerTest, OneWorkerStartsOnePluginPerScan) {
  FakeWorkerSide single(1, 0);
  Use(single);
  TestPlugin a("a", {}, {});
  TestPlugin b("b", {}, {});
  TestPlugin c("c", {}, {});
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"start a", "start b", "start c"}), Starts());
  EXPECT_EQ((Lines{"activating: a\n", "activating: b\n", "activating: c\n", ""}),
            NodeTexts(root, kStatus));
}

TEST_F(SchedulerTest, SkippedAndEmptyPluginsAreReportedWithoutWork) {
  FakeWorkerSide none(0, 0);
  Use(none);
  TestPlugin off("off", {}, {});
  off.disabled = true;
  TestPlugin empty("empty", {}, {});
  empty.nothingToStart = true;
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"Dawnstep plugin off skipped.", "Dawnstep plugin empty skipped.",
                   "Dawnstep plugin off skipped.", "Dawnstep plugin empty activated."}),
            Log());
  EXPECT_EQ(0, off.activations + empty.activations);
}

struct PreemptionCase {
  bool preemptiveSucceeds;
  Plugin::ActivateFlags flags;
  Lines starts;
  Lines log;
};

TEST_F(SchedulerTest, APreemptiveProviderReplacesItsCompetitorsOnlyOnSuccess) {
  const PreemptionCase cases[] = {
      {true, 0, {"start p", "start s"},
       {"Activating Dawnstep plugin p.", "Dawnstep plugin p activated.",
        "Dawnstep plugin r skipped.", "Activating Dawnstep plugin s.",
        "Dawnstep plugin s activated."}},
      {false, 0, {"start p", "start r", "start s"},
       {"Activating Dawnstep plugin p.", "Dawnstep plugin p opportunistic activation failed.",
        "Activating Dawnstep plugin r.", "Dawnstep plugin r activated.",
        "Activating Dawnstep plugin s.", "Dawnstep plugin s activated."}},
      {true, Plugin::PreemptiveDisabled, {"start p", "start r", "start s"},
       {"Activating Dawnstep plugin p.", "Dawnstep plugin p opportunistic skipped.",
        "Activating Dawnstep plugin r.", "Dawnstep plugin r activated.",
        "Activating Dawnstep plugin s.", "Dawnstep plugin s activated."}},
  };
  for (const PreemptionCase& expected : cases) {
    TempRoot fresh;
    fresh.MakeDir("/run/hkn");
    Plugin::ResetRegistry();
    events.clear();
    TestPlugin r("r", {"t"}, {});
    TestPlugin p("p", {"t", "json plugins"}, {}, [&](Plugin::ActivateFlags given) {
      return expected.preemptiveSucceeds && !Plugin::IsPreemptivePluginsDisabled(given);
    });
    p.preemptiveProvider = true;
    TestPlugin s("s", {}, {"t"});
    Plugin::ActivateFlags runFlags = expected.flags;
    Plugin::ActivatePlugins(runFlags);
    EXPECT_EQ(expected.starts, Starts());
    EXPECT_EQ(expected.log, NodeTexts(fresh, kSystemLog));
    EXPECT_EQ(Lines{}, NodeTexts(fresh, kAlerts));
  }
}

TEST_F(SchedulerTest, ACompetitorOfTwoPreemptiveProvidersIsSkippedForEachTag) {
  TestPlugin both("both", {"a", "b"}, {});
  TestPlugin pa("pa", {"a"}, {});
  TestPlugin pb("pb", {"b"}, {});
  pa.preemptiveProvider = pb.preemptiveProvider = true;
  // Kind tags never preempt: this one runs beside them.
  TestPlugin kin("kin", {"json plugins"}, {});
  pa.provides.insert("json plugins");
  Plugin::ActivatePlugins(flags);
  Lines log = Log();
  EXPECT_EQ(2, std::count(log.begin(), log.end(), "Dawnstep plugin both skipped."));
  EXPECT_EQ(0, both.activations);
  EXPECT_EQ((Lines{"start pa", "start pb", "start kin"}), Starts());
}

TEST_F(SchedulerTest, ReadinessQueries) {
  TestPlugin loop("loop", {"x"}, {"x"});
  TestPlugin p("p", {"t", "json plugins"}, {});
  p.preemptiveProvider = true;
  TestPlugin q("q", {"t"}, {});
  TestPlugin kin("kin", {"json plugins"}, {});
  EXPECT_TRUE(loop.Pending());
  EXPECT_FALSE(p.Pending());
  EXPECT_TRUE(q.Pending());
  EXPECT_FALSE(kin.Pending());
  EXPECT_TRUE(p.Preempts(&q));
  EXPECT_FALSE(p.Preempts(&p));
  EXPECT_FALSE(q.Preempts(&p));
  EXPECT_TRUE(Plugin::Pending(TagSet{"zzz", "x"}));
  EXPECT_FALSE(Plugin::Pending(TagSet{"zzz"}));
  p.assigned = true;
  EXPECT_TRUE(p.Pending());

  // A plugin that must wait is not attempted: no prompt, flags untouched.
  Plugin::ActivateFlags attempt = Plugin::InteractiveMode | Plugin::SkipPlugin;
  EXPECT_FALSE(Plugin::ActivatePlugin(&q, attempt));
  EXPECT_EQ(Plugin::InteractiveMode | Plugin::SkipPlugin, attempt);
  EXPECT_TRUE(events.empty());

  std::unordered_set<Plugin*> visited{&kin};
  EXPECT_TRUE(kin.CheckCycle(visited));
  visited.clear();
  EXPECT_FALSE(q.CheckCycle(visited));
  EXPECT_TRUE(loop.CheckCycle(visited));
  KernelLog() << std::endl;
  EXPECT_EQ(Lines{"kin loop loop "}, Log());
}

TEST_F(SchedulerTest, TheRestorePluginLiftsTheBarrierOnAStatelessBoot) {
  root.WriteFile("/stateless.tgz", "");
  root.WriteFile("/etc/corvane/hostprofile.xml.gz", "");
  flags = Plugin::HostProfileBarrier;
  FakeWorkerSide single(1, 0);
  Use(single);
  std::vector<bool> applied;
  auto profileAware = [&](Plugin::ActivateFlags given) {
    applied.push_back(Plugin::ApplyHostProfiles(given, true));
    return true;
  };
  TestPlugin early("early", {}, {}, profileAware);
  TestPlugin restore("restore-configuration", {"restored"}, {});
  TestPlugin late("late", {}, {"restored"}, profileAware);
  ::testing::internal::CaptureStderr();
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ("Plugin tries to execute before host profile requirement.\n",
            ::testing::internal::GetCapturedStderr());
  EXPECT_EQ((std::vector<bool>{false, true}), applied);
  EXPECT_EQ(Plugin::HostProfilePresent, flags);
}

TEST_F(SchedulerTest, TheBarrierStaysWithoutAStatelessBoot) {
  flags = Plugin::HostProfileBarrier;
  TestPlugin restore("restore-configuration", {}, {});
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ(Plugin::HostProfileBarrier, flags);
}

TEST_F(SchedulerTest, TheHostProfileBitFollowsAFileThatPluginWorkCreates) {
  FakeWorkerSide single(1, 0);
  Use(single);
  TestPlugin maker("maker", {}, {}, [&](Plugin::ActivateFlags) {
    root.WriteFile("/etc/corvane/hostprofile.xml", "");
    return true;
  });
  TestPlugin after("after", {}, {});
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"start maker 0", "result maker 0", "start after 16", "result after 0"}),
            events);
}

TEST_F(SchedulerTest, ThePromptWaitsForInteractiveTagsAndCanSkip) {
  flags = Plugin::Interactive({"net"});
  TestPlugin a("a", {}, {});
  TestPlugin net("net", {"net"}, {});
  TestPlugin b("b", {}, {"net"});
  TestPlugin c("c", {}, {"net"});
  TestPlugin d("d", {}, {"net"});
  TestPlugin e("e", {}, {"net"});
  promptAnswers = {Plugin::InteractiveMode | Plugin::SkipPlugin, Plugin::InteractiveMode, 0};
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"start a 2", "start net 2", "result a 0", "result net 0", "prompt b",
                   "skip b 10", "prompt c", "start c 2", "prompt d", "start d 0", "start e 0",
                   "result b 0", "result c 0", "result d 0", "result e 0"}),
            events);
  EXPECT_EQ(0, b.activations);
  EXPECT_EQ(0u, flags);
}

TEST_F(SchedulerTest, ThePromptWaitsForAFreeWorker) {
  FakeWorkerSide single(1, 0);
  Use(single);
  flags = Plugin::InteractiveMode;
  TestPlugin a("a", {}, {});
  TestPlugin b("b", {}, {});
  TestPlugin c("c", {}, {});
  c.nothingToStart = true;
  promptAnswers = {Plugin::InteractiveMode, Plugin::InteractiveMode, 0};
  Plugin::ActivatePlugins(flags);
  // c needs no worker, so it is asked about while a runs; b only once a
  // has finished, and only once.
  EXPECT_EQ((Lines{"prompt a", "start a", "prompt c", "skip c", "prompt b", "start b"}),
            Starts());
  EXPECT_EQ(0u, flags);
}

TEST_F(SchedulerTest, APluginRefusedAfterItsPromptIsPromptedForAgain) {
  // Learns only on the attempt that it has no room, as when a worker
  // cannot be forked.
  class Overstating final : public WorkerSide {
   public:
    explicit Overstating(FakeWorkerSide& inner) : inner(inner) {}
    bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) override {
      return inner.ActivatePlugin(plugin, flags);
    }
    std::vector<Outcome> PluginResults() override { return inner.PluginResults(); }
    bool CanTakeWork() const override { return true; }
    FakeWorkerSide& inner;
  };
  FakeWorkerSide single(1, 0);
  single.events = &events;
  Overstating overstating(single);
  SetWorkerSide(&overstating);
  flags = Plugin::InteractiveMode;
  TestPlugin a("a", {}, {});
  TestPlugin b("b", {}, {});
  promptAnswers = {Plugin::InteractiveMode, 0, 0};
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"prompt a", "start a", "prompt b", "prompt b", "start b"}), Starts());
  EXPECT_EQ(0u, flags);
}

TEST_F(SchedulerTest, AWholeRunThroughRealWorkers) {
  SetWorkerSide(nullptr);
  Worker::LimitWorkers(2);
  TestPlugin a("a", {}, {"x"});
  TestPlugin b("b", {"x"}, {}, [](Plugin::ActivateFlags) { return false; });
  TestPlugin c("c", {}, {});
  c.nothingToStart = true;
  TestPlugin d("d", {}, {"x"});
  Plugin::ActivatePlugins(flags);
  Lines log = Log();
  std::sort(log.begin(), log.end());
  EXPECT_EQ((Lines{"Activating Dawnstep plugin a.", "Activating Dawnstep plugin b.",
                   "Activating Dawnstep plugin d.", "Dawnstep plugin a activated.",
                   "Dawnstep plugin c activated.", "Dawnstep plugin c skipped.",
                   "Dawnstep plugin d activated."}),
            log);
  EXPECT_EQ(Lines{"Dawnstep plugin b activation failed."}, Alerts());
  EXPECT_EQ(2u, Worker::Pool().size());
}

TEST_F(SchedulerTest, ResultsForPluginsThatAreNotRunningAreIgnored) {
  class Stray final : public WorkerSide {
   public:
    explicit Stray(Plugin* stranger) : stranger(stranger) {}
    bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags) override {
      started.push_back(plugin);
      return true;
    }
    std::vector<Outcome> PluginResults() override {
      std::vector<Outcome> results{{stranger, 0}};
      for (Plugin* plugin : started) results.emplace_back(plugin, 0);
      started.clear();
      return results;
    }
    bool CanTakeWork() const override { return true; }
    Plugin* stranger;
    std::vector<Plugin*> started;
  };
  TestPlugin a("a", {"x"}, {});
  TestPlugin b("b", {}, {"x"});
  Stray stray(&b);
  SetWorkerSide(&stray);
  Plugin::ActivatePlugins(flags);
  EXPECT_EQ((Lines{"Dawnstep plugin a activated.", "Dawnstep plugin b activated."}), Log());
}

using SchedulerDeathTest = SchedulerTest;

TEST_F(SchedulerDeathTest, UnmetDependenciesPrintTheChainAndEndTheProcess) {
  SetExitHook(nullptr);
  struct Case {
    std::vector<std::tuple<std::string, std::vector<std::string>, std::vector<std::string>, bool>>
        plugins;  // name, provides, requires, preemptive
    Lines log;
  };
  const Case cases[] = {
      {{{"a", {"x"}, {"x"}, false}}, {"a a "}},
      {{{"a", {"y"}, {"x"}, false}, {"b", {"x"}, {"y"}, false}}, {"a b a "}},
      // A diamond below a stuck plugin: d is reached twice without a loop.
      {{{"a", {}, {"x", "y"}, false},
        {"b", {"x"}, {"z"}, false},
        {"c", {"y"}, {"z"}, false},
        {"d", {"z"}, {"q"}, false},
        {"e", {"q"}, {}, true},
        {"f", {"q"}, {}, true}},
       {"d c a "}},
      {{{"e", {"q"}, {}, true}, {"f", {"q"}, {}, true}}, {}},
      // A disabled plugin still waits for its requirements.
      {{{"off", {}, {"x"}, false}, {"x", {"x"}, {"x"}, false}}, {"x x off "}},
  };
  for (const Case& expected : cases) {
    TempRoot fresh;
    fresh.MakeDir("/run/hkn");
    Plugin::ResetRegistry();
    Plugin::DisablePlugins({"off"});
    std::vector<std::unique_ptr<TestPlugin>> plugins;
    for (const auto& [name, provides, needs, preemptive] : expected.plugins) {
      plugins.push_back(std::make_unique<TestPlugin>(name, provides, needs));
      plugins.back()->preemptiveProvider = preemptive;
    }
    EXPECT_EXIT(Plugin::ActivatePlugins(flags), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(Lines{"Dawnstep has unmet dependencies!"}, NodeTexts(fresh, kAlerts));
    EXPECT_EQ(expected.log, NodeTexts(fresh, kSystemLog));
  }
}

TEST_F(SchedulerDeathTest, TheProfileTrailerIsWrittenWhenDependenciesAreUnmet) {
  SetExitHook(nullptr);
  SetWorkerSide(nullptr);
  TestPlugin off("off", {}, {});
  off.disabled = true;
  TestPlugin stuck("stuck", {"x"}, {"x", "off"});
  off.provides.insert("off");
  EXPECT_EXIT(Plugin::ActivatePlugins(flags), ::testing::ExitedWithCode(1), "");
  std::string profile = root.ReadFile("/var/log/sysboot.log");
  EXPECT_NE(std::string::npos, profile.find("] sysboot: off\n=== Dawnstep configuration info ==="));
  EXPECT_EQ((Lines{"Dawnstep plugin off skipped.", "Dawnstep plugin off skipped.", "stuck stuck "}),
            Log());
}

// ---------------------------------------------------------------------------
// The scheduler against the literal scans it must reproduce.

bool LiteralCheckCycle(Plugin* plugin, std::unordered_set<Plugin*>& visited) {
  if (visited.count(plugin) != 0) {
    KernelLog() << plugin->name << ' ';
    return true;
  }
  visited.insert(plugin);
  for (const std::string& tag : plugin->requires_) {
    for (Plugin* provider : Plugin::registry().pendingPlugins) {
      if (provider->Provides(tag) && LiteralCheckCycle(provider, visited)) {
        KernelLog() << plugin->name << ' ';
        return true;
      }
    }
  }
  return false;
}

void LiteralActivatePlugins(WorkerSide& workerSide, Plugin::ActivateFlags& flags) {
  FeatureState_Init();
  ProgressLog() << "Activating Dawnstep Plugins: " << std::endl;
  auto& pending = Plugin::registry().pendingPlugins;
  uint32_t inFlight = 0;
  while (!pending.empty()) {
    for (Plugin* plugin : pending) {
      if (PathExists(RootPath("/etc/corvane/hostprofile.xml")) ||
          PathExists(RootPath("/etc/corvane/hostprofile.xml.gz"))) {
        flags |= Plugin::HostProfilePresent;
      }
      if (Plugin::ActivatePlugin(plugin, flags)) ++inFlight;
    }
    if (inFlight == 0) {
      AlertLog() << "Dawnstep has unmet dependencies!" << std::endl;
      for (Plugin* plugin : pending) {
        std::unordered_set<Plugin*> visited;
        if (LiteralCheckCycle(plugin, visited)) {
          KernelLog() << std::endl;
          break;
        }
      }
      ThrowProcessEnded(1);
    }
    StatusLog() << '\r';
    for (Plugin* plugin : pending) {
      if (plugin->assigned) StatusLog() << "activating: " << plugin->name << '\n';
    }
    StatusLog().flush();
    for (auto [plugin, result] : workerSide.PluginResults()) {
      plugin->Finish(result, flags);
      pending.remove(plugin);
      --inFlight;
    }
  }
  StatusLog() << '\r' << std::flush;
  ProgressLog() << "All dawnstep plugins activated" << std::endl;
}

// Node records kept in memory, in the order of all four nodes together.
class RecordingHkn : public HknInterface {
 public:
  struct List {
    std::string text;
  };

  int32_t CheckSig(uint32_t*, int32_t, uint32_t*) override { return 0; }
  HKN_ParamList* ParamListCreate(uint32_t, uint32_t) override {
    return reinterpret_cast<HKN_ParamList*>(new List);
  }
  int32_t ParamListAddString(HKN_ParamList* list, const char* text) override {
    reinterpret_cast<List*>(list)->text = text;
    return 0;
  }
  int32_t Set(uint32_t node, void*, HKN_ParamList* list, void*, uint32_t) override {
    events->push_back("node " + std::to_string(node) + " " + reinterpret_cast<List*>(list)->text);
    return 0;
  }
  void ParamListDestroy(HKN_ParamList* list) override { delete reinterpret_cast<List*>(list); }

  Lines* events = nullptr;
};

// Builds a random plugin set, worker side, prompt script and flag word from
// `seed`, runs it with either scheduler, and returns everything observable.
Lines RunRandomCase(uint32_t seed, bool literal, const TempRoot& root) {
  std::mt19937 random(seed);
  auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
  auto pick = [&](size_t count) { return random() % count; };
  const char* const tagPool[] = {"t0", "t1", "t2", "t3", "t4", "t5"};
  const char* const kinds[] = {Plugin::kJsonKind, Plugin::kNativeKind, Plugin::kBuiltinKind};

  std::filesystem::remove_all(root.Path("/etc"));
  std::filesystem::remove(root.Path("/stateless.tgz"));
  if (chance(30)) root.WriteFile("/stateless.tgz", "");
  if (chance(10)) root.WriteFile("/etc/corvane/hostprofile.xml", "");

  Plugin::ResetRegistry();
  size_t count = 1 + pick(24);
  Lines names;
  for (size_t i = 0; i < count; ++i) {
    names.push_back(chance(6) ? "restore-configuration" : "p" + std::to_string(i));
  }
  if (chance(25)) Plugin::DisablePlugins({chance(50) ? names[pick(count)] : tagPool[pick(6)]});
  Plugin::ActivateFlags flags = 0;
  if (chance(20)) flags |= Plugin::PreemptiveDisabled;
  if (chance(20)) flags |= Plugin::HostProfileBarrier;
  if (chance(10)) flags |= Plugin::DryRun;
  if (chance(25)) {
    flags |= Plugin::Interactive(chance(50) ? Lines{tagPool[pick(6)]} : Lines{});
  }

  std::vector<std::unique_ptr<TestPlugin>> plugins;
  for (size_t i = 0; i < count; ++i) {
    Lines provides{kinds[pick(3)]};
    for (size_t n = pick(3); n > 0; --n) provides.push_back(tagPool[pick(6)]);
    Lines needs;
    for (size_t n = pick(3); n > 0; --n) needs.push_back(tagPool[pick(6)]);
    if (chance(10)) needs.push_back(kinds[pick(3)]);
    plugins.push_back(std::make_unique<TestPlugin>(names[i], provides, needs));
    plugins.back()->preemptiveProvider = chance(12);
    plugins.back()->nothingToStart = chance(10);
    if (chance(5)) plugins.back()->disabled = true;
  }

  Lines events;
  FakeWorkerSide side(pick(5), 1 + random());
  side.activate = false;
  side.events = &events;
  const int32_t codes[] = {0, 0, 0, 0, 0, 0, 1, 9, 7, -1};
  for (const auto& plugin : plugins) side.codes[plugin.get()] = codes[pick(10)];
  if (chance(30)) {
    Plugin* creator = plugins[pick(count)].get();
    side.onResult = [&root, creator](Plugin* finished) {
      if (finished == creator) root.WriteFile("/etc/corvane/hostprofile.xml.gz", "");
    };
  }
  promptAnswers.clear();
  const uint32_t answers[] = {0, Plugin::InteractiveMode,
                              Plugin::InteractiveMode | Plugin::SkipPlugin};
  for (int i = 0; i < 64; ++i) promptAnswers.push_back(answers[pick(3)]);
  promptsAsked = &events;
  RecordingHkn hkn;
  hkn.events = &events;
  SetHknInterface(&hkn);
  SetWorkerSide(&side);
  SetExitHook(&ThrowProcessEnded);
  try {
    if (literal) {
      LiteralActivatePlugins(side, flags);
    } else {
      Plugin::ActivatePlugins(flags);
    }
  } catch (const ProcessEnded& ended) {
    events.push_back("exit " + std::to_string(ended.status));
  }
  SetHknInterface(nullptr);
  Plugin::ResetRegistry();
  return events;
}

TEST_F(SchedulerTest, StartsExactlyWhatTheLiteralScansStartOnRandomPluginSets) {
  std::map<std::string, int> seen;
  for (uint32_t seed = 1; seed <= 1500; ++seed) {
    Lines expected = RunRandomCase(seed, true, root);
    Lines actual = RunRandomCase(seed, false, root);
    ASSERT_EQ(expected, actual) << "seed " << seed;
    for (const std::string& event : actual) {
      for (const char* feature : {"exit 1", "prompt ", "opportunistic", "skip ", " -1", " 9",
                                  "activating: ", "start restore-configuration"}) {
        if (event.find(feature) != std::string::npos) ++seen[feature];
      }
      if (event.starts_with("start ") && (std::stoul(event.substr(event.rfind(' '))) & 0x10)) {
        ++seen["host profile"];
      }
    }
  }
  // The sets must have exercised what they are meant to compare.
  for (const char* feature : {"exit 1", "prompt ", "opportunistic", "skip ", " -1", " 9",
                              "activating: ", "start restore-configuration", "host profile"}) {
    EXPECT_GT(seen[feature], 30) << feature;
  }
}

}  // namespace
}  // namespace dawnstep
