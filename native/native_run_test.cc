// Whole runs of the program over native and JSON plugins: plugins that
// crash their worker, dependency order, serial and parallel activation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "tests/run_binary.h"
#include "tests/temp_root.h"

#if defined(__SANITIZE_ADDRESS__)
#define DAWNSTEP_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DAWNSTEP_UNDER_ASAN 1
#endif
#endif

namespace dawnstep {
namespace {

namespace fs = std::filesystem;
using testing::BinaryRun;
using testing::NodeTexts;
using testing::RunBinary;
using testing::TempRoot;

const char kPluginDir[] = "/usr/libexec/dawnstep/plugins";
const char kLogNode[] = "/run/hkn/system.log";
const char kAlertNode[] = "/run/hkn/system.sysAlert";
const char kStatusNode[] = "/run/hkn/system.progressTerm.statusText";
const char kBuiltin[] = "end-autoconf";

#ifdef DAWNSTEP_UNDER_ASAN
constexpr bool kUnderAsan = true;
#else
constexpr bool kUnderAsan = false;
#endif

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  std::vector<std::string> lines = Lines(text);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Where one plugin's outcome was reported.
struct Outcome {
  std::string text;  // what follows the name, e.g. "activated."
  bool onAlert;
};

class NativeRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.MakeDir("/run");
    root.MakeDir("/var/log");
    root.MakeDir(kPluginDir);
    // "mark" notes which plugin ran in which worker (the handler's parent);
    // "meet" waits until every plugin named in its argument has started,
    // and gives up (failing) after about a minute so a fault cannot hang
    // the test.
    root.WriteScript("/usr/lib/corvane/orvocli/bin/mark",
                     "#!/bin/sh\necho \"${1#--name=} $PPID\" >>\"$DAWNSTEP_ROOT/ran\"\n");
    root.WriteScript("/usr/lib/corvane/orvocli/bin/meet",
                     "#!/bin/sh\n"
                     "touch \"$DAWNSTEP_ROOT/started-${1#--name=}\"\n"
                     "for other in ${2#--with=}; do\n"
                     "  tries=0\n"
                     "  while [ ! -e \"$DAWNSTEP_ROOT/started-$other\" ]; do\n"
                     "    tries=$((tries + 1))\n"
                     "    [ $tries -gt 6000 ] && exit 1\n"
                     "    sleep 0.01\n"
                     "  done\n"
                     "done\n");
    root.WriteFile("/usr/lib/corvane/orvocli/test.json", R"({"namespace": "test", "commands": [
        {"name": "mark", "handler": "bin/mark", "parameters": [{"name": "name"}]},
        {"name": "meet", "handler": "bin/meet",
         "parameters": [{"name": "name"}, {"name": "with"}]}]})");
  }

  void InstallNative(const std::string& name) {
    std::string file = "lib" + name + ".so";
    fs::copy_file(std::string(DAWNSTEP_TEST_PLUGIN_DIR) + "/" + file,
                  root.Path(std::string(kPluginDir) + "/" + file));
  }

  void InstallJson(const std::string& name, const std::vector<std::string>& provides,
                   const std::vector<std::string>& needs, const std::string& command) {
    auto list = [](const std::vector<std::string>& tags) {
      std::string text = "[";
      for (const std::string& tag : tags) text += (text.size() > 1 ? ", \"" : "\"") + tag + "\"";
      return text + "]";
    };
    root.WriteFile(std::string(kPluginDir) + "/" + name + ".json",
                   "{\"metadata\": {\"version\": 1, \"provides\": " + list(provides) +
                       ", \"requires\": " + list(needs) + "}, \"operations\": {\"start\": [\"" +
                       command + "\"]}}");
  }

  // A JSON plugin whose work is to note that it ran.
  void InstallMarker(const std::string& name, const std::vector<std::string>& provides,
                     const std::vector<std::string>& needs) {
    InstallJson(name, provides, needs, "test mark --name=" + name);
  }

  BinaryRun Run(const std::vector<std::string>& args) {
    BinaryRun run = RunBinary(args, root.path());
    // Whatever the plugins did, the program itself stays clean.
    EXPECT_EQ(std::string::npos, run.err.find("Sanitizer")) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("runtime error")) << run.err;
    return run;
  }

  // The plugins that ran through "mark", in order, with their workers.
  std::vector<std::pair<std::string, std::string>> Marks() {
    std::vector<std::pair<std::string, std::string>> marks;
    for (const std::string& line : Lines(root.ReadFile("/ran"))) {
      size_t blank = line.find(' ');
      marks.emplace_back(line.substr(0, blank), line.substr(blank + 1));
    }
    return marks;
  }

  std::vector<std::string> MarkedNames() {
    std::vector<std::string> names;
    for (const auto& mark : Marks()) names.push_back(mark.first);
    return names;
  }

  // Every outcome line of the run, by plugin, from both nodes.
  std::map<std::string, std::vector<Outcome>> Outcomes() {
    static const char* const kEndings[] = {" opportunistic activation failed.",
                                           " opportunistic skipped.", " activation failed.",
                                           " activated.", " skipped."};
    std::map<std::string, std::vector<Outcome>> outcomes;
    for (const char* node : {kLogNode, kAlertNode}) {
      for (const std::string& record : NodeTexts(root, node)) {
        for (const std::string& line : Lines(record)) {
          if (!line.starts_with("Dawnstep plugin ")) continue;
          for (const char* ending : kEndings) {
            if (!line.ends_with(ending)) continue;
            std::string name = line.substr(16, line.size() - 16 - std::strlen(ending));
            outcomes[name].push_back({ending + 1, node == kAlertNode});
            break;
          }
        }
      }
    }
    return outcomes;
  }

  // Every line of the system log node.
  std::string SystemLog() {
    std::string text;
    for (const std::string& record : NodeTexts(root, kLogNode)) text += record + "\n";
    return text;
  }

  // Checks that each plugin of `expected` has exactly its one outcome line
  // (failures on the alert node, the rest on the system log) and that no
  // other plugin has any.
  void ExpectOutcomes(const std::map<std::string, std::string>& expected) {
    std::map<std::string, std::vector<Outcome>> outcomes = Outcomes();
    for (const auto& [name, text] : expected) {
      ASSERT_EQ(1u, outcomes[name].size()) << name;
      EXPECT_EQ(text, outcomes[name][0].text) << name;
      EXPECT_EQ(text == "activation failed.", outcomes[name][0].onAlert) << name;
    }
    EXPECT_EQ(expected.size(), outcomes.size());
    // A dead worker is noticed by its answer pipe, never by a failed request.
    EXPECT_EQ(std::string::npos, SystemLog().find("communication failed")) << SystemLog();
  }

  // The plugins named by the timing profile's records; checks the file's
  // frame: the first line, then the records, then the trailer, once.
  std::multiset<std::string> TimedPlugins() {
    std::vector<std::string> lines = Lines(root.ReadFile("/var/log/sysboot.log"));
    std::multiset<std::string> names;
    EXPECT_GE(lines.size(), 4u);
    if (lines.size() < 4) return names;
    EXPECT_TRUE(lines.front().starts_with("HVKernel Initialization Time: ")) << lines.front();
    size_t trailer = lines.size() - 3;
    EXPECT_EQ("=== Dawnstep configuration info ===", lines[trailer]);
    EXPECT_TRUE(lines[trailer + 1].starts_with(" Start: ")) << lines[trailer + 1];
    EXPECT_TRUE(lines[trailer + 2].starts_with(" End: ")) << lines[trailer + 2];
    for (size_t i = 1; i < trailer; ++i) {
      size_t at = lines[i].find("] sysboot: ");
      EXPECT_TRUE(lines[i].starts_with("[") && at != std::string::npos) << lines[i];
      if (at != std::string::npos) names.insert(lines[i].substr(at + 11));
    }
    return names;
  }

  // How many plugins each status record shows as running.
  std::vector<size_t> RunningPerStatus() {
    std::vector<size_t> counts;
    for (const std::string& record : NodeTexts(root, kStatusNode)) {
      size_t count = 0;
      for (size_t at = record.find("activating: "); at != std::string::npos;
           at = record.find("activating: ", at + 1)) {
        ++count;
      }
      counts.push_back(count);
    }
    return counts;
  }

  TempRoot root;
};

