// The scheduler against the literal scans it must reproduce.
#include "plugin/scheduler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "log/kernel_log.h"
#include "platform/file_system.h"
#include "platform/root.h"
#include "tests/fake_worker_side.h"
#include "tests/temp_root.h"
#include "tests/test_plugin.h"

namespace dawnstep {
namespace {

using testing::NodeTexts;
using testing::TempRoot;
using Lines = std::vector<std::string>;

std::mt19937 operatorRandom;
Lines* events = nullptr;

uint32_t RandomAnswer(const std::string& name) {
  events->push_back("prompt " + name);
  const uint32_t answers[] = {0, Plugin::InteractiveMode,
                              Plugin::InteractiveMode | Plugin::SkipPlugin};
  return answers[operatorRandom() % 3];
}

[[noreturn]] void ThrowStatus(int status) { throw status; }

bool LiteralCheckCycle(Plugin* plugin, std::unordered_set<Plugin*>& visited) {
  bool found = !visited.insert(plugin).second;
  for (const std::string& tag : plugin->requires_) {
    for (Plugin* provider : Plugin::registry().pendingPlugins) {
      found = found || (provider->Provides(tag) && LiteralCheckCycle(provider, visited));
    }
  }
  if (found) KernelLog() << plugin->name << ' ';
  return found;
}

void LiteralActivatePlugins(WorkerSide& side, Plugin::ActivateFlags& flags) {
  ProgressLog() << "Activating Dawnstep Plugins: " << std::endl;
  auto& pending = Plugin::registry().pendingPlugins;
  for (uint32_t inFlight = 0; !pending.empty();) {
    for (Plugin* plugin : pending) {
      bool profile = PathExists(RootPath("/etc/corvane/hostprofile.xml")) ||
                     PathExists(RootPath("/etc/corvane/hostprofile.xml.gz"));
      if (profile) flags |= Plugin::HostProfilePresent;
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
      ThrowStatus(1);
    }
    StatusLog() << '\r';
    for (Plugin* plugin : pending) {
      if (plugin->assigned) StatusLog() << "activating: " << plugin->name << '\n';
    }
    StatusLog().flush();
    for (auto [plugin, result] : side.PluginResults()) {
      plugin->Finish(result, flags);
      pending.remove(plugin);
      --inFlight;
    }
  }
  StatusLog() << '\r' << std::flush;
  ProgressLog() << "All dawnstep plugins activated" << std::endl;
}

// A random case run with either scheduler: everything observable.
Lines RunRandomCase(uint32_t seed, bool literal, const TempRoot& root) {
  std::mt19937 random(seed);
  auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
  auto pick = [&](size_t count) { return random() % count; };
  const char* const tags[] = {"t0", "t1", "t2", "t3", "t4", "t5"};
  const char* const kinds[] = {Plugin::kJsonKind, Plugin::kNativeKind, Plugin::kBuiltinKind};
  for (const char* path : {"/etc", "/stateless.tgz", "/run/hkn"})
    std::filesystem::remove_all(root.Path(path));
  if (chance(30)) root.WriteFile("/stateless.tgz", "");
  if (chance(10)) root.WriteFile("/etc/corvane/hostprofile.xml", "");

  Plugin::ResetRegistry();
  size_t count = 1 + pick(24);
  std::string off = chance(50) ? "p" + std::to_string(pick(count)) : tags[pick(6)];
  if (chance(25)) Plugin::DisablePlugins({off});
  Plugin::ActivateFlags flags = 0;
  if (chance(20)) flags |= Plugin::PreemptiveDisabled;
  if (chance(20)) flags |= Plugin::HostProfileBarrier;
  if (chance(10)) flags |= Plugin::DryRun;
  if (chance(25)) flags |= Plugin::Interactive(chance(50) ? Lines{tags[pick(6)]} : Lines{});

  std::vector<std::unique_ptr<testing::TestPlugin>> plugins;
  for (size_t i = 0; i < count; ++i) {
    Lines provides{kinds[pick(3)]}, needs;
    for (size_t n = pick(3); n > 0; --n) provides.push_back(tags[pick(6)]);
    for (size_t n = pick(3); n > 0; --n) needs.push_back(tags[pick(6)]);
    if (chance(10)) needs.push_back(kinds[pick(3)]);
    std::string name = chance(6) ? "restore-configuration" : "p" + std::to_string(i);
    bool succeeds = chance(80);
    plugins.push_back(std::make_unique<testing::TestPlugin>(
        name, provides, needs, [succeeds](Plugin::ActivateFlags) { return succeeds; }));
    Plugin& plugin = *plugins.back();
    plugin.preemptiveProvider = chance(12), plugin.nothingToStart = chance(10);
    plugin.disabled |= chance(5);
  }

  Lines seen;
  events = &seen;
  testing::FakeWorkerSide side(pick(5), 1 + random());
  side.events = &seen;
  operatorRandom.seed(seed);
  SetWorkerSide(&side);
  try {
    literal ? LiteralActivatePlugins(side, flags) : Plugin::ActivatePlugins(flags);
  } catch (int) {  // the end of the process after unmet dependencies
    seen.push_back("exit");
  }
  SetWorkerSide(nullptr);
  for (std::string node :
       {"log", "sysAlert", "progressTerm.progressText", "progressTerm.statusText"}) {
    Lines texts = NodeTexts(root, "/run/hkn/system." + node);
    for (const std::string& text : texts) seen.push_back(node + ": " + text);
  }
  return seen;
}

TEST(SchedulerTest, StartsExactlyWhatTheLiteralScansStartOnRandomPluginSets) {
  TempRoot root;
  SetPromptHook(&RandomAnswer);
  SetExitHook(&ThrowStatus);
  std::map<std::string, int> covered;  // the sets must exercise what they are to compare
  for (uint32_t seed = 1; seed <= 1000; ++seed) {
    Lines expected = RunRandomCase(seed, true, root);
    Lines actual = RunRandomCase(seed, false, root);
    ASSERT_EQ(expected, actual) << "seed " << seed;
    for (const std::string& event : actual) {
      for (const char* feature : {"exit", "prompt ", "opportunistic", "skip ", "failed.",
                                  "activating: ", "start restore-configuration"}) {
        covered[feature] += event.find(feature) != event.npos;
      }
      covered["chain"] += event.starts_with("log: ") && event.ends_with(" ");
      covered["host profile"] +=
          event.starts_with("start ") && (std::stoul(event.substr(event.rfind(' '))) & 0x10);
    }
  }
  SetPromptHook(nullptr);
  SetExitHook(nullptr);
  Plugin::ResetRegistry();
  for (auto [feature, count] : covered) EXPECT_GT(count, 30) << feature;
}

}  // namespace
}  // namespace dawnstep
