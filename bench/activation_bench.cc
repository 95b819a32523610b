// Activation runs over large plugin sets: the scheduler alone (a worker side
// without processes), and whole runs through forked workers.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/hkn.h"
#include "plugin/scheduler.h"
#include "tests/fake_worker_side.h"
#include "tests/test_plugin.h"
#include "worker/worker.h"

namespace dawnstep {
namespace {

using testing::FakeWorkerSide;
using testing::TestPlugin;
using Plugins = std::vector<std::unique_ptr<TestPlugin>>;

// Node records go nowhere, so the scheduler's own cost shows.
class NullHkn : public HknInterface {
 public:
  int32_t CheckSig(uint32_t*, int32_t, uint32_t*) override { return 0; }
  HKN_ParamList* ParamListCreate(uint32_t, uint32_t) override {
    return reinterpret_cast<HKN_ParamList*>(this);
  }
  int32_t ParamListAddString(HKN_ParamList*, const char*) override { return 0; }
  int32_t Set(uint32_t, void*, HKN_ParamList*, void*, uint32_t) override { return 0; }
  void ParamListDestroy(HKN_ParamList*) override {}
};

// A dependency graph in shuffled registration order: each plugin provides
// its own tag and requires the tags of up to three plugins made before it;
// every fiftieth is a preemptive provider sharing a tag with a competitor,
// and a few have nothing to start.
Plugins MakeGraph(size_t count) {
  Plugin::ResetRegistry();
  std::minstd_rand random(42);
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  Plugins plugins;
  for (size_t i : order) {
    std::vector<std::string> provides{"tag" + std::to_string(i), Plugin::kJsonKind};
    std::vector<std::string> needs;
    for (size_t n = i == 0 ? 0 : random() % 4; n > 0; --n) {
      needs.push_back("tag" + std::to_string(random() % i));
    }
    if (i % 50 == 0 || i % 50 == 1) provides.push_back("slot" + std::to_string(i / 50));
    plugins.push_back(std::make_unique<TestPlugin>("plugin" + std::to_string(i), provides, needs));
    plugins.back()->preemptiveProvider = i % 50 == 0;
    plugins.back()->nothingToStart = i % 97 == 0;
  }
  return plugins;
}

void PerPlugin(benchmark::State& state, size_t count) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
  state.counters["per_plugin"] = benchmark::Counter(
      static_cast<double>(count),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SchedulerAlone(benchmark::State& state) {
  size_t count = static_cast<size_t>(state.range(0));
  NullHkn hkn;
  SetHknInterface(&hkn);
  for (auto _ : state) {
    state.PauseTiming();
    Plugins plugins = MakeGraph(count);
    FakeWorkerSide side(4, 7);
    side.activate = false;
    SetWorkerSide(&side);
    Plugin::ActivateFlags flags = 0;
    state.ResumeTiming();
    Plugin::ActivatePlugins(flags);
  }
  SetWorkerSide(nullptr);
  SetHknInterface(nullptr);
  PerPlugin(state, count);
}
BENCHMARK(BM_SchedulerAlone)->Arg(1000)->Arg(2000)->Arg(5000)->Arg(10000)->Arg(20000)
    ->Unit(benchmark::kMillisecond);

// No-op plugins through four real workers, node records written to files.
void BM_WholeRunThroughWorkers(benchmark::State& state) {
  size_t count = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    Plugin::ResetRegistry();
    Plugins plugins;
    for (size_t i = 0; i < count; ++i) {
      plugins.push_back(std::make_unique<TestPlugin>(
          "plugin" + std::to_string(i), std::vector<std::string>{Plugin::kJsonKind},
          std::vector<std::string>{}));
    }
    Worker::LimitWorkers(4);
    Plugin::ActivateFlags flags = 0;
    state.ResumeTiming();
    Plugin::ActivatePlugins(flags);
    state.PauseTiming();
    Worker::ResetPool();
    state.ResumeTiming();
  }
  PerPlugin(state, count);
}
BENCHMARK(BM_WholeRunThroughWorkers)->Arg(100)->Arg(1000)->Arg(5000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dawnstep

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "dawnstep-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  setenv("DAWNSTEP_ROOT", pattern.c_str(), 1);
  std::filesystem::create_directories(pattern + "/run/hkn");
  std::filesystem::create_directories(pattern + "/var/log");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(pattern);
  return 0;
}