// Runs each case without a worker limit and with one worker.
class NativeRunLimitTest : public NativeRunTest, public ::testing::WithParamInterface<int> {
 protected:
  std::vector<std::string> LimitArgs() {
    if (GetParam() < 0) return {};
    return {"--max-workers", std::to_string(GetParam())};
  }
};

INSTANTIATE_TEST_SUITE_P(Limits, NativeRunLimitTest, ::testing::Values(-1, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param < 0 ? std::string("Unlimited")
                                                 : "Max" + std::to_string(info.param);
                         });

TEST_P(NativeRunLimitTest, CrashingPluginsStayInTheirWorkersAndTheRunGoesOn) {
  for (const char* name : {"segfault", "abort", "exit7", "sigkill", "v1", "v2_null_start"}) {
    InstallNative(name);
  }
  // v1 requires "base"; "after" must wait for every native plugin.
  InstallMarker("base", {"base"}, {});
  InstallMarker("after", {"late"}, {"native plugins", "net"});
  InstallMarker("last", {}, {"late"});

  BinaryRun run = Run(LimitArgs());
  EXPECT_EQ(0, run.status) << run.err;

  EXPECT_TRUE(HasLine(run.out, "abort: exited with signal 6")) << run.out;
  EXPECT_TRUE(HasLine(run.out, "exit7: exited with code 7")) << run.out;
  EXPECT_TRUE(HasLine(run.out, "sigkill: exited with signal 9")) << run.out;
  bool segfaultSignal = HasLine(run.out, "segfault: exited with signal 11");
  if (kUnderAsan && !segfaultSignal) {
    // The sanitizer turns the fault into its report and exit status 1.
    EXPECT_TRUE(HasLine(run.out, "segfault: exited with code 1")) << run.out;
    EXPECT_NE(std::string::npos,
              root.ReadFile("/var/log/dawnstep-native-stdout.log").find("AddressSanitizer"));
  } else {
    EXPECT_TRUE(segfaultSignal) << run.out;
  }
  std::vector<std::string> out = Lines(run.out);
  EXPECT_EQ(4, std::count_if(out.begin(), out.end(),
                             [](const std::string& line) {
                               return line.find(": exited ") != std::string::npos;
                             }))
      << run.out;

  ExpectOutcomes({{"segfault", "activation failed."},
                  {"abort", "activation failed."},
                  {"exit7", "activation failed."},
                  {"sigkill", "activation failed."},
                  {"v1", "activated."},
                  {"v2_null_start", "activated."},
                  {"base", "activated."},
                  {"after", "activated."},
                  {"last", "activated."},
                  {kBuiltin, "activated."}});
  std::vector<std::string> marked = MarkedNames();
  EXPECT_EQ((std::vector<std::string>{"base", "after", "last"}), marked);
  // Only answered activations are timed: a worker that died took its
  // record with it.
  EXPECT_EQ((std::multiset<std::string>{"v1", "v2_null_start", "base", "after", "last", kBuiltin}),
            TimedPlugins());
  EXPECT_NE(std::string::npos,
            root.ReadFile("/var/log/dawnstep-native-stdout.log").find("v1: start ran"));
}

