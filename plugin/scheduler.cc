// Dependency-ordered activation. The run starts plugins in exactly the order
// of repeated scans over the pending list (every ready plugin in registration
// order, results applied between scans), but keeps per-tag counts instead of
// rescanning: a finish re-examines only the plugins that wait on what it
// provided, so the cost per plugin does not grow with the size of the run
// (bench/activation_bench.cc).
#include "plugin/scheduler.h"

#include <cstdlib>
#include <iostream>
#include <set>
#include <unordered_map>

#include "log/kernel_log.h"
#include "platform/base.h"
#include "platform/file_system.h"
#include "platform/host_log.h"
#include "platform/root.h"
#include "worker/worker.h"

namespace dawnstep {
namespace {

class PoolSide final : public WorkerSide {
 public:
  bool ActivatePlugin(Plugin* plugin, Plugin::ActivateFlags flags) override {
    return Worker::ActivatePlugin(plugin, flags);
  }
  std::vector<Outcome> PluginResults() override { return Worker::PluginResults(); }
  bool CanTakeWork() const override { return Worker::CanTakeWork(); }
};

WorkerSide* workerSide = nullptr;
PromptHook promptHook = nullptr;
ExitHook exitHook = nullptr;

WorkerSide& CurrentWorkerSide() {
  static PoolSide pool;
  return workerSide != nullptr ? *workerSide : pool;
}

uint32_t Prompt(const std::string& name) {
  return (promptHook != nullptr ? promptHook : &Plugin::DebugAction)(name);
}

[[noreturn]] void EndProcess(int status) {
  if (exitHook != nullptr) exitHook(status);
  std::exit(status);
}

bool IsKindTag(const std::string& tag) { return Plugin::registry().kindTags.count(tag) != 0; }

bool HasWork(const Plugin* plugin) { return !plugin->disabled && !plugin->nothingToStart; }

// Whether an attempt asks the operator first.
bool Prompting(Plugin::ActivateFlags flags, bool interactiveTagsPending) {
  return (flags & Plugin::InteractiveMode) != 0 && !interactiveTagsPending;
}

// One attempt at a plugin that may start now: the prompt, the worker side,
// and the flag bookkeeping around them. A plugin refused after its prompt
// is asked about again on its next attempt.
bool StartReady(Plugin* plugin, Plugin::ActivateFlags& flags, bool interactiveTagsPending) {
  bool started;
  if (!Prompting(flags, interactiveTagsPending)) {
    started = CurrentWorkerSide().ActivatePlugin(plugin, flags);
  } else {
    flags &= ~Plugin::InteractiveMode;
    flags |= Prompt(plugin->name);
    started = CurrentWorkerSide().ActivatePlugin(plugin, flags);
    if (!started) flags |= Plugin::InteractiveMode;
  }
  flags &= ~Plugin::SkipPlugin;
  return started;
}

// The host-profile bit reaches plugins only through the flag word handed
// to the worker side, and once set it stays set. So the files are tested
// right before each attempt that may hand a plugin over, and no more once
// the bit is set. Tests that a full scan would make at plugins that cannot
// start, or at one whose attempt can only be refused (it has work, no
// worker can take it and no prompt comes first), are left out: they happen
// while no result is read, so a file that plugin work creates or removes
// meanwhile could as well have changed just after them. Only the final
// flag word of a run that ends with such a file appearing after the last
// attempt may differ, and nobody reads it.
void NoteHostProfile(Plugin::ActivateFlags& flags) {
  if ((flags & Plugin::HostProfilePresent) != 0) return;
  if (PathExists(RootPath("/etc/corvane/hostprofile.xml")) ||
      PathExists(RootPath("/etc/corvane/hostprofile.xml.gz"))) {
    flags |= Plugin::HostProfilePresent;
  }
}

// For each tag, the pending plugins that provide it, in list order.
using ProviderIndex = std::unordered_map<std::string, std::vector<Plugin*>>;

ProviderIndex PendingProviderIndex() {
  ProviderIndex index;
  for (Plugin* plugin : Plugin::registry().pendingPlugins) {
    for (const std::string& tag : plugin->provides) index[tag].push_back(plugin);
  }
  return index;
}

// Depth-first along requirements to the first plugin reached twice; prints
// it and then the plugins on the way back. Iterative, so a long chain of
// requirements cannot exhaust the stack.
bool WalkRequirements(Plugin* start, std::unordered_set<Plugin*>& visited,
                      const ProviderIndex& index) {
  struct Step {
    Plugin* plugin;
    TagSet::const_iterator tag;
    size_t provider;
  };
  if (!visited.insert(start).second) {
    KernelLog() << start->name << ' ';
    return true;
  }
  std::vector<Step> path{{start, start->requires_.begin(), 0}};
  while (!path.empty()) {
    Step& step = path.back();
    Plugin* next = nullptr;
    while (next == nullptr && step.tag != step.plugin->requires_.end()) {
      auto providers = index.find(*step.tag);
      if (providers != index.end() && step.provider < providers->second.size()) {
        next = providers->second[step.provider++];
      } else {
        ++step.tag;
        step.provider = 0;
      }
    }
    if (next == nullptr) {
      path.pop_back();
      continue;
    }
    if (!visited.insert(next).second) {
      KernelLog() << next->name << ' ';
      for (auto back = path.rbegin(); back != path.rend(); ++back) {
        KernelLog() << back->plugin->name << ' ';
      }
      return true;
    }
    path.push_back({next, next->requires_.begin(), 0});
  }
  return false;
}

// The state of one activation run: per plugin, how many of its required
// tags still have pending providers and how many of its tags a pending
// preemptive competitor holds; per tag, how many pending plugins provide it.
class ActivationRun {
 public:
  explicit ActivationRun(Plugin::ActivateFlags& flags);
  ~ActivationRun();
  ActivationRun(const ActivationRun&) = delete;
  ActivationRun& operator=(const ActivationRun&) = delete;