TEST_F(NativeRunTest, AWorkerKilledWhileBusyIsReplacedByANewOne) {
  InstallMarker("first", {}, {});
  InstallNative("sigkill");
  InstallMarker("later", {}, {"native plugins"});

  BinaryRun run = Run({"--max-workers", "1"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(HasLine(run.out, "sigkill: exited with signal 9")) << run.out;
  ExpectOutcomes({{"first", "activated."},
                  {"sigkill", "activation failed."},
                  {"later", "activated."},
                  {kBuiltin, "activated."}});

  // One worker at a time: "first" and "sigkill" shared it, and "later" got
  // a new one after it was killed.
  auto marks = Marks();
  ASSERT_EQ(2u, marks.size());
  EXPECT_EQ("first", marks[0].first);
  EXPECT_EQ("later", marks[1].first);
  EXPECT_TRUE(HasLine(root.ReadFile("/var/log/dawnstep-native-stdout.log"),
                      "sigkill: worker " + marks[0].second));
  EXPECT_NE(marks[0].second, marks[1].second);
}

TEST_P(NativeRunLimitTest, DependenciesOrderTheRun) {
  // Registered (by file name) in the reverse of the order they must run.
  InstallMarker("a-top", {}, {"mid", "net"});
  InstallMarker("b-mid", {"mid"}, {"low"});
  InstallMarker("c-low", {"low", "base"}, {});
  InstallMarker("d-alone", {}, {});
  InstallNative("v1");  // requires "base", provides "net"

  BinaryRun run = Run(LimitArgs());
  EXPECT_EQ(0, run.status) << run.err;

  std::vector<std::string> marked = MarkedNames();
  auto position = [&marked](const std::string& name) {
    return std::find(marked.begin(), marked.end(), name) - marked.begin();
  };
  ASSERT_EQ(4u, marked.size());
  EXPECT_LT(position("c-low"), position("b-mid"));
  EXPECT_LT(position("b-mid"), position("a-top"));
  EXPECT_EQ((std::set<std::string>{"a-top", "b-mid", "c-low", "d-alone"}),
            std::set<std::string>(marked.begin(), marked.end()));
  ExpectOutcomes({{"a-top", "activated."},
                  {"b-mid", "activated."},
                  {"c-low", "activated."},
                  {"d-alone", "activated."},
                  {"v1", "activated."},
                  {kBuiltin, "activated."}});
  EXPECT_EQ((std::multiset<std::string>{"a-top", "b-mid", "c-low", "d-alone", "v1", kBuiltin}),
            TimedPlugins());
  // v1 ran after its requirement, and the built-in plugin after all.
  std::vector<std::string> activating;
  for (const std::string& record : NodeTexts(root, kLogNode)) {
    for (const std::string& line : Lines(record)) {
      if (line.starts_with("Activating Dawnstep plugin ")) activating.push_back(line);
    }
  }
  auto started = [&activating](const std::string& name) {
    return std::find(activating.begin(), activating.end(),
                     "Activating Dawnstep plugin " + name + ".") -
           activating.begin();
  };
  EXPECT_LT(started("c-low"), started("v1"));
  EXPECT_LT(started("v1"), started("a-top"));
  EXPECT_EQ(static_cast<long>(activating.size()) - 1, started(kBuiltin));

  std::vector<size_t> running = RunningPerStatus();
  if (GetParam() == 1) {
    // One plugin per scan, all in the one worker.
    EXPECT_EQ(6u, std::count(running.begin(), running.end(), 1u));
    EXPECT_EQ(running.size(), std::count(running.begin(), running.end(), 1u) +
                                  std::count(running.begin(), running.end(), 0u));
    std::set<std::string> workers;
    for (const auto& mark : Marks()) workers.insert(mark.second);
    EXPECT_EQ(1u, workers.size());
  } else {
    // c-low and d-alone have no requirements: both start in the first scan.
    ASSERT_FALSE(running.empty());
    EXPECT_LE(2u, *std::max_element(running.begin(), running.end()));
  }
}

TEST_F(NativeRunTest, IndependentPluginsRunAtOnceInSeveralWorkers) {
  std::optional<uint64_t> memory = MainMemoryBytes();
  if (!memory || *memory <= (uint64_t{5} << 30)) {
    GTEST_SKIP() << "this host's memory makes the program activate serially";
  }
  // Each waits until all three have started: only three workers at once
  // can finish them.
  for (const char* name : {"meet-a", "meet-b", "meet-c"}) {
    InstallJson(name, {}, {},
                std::string("test meet --name=") + name + " '--with=meet-a meet-b meet-c'");
  }
  BinaryRun run = Run({});
  EXPECT_EQ(0, run.status) << run.err;
  ExpectOutcomes({{"meet-a", "activated."},
                  {"meet-b", "activated."},
                  {"meet-c", "activated."},
                  {kBuiltin, "activated."}});
  std::vector<std::string> statuses = NodeTexts(root, kStatusNode);
  EXPECT_NE(statuses.end(), std::find(statuses.begin(), statuses.end(),
                                      "activating: meet-a\nactivating: meet-b\n"
                                      "activating: meet-c\n"));
  EXPECT_EQ((std::multiset<std::string>{"meet-a", "meet-b", "meet-c", kBuiltin}), TimedPlugins());
}

}  // namespace
}  // namespace dawnstep