  void Run();
  // Takes a plugin out of the pending list (a preempted competitor).
  void Remove(Plugin* plugin);

 private:
  struct Tag {
    uint32_t pendingProviders = 0;
    uint32_t pendingPreemptive = 0;
    bool kind = false;
    bool interactive = false;
    std::vector<uint32_t> requirers;
    std::vector<uint32_t> ordinaryProviders;  // non-kind tags only
    std::vector<uint32_t> preemptiveProviders;
  };

  struct Entry {
    Plugin* plugin;
    std::list<Plugin*>::iterator inPendingList;
    std::vector<uint32_t> provided;
    uint32_t unmetRequirements = 0;
    uint32_t heldTags = 0;
    bool pending = true;
    bool started = false;
  };

  uint32_t TagId(const std::string& name);
  void Enter(std::list<Plugin*>::iterator inPendingList);
  void Reconsider(uint32_t position);
  void Release(uint32_t position);
  void Leave(uint32_t position);
  void Scan();
  void ReportRunning();
  void Collect();
  [[noreturn]] void UnmetDependencies();

  Plugin::ActivateFlags& flags;
  std::vector<Tag> tags;
  std::unordered_map<std::string, uint32_t> tagIds;
  std::vector<Entry> entries;
  std::unordered_map<const Plugin*, uint32_t> positions;
  // Positions (registration order) of plugins that may start now, the subset
  // of them that the worker side completes at once, and those in workers.
  std::set<uint32_t> ready;
  std::set<uint32_t> readyWithoutWork;
  std::set<uint32_t> running;
  uint32_t pendingInteractiveTags = 0;
  uint32_t inFlight = 0;
};

ActivationRun* currentRun = nullptr;

ActivationRun::ActivationRun(Plugin::ActivateFlags& flags) : flags(flags) {
  auto& pending = Plugin::registry().pendingPlugins;
  entries.reserve(pending.size());
  for (auto it = pending.begin(); it != pending.end(); ++it) Enter(it);
  for (const std::string& name : Plugin::registry().interactiveTags) {
    Tag& tag = tags[TagId(name)];
    tag.interactive = true;
    if (tag.pendingProviders > 0) ++pendingInteractiveTags;
  }
  for (Entry& entry : entries) {
    for (const std::string& name : entry.plugin->requires_) {
      if (tags[TagId(name)].pendingProviders > 0) ++entry.unmetRequirements;
    }
    uint32_t self = entry.plugin->preemptiveProvider ? 1 : 0;
    for (uint32_t id : entry.provided) {
      if (!tags[id].kind && tags[id].pendingPreemptive > self) ++entry.heldTags;
    }
  }
  for (uint32_t position = 0; position < entries.size(); ++position) {
    Entry& entry = entries[position];
    entry.started = entry.plugin->assigned;
    if (entry.started) running.insert(position);
    Reconsider(position);
  }
  currentRun = this;
}

ActivationRun::~ActivationRun() { currentRun = nullptr; }

uint32_t ActivationRun::TagId(const std::string& name) {
  auto [found, added] = tagIds.try_emplace(name, static_cast<uint32_t>(tags.size()));
  if (added) {
    tags.emplace_back();
    tags.back().kind = IsKindTag(name);
  }
  return found->second;
}

void ActivationRun::Enter(std::list<Plugin*>::iterator inPendingList) {
  Plugin* plugin = *inPendingList;
  uint32_t position = static_cast<uint32_t>(entries.size());
  entries.push_back({plugin, inPendingList, {}});
  positions.emplace(plugin, position);
  for (const std::string& name : plugin->provides) {
    uint32_t id = TagId(name);
    entries.back().provided.push_back(id);
    Tag& tag = tags[id];
    ++tag.pendingProviders;
    if (tag.kind) continue;
    if (plugin->preemptiveProvider) {
      ++tag.pendingPreemptive;
      tag.preemptiveProviders.push_back(position);
    } else {
      tag.ordinaryProviders.push_back(position);
    }
  }
  for (const std::string& name : plugin->requires_) tags[TagId(name)].requirers.push_back(position);
}

void ActivationRun::Reconsider(uint32_t position) {
  const Entry& entry = entries[position];
  if (!entry.pending || entry.started || entry.unmetRequirements > 0 || entry.heldTags > 0) return;
  ready.insert(position);
  if (!HasWork(entry.plugin)) readyWithoutWork.insert(position);
}

void ActivationRun::Release(uint32_t position) {
  Entry& entry = entries[position];
  if (!entry.pending) return;
  if (--entry.heldTags == 0) Reconsider(position);
}

void ActivationRun::Leave(uint32_t position) {
  Entry& entry = entries[position];
  if (!entry.pending) return;
  entry.pending = false;
  ready.erase(position);
  readyWithoutWork.erase(position);
  running.erase(position);
  Plugin::registry().pendingPlugins.erase(entry.inPendingList);
  for (uint32_t id : entry.provided) {
    Tag& tag = tags[id];
    if (--tag.pendingProviders == 0) {
      if (tag.interactive) --pendingInteractiveTags;
      for (uint32_t requirer : tag.requirers) {
        if (--entries[requirer].unmetRequirements == 0) Reconsider(requirer);
      }
    }
    if (tag.kind || !entry.plugin->preemptiveProvider) continue;
    // A preemptive provider holds back the other preemptive providers of
    // the tag until only one is left, and the ordinary ones until none is.
    uint32_t left = --tag.pendingPreemptive;
    if (left == 1) {
      for (uint32_t other : tag.preemptiveProviders) Release(other);
    } else if (left == 0) {
      for (uint32_t other : tag.ordinaryProviders) Release(other);
    }
  }
}

void ActivationRun::Remove(Plugin* plugin) {
  auto found = positions.find(plugin);
  if (found == positions.end()) {
    Plugin::registry().pendingPlugins.remove(plugin);
    return;
  }
  Leave(found->second);
}

// Every ready plugin in registration order gets its attempt. An attempt
// at a plugin with work while every worker is busy and no more may be
// started changes nothing and shows nothing unless it prompts; once the
// worker side has refused in that state, the rest of the scan offers only
// plugins that are completed at once, which cannot change that state. A
// refusal with room left (a worker could not be started) keeps the attempts
// coming: each tries again and reports its own failure.
void ActivationRun::Scan() {
  bool saturated = false;
  uint32_t next = 0;
  for (;;) {
    const std::set<uint32_t>& candidates = saturated ? readyWithoutWork : ready;
    auto candidate = candidates.lower_bound(next);
    if (candidate == candidates.end()) return;
    uint32_t position = *candidate;
    next = position + 1;
    Entry& entry = entries[position];
    bool refusable = !CurrentWorkerSide().CanTakeWork() &&
                     !Prompting(flags, pendingInteractiveTags > 0);
    if (!refusable || !HasWork(entry.plugin)) NoteHostProfile(flags);
    if (!StartReady(entry.plugin, flags, pendingInteractiveTags > 0)) {
      saturated = refusable;
      continue;
    }
    ++inFlight;
    entry.started = true;
    ready.erase(position);
    readyWithoutWork.erase(position);
    if (entry.plugin->assigned) running.insert(position);
  }
}

void ActivationRun::ReportRunning() {
  StatusLog() << '\r';
  for (uint32_t position : running) {
    StatusLog() << "activating: " << entries[position].plugin->name << '\n';
  }
  StatusLog().flush();
}

void ActivationRun::Collect() {
  for (auto [plugin, result] : CurrentWorkerSide().PluginResults()) {
    auto found = positions.find(plugin);
    if (found == positions.end() || !entries[found->second].pending ||
        !entries[found->second].started) {
      Log_Level(2, "Ignoring a result for a plugin that is not running\n");
      continue;
    }
    plugin->Finish(result, flags);
    Leave(found->second);
    --inFlight;
  }
}

void ActivationRun::UnmetDependencies() {
  AlertLog() << "Dawnstep has unmet dependencies!" << std::endl;
  Plugin::CheckCycles();
  EndProcess(1);
}

void ActivationRun::Run() {
  while (!Plugin::registry().pendingPlugins.empty()) {
    Scan();
    if (inFlight == 0) UnmetDependencies();
    ReportRunning();
    Collect();
  }
}

void RemovePending(Plugin* plugin) {
  if (currentRun != nullptr) {
    currentRun->Remove(plugin);
  } else {
    Plugin::registry().pendingPlugins.remove(plugin);
  }
}

}  // namespace

void SetWorkerSide(WorkerSide* side) { workerSide = side; }

void SetPromptHook(PromptHook hook) { promptHook = hook; }

void SetExitHook(ExitHook hook) { exitHook = hook; }

void Plugin::ActivatePlugins(ActivateFlags& flags) {
  FeatureState_Init();
  ProgressLog() << "Activating Dawnstep Plugins: " << std::endl;
  if (!registry().pendingPlugins.empty()) {
    ActivationRun run(flags);
    run.Run();
  }
  StatusLog() << '\r' << std::flush;
  ProgressLog() << "All dawnstep plugins activated" << std::endl;
}

bool Plugin::ActivatePlugin(Plugin* plugin, ActivateFlags& flags) {
  if (plugin->Pending()) return false;
  bool interactiveTagsPending =
      (flags & InteractiveMode) != 0 && Pending(registry().interactiveTags);
  return StartReady(plugin, flags, interactiveTagsPending);
}

bool Plugin::Pending() const {
  if (assigned || Pending(requires_)) return true;
  for (const Plugin* other : registry().pendingPlugins) {
    if (other->Preempts(this)) return true;
  }
  return false;
}

bool Plugin::Pending(const TagSet& tags) {
  for (const Plugin* plugin : registry().pendingPlugins) {
    for (const std::string& tag : tags) {
      if (plugin->Provides(tag)) return true;
    }
  }
  return false;
}

bool Plugin::Preempts(const Plugin* other) const {
  if (other == this || !preemptiveProvider) return false;
  for (const std::string& tag : provides) {
    if (!IsKindTag(tag) && other->Provides(tag)) return true;
  }
  return false;
}

void Plugin::Finish(int32_t result, ActivateFlags& flags) {
  if (disabled) {
    KernelLog() << "Dawnstep plugin " << name << " skipped." << std::endl;
  } else if (result == 0) {
    KernelLog() << "Dawnstep plugin " << name << " activated." << std::endl;
    PreemptProviders();
    UpdateHostProfileBarrier(flags);
  } else if (preemptiveProvider && !IsPreemptivePluginsDisabled(flags)) {
    KernelLog() << "Dawnstep plugin " << name << " opportunistic activation failed." << std::endl;
  } else if (preemptiveProvider) {
    KernelLog() << "Dawnstep plugin " << name << " opportunistic skipped." << std::endl;
  } else {
    AlertLog() << "Dawnstep plugin " << name << " activation failed." << std::endl;
  }
}

void Plugin::PreemptProviders() {
  if (!preemptiveProvider) return;
  auto& providers = registry().providers;
  for (const std::string& tag : provides) {
    auto [begin, end] = providers.equal_range(tag);
    for (auto entry = begin; entry != end; ++entry) {
      Plugin* competitor = entry->second;
      if (competitor == this) continue;
      KernelLog() << "Dawnstep plugin " << competitor->name << " skipped." << std::endl;
      RemovePending(competitor);
    }
    providers.erase(tag);
  }
}

void Plugin::UpdateHostProfileBarrier(ActivateFlags& flags) {
  if (name == "restore-configuration" && IsStatelessNetprov()) flags ^= HostProfileBarrier;
}

bool Plugin::CheckCycle(std::unordered_set<Plugin*>& visited) {
  return WalkRequirements(this, visited, PendingProviderIndex());
}

void Plugin::CheckCycles() {
  ProviderIndex index = PendingProviderIndex();
  for (Plugin* plugin : registry().pendingPlugins) {
    std::unordered_set<Plugin*> visited;
    if (WalkRequirements(plugin, visited, index)) {
      KernelLog() << std::endl;
      return;
    }
  }
}

}  // namespace dawnstep
