// Whole runs of the program against broken machines, hostile plugin files
// and misbehaving plugin code. Whatever happens, every loaded plugin gets
// exactly one outcome, the run ends with status 0, and what the run wrote
// for the operator consists of whole records.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "tests/run_binary.h"
#include "tests/temp_root.h"

namespace dawnstep {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::BinaryRun;
using testing::RunBinary;
using testing::RunCommand;
using testing::TempRoot;
using Outcomes = std::map<std::string, std::string>;

const char kPluginDir[] = "/usr/libexec/dawnstep/plugins";
const char kCommandDir[] = "/usr/lib/corvane/orvocli";
const char kNodeDir[] = "/run/hkn";
const char* const kNodeFiles[] = {"system.log", "system.sysAlert",
                                  "system.progressTerm.progressText",
                                  "system.progressTerm.statusText"};
const char kActivated[] = "activated";
const char kFailed[] = "activation failed";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quoted(const std::vector<std::string>& words) {
  std::string list;
  for (const std::string& word : words) {
    list += (list.empty() ? "\"" : ", \"") + word + "\"";
  }
  return "[" + list + "]";
}

std::string JsonPluginText(const std::vector<std::string>& provides,
                           const std::vector<std::string>& requires_,
                           const std::vector<std::string>& commands) {
  return "{\"metadata\": {\"provides\": " + Quoted(provides) + ", \"requires\": " +
         Quoted(requires_) + ", \"version\": 1}, \"operations\": {\"start\": " +
         Quoted(commands) + "}}\n";
}

// Commands for the plugins of these tests. Each handler takes one
// --name=VALUE argument.
const char kCommands[] = R"({"namespace": "fault", "commands": [
  {"name": "touch", "handler": "bin/touch", "parameters": [{"name": "name", "required": true}]},
  {"name": "fds", "handler": "bin/fds", "parameters": [{"name": "name", "required": true}]},
  {"name": "shake", "handler": "bin/shake", "parameters": [{"name": "name", "required": true}]}
]})";

// Leaves evidence that the plugin's work was done.
const char kTouchHandler[] = R"sh(#!/bin/sh
mkdir -p "$DAWNSTEP_ROOT/done" && : >"$DAWNSTEP_ROOT/done/${1#--name=}"
)sh";

// Lists the descriptors of the worker that runs it (its parent), of the
// main process (the worker's parent) and, through exec, its own.
const char kFdsHandler[] = R"sh(#!/bin/sh
out="$DAWNSTEP_ROOT/fds/${1#--name=}"
mkdir -p "$DAWNSTEP_ROOT/fds"
worker=$PPID
main=$(sed -n 's/^PPid:[[:space:]]*//p' /proc/$worker/status)
{
  echo "stderr $(readlink /proc/$$/fd/2)"
  for fd in /proc/$worker/fd/*; do echo "worker $(readlink "$fd")"; done
  for fd in /proc/$main/fd/*; do echo "main $(readlink "$fd")"; done
} >"$out"
exec ls -l /proc/self/fd >"$out.own"
)sh";

// Stops and continues the main process many times while it waits, and
// sends it signals whose default is to be ignored.
const char kShakeHandler[] = R"sh(#!/bin/sh
main=$(sed -n 's/^PPid:[[:space:]]*//p' /proc/$PPID/status)
i=0
while [ $i -lt 300 ]; do
  kill -STOP $main; kill -CONT $main; kill -WINCH $main; kill -CHLD $main; kill -URG $main
  i=$((i + 1))
done
)sh";

class FaultSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    root.MakeDir("/var/log");
    root.MakeDir(kNodeDir);
    root.WriteFile(std::string(kCommandDir) + "/fault.json", kCommands);
    root.WriteScript(std::string(kCommandDir) + "/bin/touch", kTouchHandler);
    root.WriteScript(std::string(kCommandDir) + "/bin/fds", kFdsHandler);
    root.WriteScript(std::string(kCommandDir) + "/bin/shake", kShakeHandler);
    nodeDir = root.Path(kNodeDir);
  }

  void AddJson(const std::string& name, const std::vector<std::string>& commands,
               const std::vector<std::string>& provides = {},
               const std::vector<std::string>& requires_ = {}) {
    root.WriteFile(std::string(kPluginDir) + "/" + name + ".json",
                   JsonPluginText(provides, requires_, commands));
  }

  // A plugin whose work leaves done/<name> behind.
  void AddToucher(const std::string& name) { AddJson(name, {"fault touch --name=" + name}); }

  // Installs a built test library as lib<name>.so: a plugin called <name>.
  void AddNative(const std::string& library, const std::string& name) {
    fs::create_directories(root.Path(kPluginDir));
    fs::copy_file(std::string(DAWNSTEP_TEST_PLUGIN_DIR) + "/lib" + library + ".so",
                  root.Path(std::string(kPluginDir) + "/lib" + name + ".so"));
  }

  std::vector<std::string> NodeRecords(const std::string& file) const {
    std::vector<std::string> texts;
    for (const std::string& line : Lines(ReadAll(nodeDir + "/" + file))) {
      texts.push_back(nlohmann::json::parse(line).at("text").get<std::string>());
    }
    return texts;
  }

  // Every outcome line on the system log and alert nodes, by plugin name.
  std::multimap<std::string, std::string> OutcomeLines() const {
    static const std::regex outcome(
        "Dawnstep plugin (.*) (activated|skipped|activation failed|"
        "opportunistic activation failed|opportunistic skipped)\\.");
    std::multimap<std::string, std::string> lines;
    for (const char* file : {"system.log", "system.sysAlert"}) {
      for (const std::string& text : NodeRecords(file)) {
        std::smatch match;
        if (std::regex_match(text, match, outcome)) lines.emplace(match[1], match[2]);
      }
    }
    return lines;
  }

  void ExpectOutcomes(const Outcomes& expected) const {
    std::multimap<std::string, std::string> lines = OutcomeLines();
    for (const auto& [name, outcome] : expected) {
      EXPECT_EQ(1u, lines.count(name)) << name;
      auto found = lines.find(name);
      if (found != lines.end()) {
        EXPECT_EQ(outcome, found->second) << name;
      }
    }
    EXPECT_EQ(expected.size(), lines.size());
  }

  // Node files hold one JSON record per line, nothing torn.
  void ExpectWholeNodeRecords() const {
    static const std::regex time("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}Z");
    for (const char* file : kNodeFiles) {
      std::string text = ReadAll(nodeDir + "/" + file);
      if (text.empty()) continue;
      EXPECT_EQ('\n', text.back()) << file;
      for (const std::string& line : Lines(text)) {
        nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << file << ": " << line;
        EXPECT_TRUE(record["time"].is_string() &&
                    std::regex_match(record["time"].get<std::string>(), time))
            << line;
        EXPECT_TRUE(record["pid"].is_number_integer()) << line;
        EXPECT_TRUE(record["text"].is_string()) << line;
      }
    }
  }

  // The boot profile's lines all have their format: the uptime first, the
  // trailer last, activation records between. Returns the names recorded.
  std::multiset<std::string> ExpectWholeProfile() const {
    static const std::string stamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{6}";
    static const std::regex record("\\[" + stamp + " - " + stamp + "\\] sysboot: (.*)");
    static const std::regex uptime("HVKernel Initialization Time: \\d*000000");
    static const std::regex start(" Start: " + stamp);
    static const std::regex end(" End: " + stamp);
    std::multiset<std::string> names;
    std::string text = root.ReadFile("/var/log/sysboot.log");
    if (text.empty()) {
      ADD_FAILURE() << "no boot profile";
      return names;
    }
    EXPECT_EQ('\n', text.back());
    std::vector<std::string> lines = Lines(text);
    EXPECT_GE(lines.size(), 4u);
    if (lines.size() < 4) return names;
    EXPECT_TRUE(std::regex_match(lines[0], uptime)) << lines[0];
    for (size_t i = 1; i + 3 < lines.size(); ++i) {
      std::smatch match;
      EXPECT_TRUE(std::regex_match(lines[i], match, record)) << lines[i];
      names.insert(match[1]);
    }
    EXPECT_EQ("=== Dawnstep configuration info ===", lines[lines.size() - 3]);
    EXPECT_TRUE(std::regex_match(lines[lines.size() - 2], start)) << lines[lines.size() - 2];
    EXPECT_TRUE(std::regex_match(lines.back(), end)) << lines.back();
    return names;
  }

  bool Done(const std::string& name) const { return fs::exists(root.Path("/done/" + name)); }

  TempRoot root;
  std::string nodeDir;
};

// Runs the program with the root mounted read-only in a mount namespace of
// its own, the node directory excepted (on a host the nodes are no files).
BinaryRun RunOnReadOnlyRoot(const std::string& root, const std::string& nodes) {
  const std::string script =
      "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && "
      "mount --bind \"$2\" \"$1/run/hkn\" && shift 2 && exec \"$@\"";
  return RunCommand({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", script,
                     "sh", root, nodes, DAWNSTEP_BINARY},
                    root);
}

bool CanMountReadOnly(const TempRoot& root) {
  BinaryRun probe = RunCommand({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh",
                                "-c", "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\"",
                                "sh", root.path()},
                               root.path());
  return probe.status == 0;
}

TEST_F(FaultSuite, ReadOnlyRoot) {
  if (!CanMountReadOnly(root)) GTEST_SKIP() << "no private mount namespace here";
  AddToucher("writer");
  AddJson("quiet", {"# nothing to change"});
  root.WriteFile(std::string(kPluginDir) + "/once.json",
                 "{\"metadata\": {\"provides\": [], \"requires\": [], \"version\": 3, "
                 "\"run_once\": true}, \"operations\": {\"start\": [\"# once\"]}}");
  AddNative("v1", "native");
  root.WriteFile("/.runonce", "dawnstep.run-once=earlier");
  TempRoot nodes;
  nodeDir = nodes.path();

  BinaryRun run = RunOnReadOnlyRoot(root.path(), nodes.path());

  EXPECT_EQ(0, run.status) << run.err;
  // The writer's handler cannot write; the built-in plugin cannot reach the
  // configuration store but reports that on its own and succeeds.
  ExpectOutcomes({{"writer", kFailed},
                  {"quiet", kActivated},
                  {"once", kActivated},
                  {"native", kActivated},
                  {"end-autoconf", kActivated}});
  ExpectWholeNodeRecords();
  EXPECT_EQ("dawnstep.run-once=earlier", root.ReadFile("/.runonce"));
  EXPECT_FALSE(fs::exists(root.Path("/var/log/sysboot.log")));
  EXPECT_FALSE(fs::exists(root.Path("/done")));
  EXPECT_THAT(NodeRecords("system.log"), ::testing::Contains(HasSubstr("Failed to end autoconf")));
}

// Directories stand where the run-once record and every log file belong.
TEST_F(FaultSuite, DirectoriesWhereFilesBelong) {
  for (const char* path : {"/.runonce", "/var/log/sysboot.log", "/var/log/dawnstep-stdout.log",
                           "/var/log/dawnstep-orvocli-stdout.log",
                           "/var/log/dawnstep-native-stdout.log"}) {
    root.MakeDir(path);
  }
  AddToucher("a");
  AddToucher("b");
  AddNative("v1", "native");
  AddNative("segfault", "crasher");

  BinaryRun run = RunBinary({}, root.path());

  EXPECT_EQ(0, run.status) << run.err;
  ExpectOutcomes({{"a", kActivated},
                  {"b", kActivated},
                  {"native", kActivated},
                  {"crasher", "activation failed"},
                  {"end-autoconf", kActivated}});
  ExpectWholeNodeRecords();
  EXPECT_TRUE(Done("a") && Done("b"));
  // With no log file to go to, plugin output stays on the program's own.
  EXPECT_THAT(run.out, HasSubstr("v1: start ran"));
  EXPECT_THAT(run.out, HasSubstr("crasher: exited with "));
}

TEST_F(FaultSuite, MissingLogDirectory) {
  fs::remove(root.Path("/var/log"));
  AddToucher("a");
  AddNative("v1", "native");

  BinaryRun run = RunBinary({}, root.path());

  EXPECT_EQ(0, run.status) << run.err;
  ExpectOutcomes({{"a", kActivated}, {"native", kActivated}, {"end-autoconf", kActivated}});
  ExpectWholeNodeRecords();
  EXPECT_TRUE(Done("a"));
  EXPECT_FALSE(fs::exists(root.Path("/var/log")));
}

// A regular file where the node directory belongs: nothing reaches the
// nodes at all, yet every plugin runs once and the profile shows it.
TEST_F(FaultSuite, NodeDirectoryCannotBeCreated) {
  fs::remove(root.Path(kNodeDir));
  root.WriteFile(kNodeDir, "not a directory");
  AddToucher("a");
  AddToucher("b");
  AddNative("v1", "native");

  BinaryRun run = RunBinary({}, root.path());

  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("not a directory", root.ReadFile(kNodeDir));
  EXPECT_TRUE(Done("a") && Done("b"));
  EXPECT_EQ("EndAutoConf\nCleanupBootState\nEnableMgmtdNotification true\n",
            root.ReadFile("/var/lib/corvane/configstore.log"));
  EXPECT_EQ((std::multiset<std::string>{"a", "b", "native", "end-autoconf"}),
            ExpectWholeProfile());
  EXPECT_THAT(run.err, HasSubstr("Failed to set HKN node."));
}

// Writes `count` plugin files that no loader can accept, each of a
// different kind of damage; returns their paths.
std::vector<std::string> WriteHostileFiles(const TempRoot& root, int count) {
  const std::string valid = JsonPluginText({"x"}, {}, {"# fine"});
  const std::string library = ReadAll(DAWNSTEP_TEST_PLUGIN_DIR "/libv3.so");
  const std::vector<std::string> wrongKinds = {
      "[]",
      "\"text\"",
      "{\"metadata\": [], \"operations\": {}}",
      "{\"metadata\": {\"provides\": {}, \"requires\": [], \"version\": 1}, \"operations\": {}}",
      "{\"metadata\": {\"provides\": [1], \"requires\": [], \"version\": 1}, \"operations\": {}}",
      "{\"metadata\": {\"provides\": [], \"requires\": [], \"version\": \"1\"}, \"operations\": {}}",
      "{\"metadata\": {\"provides\": [], \"requires\": [], \"version\": 6}, \"operations\": {}}",
      "{\"metadata\": {\"provides\": [], \"requires\": [], \"version\": 1e999}, \"operations\": {}}",
      "{\"metadata\": {\"provides\": [], \"requires\": [], \"version\": 3}, "
      "\"operations\": {\"start\": []}}",
      "{\"metadata\": {\"provides\": [], \"requires\": [], \"version\": 1}, "
      "\"operations\": {\"start\": [null]}}",
  };
  std::mt19937 random(20261206);
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    std::string name = std::string(kPluginDir) + "/bad" + std::to_string(i);
    std::string content;
    switch (i % 10) {
      case 0:  // cut short
        content = valid.substr(0, random() % (valid.size() - 2));
        name += ".json";
        break;
      case 1:  // a huge string where an object belongs
        content = "{\"metadata\": \"" + std::string(i < 20 ? 1 << 20 : 1 << 14, 'x') + "\"}";
        name += ".json";
        break;
      case 2:  // nesting deeper than any recursive reader survives
        content = i < 20 ? std::string(100000, '[') + std::string(i == 2 ? 100000 : 0, ']')
                         : "{\"metadata\": {\"provides\": [[[[[[[[[[]]]]]]]]]]}}";
        name += ".json";
        break;
      case 3:
        content = wrongKinds[(i / 10) % wrongKinds.size()];
        name += ".json";
        break;
      case 4:  // NUL bytes inside
        content = valid;
        content[random() % content.size()] = '\0';
        name += ".json";
        break;
      case 5:  // binary junk posing as a library
        for (int b = 0; b < 4096; ++b) content += static_cast<char>(random());
        if (i % 20 == 5) content.replace(0, 4, "\x7f" "ELF");
        name += ".so";
        break;
      case 6:  // a real library cut short
        content = library.substr(0, 64 + random() % (library.size() / 2));
        name += ".so";
        break;
      case 7:  // unreadable (for anyone but root), and empty
        name += i % 20 == 7 ? ".json" : ".so";
        break;
      case 8:  // no known kind
        content = valid;
        name += i % 20 == 8 ? ".txt" : "";
        break;
      case 9:  // a library without the contract's symbols, or a JSON document of junk
        if (i % 20 == 9) {
          content = ReadAll(DAWNSTEP_TEST_PLUGIN_DIR "/libno_metadata.so");
          name = std::string(kPluginDir) + "/libbad" + std::to_string(i) + ".so";
        } else {
          content = "{\"metadata\": {" + std::string(5000, '{') + "}";
          name += ".json";
        }
        break;
    }
    root.WriteFile(name, content);
    if (i % 10 == 7) chmod(root.Path(name).c_str(), 0);
    paths.push_back(root.Path(name));
  }
  return paths;
}

TEST_F(FaultSuite, HostilePluginFiles) {
  std::vector<std::string> hostile = WriteHostileFiles(root, 500);
  for (int i = 0; i < 5; ++i) AddToucher("good" + std::to_string(i));
  AddNative("v1", "native");
  // Links and directories are no plugin files: passed over in silence.
  fs::create_symlink(root.Path(std::string(kPluginDir) + "/good0.json"),
                     root.Path(std::string(kPluginDir) + "/linked.json"));
  fs::create_symlink("/nonexistent", root.Path(std::string(kPluginDir) + "/dangling.so"));
  root.MakeDir(std::string(kPluginDir) + "/directory.json");
  // A command descriptor nested too deep for a recursive reader.
  root.WriteFile(std::string(kCommandDir) + "/deep.json", std::string(100000, '['));

  BinaryRun run = RunBinary({}, root.path());

  EXPECT_EQ(0, run.status) << run.err.substr(0, 2000);
  ExpectOutcomes({{"good0", kActivated},
                  {"good1", kActivated},
                  {"good2", kActivated},
                  {"good3", kActivated},
                  {"good4", kActivated},
                  {"native", kActivated},
                  {"end-autoconf", kActivated}});
  ExpectWholeNodeRecords();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(Done("good" + std::to_string(i))) << i;
  std::set<std::string> skipped;
  for (const std::string& line : Lines(run.err)) {
    if (line.starts_with("Skipping ")) skipped.insert(line.substr(9, line.find(": ") - 9));
  }
  EXPECT_EQ(std::set<std::string>(hostile.begin(), hostile.end()), skipped);
  size_t loadReports = 0;
  for (const std::string& text : NodeRecords("system.log")) {
    if (text.starts_with("exception occurred whilst loading plugin ")) ++loadReports;
  }
  EXPECT_EQ(hostile.size(), loadReports);
  EXPECT_THAT(run.err, Not(HasSubstr("linked")));
  EXPECT_THAT(run.err, Not(HasSubstr("dangling")));
  EXPECT_THAT(run.err, Not(HasSubstr("directory.json")));
}

// Plugin code that crashes, exits, throws, signals its own worker, closes
// or scribbles into descriptors that are not its own. Serially each death
// costs the only worker; in parallel every plugin has its own.
TEST_F(FaultSuite, MisbehavingPluginCode) {
  const Outcomes expected = {
      {"segfault", kFailed},    {"abort", kFailed},        {"exit7", kFailed},
      {"throws", kFailed},      {"close_fds", kFailed},    {"scribble", kFailed},
      {"signal_term", kFailed}, {"signal_kill", kFailed},  {"signal_usr1", kFailed},
      {"signal_winch", kActivated}, {"v1", kActivated},    {"killer", kFailed},
      {"after", kActivated},    {"end-autoconf", kActivated}};
  for (const auto& [name, outcome] : expected) {
    if (name != "killer" && name != "after" && name != "end-autoconf") AddNative(name, name);
  }
  // A handler that kills the worker which started it.
  root.WriteScript(std::string(kCommandDir) + "/bin/kill-parent", "#!/bin/sh\nkill -9 $PPID\n");
  root.WriteFile(std::string(kCommandDir) + "/kill.json",
                 R"({"namespace": "worker", "commands": [{"name": "kill", "handler": "bin/kill-parent"}]})");
  AddJson("killer", {"worker kill"}, {"killer"});
  AddJson("after", {"fault touch --name=after"}, {}, {"killer", "native plugins"});

  for (const char* limit : {"1", "-1"}) {
    SCOPED_TRACE(std::string("--max-workers ") + limit);
    fs::remove_all(nodeDir);
    root.MakeDir(kNodeDir);
    BinaryRun run = RunBinary({"--max-workers", limit}, root.path());
    EXPECT_EQ(0, run.status) << run.err;
    ExpectOutcomes(expected);
    ExpectWholeNodeRecords();
    ExpectWholeProfile();
    // A sanitized build reports the fault itself and exits instead.
    EXPECT_THAT(run.out, HasSubstr("segfault: exited with "));
    EXPECT_THAT(run.out, HasSubstr("exit7: exited with code 7"));
    EXPECT_THAT(run.out, HasSubstr("signal_term: exited with signal 15"));
    EXPECT_THAT(run.out, HasSubstr("close_fds: exited with signal 9"));
    EXPECT_THAT(run.out, HasSubstr("scribble: invalid worker response"));
    EXPECT_TRUE(Done("after"));
  }
}

// The main process is stopped, continued and signalled again and again
// while it waits for results and reads and writes its pipes.
TEST_F(FaultSuite, SignalsToTheMainProcess) {
  Outcomes expected = {{"end-autoconf", kActivated}};
  for (int i = 0; i < 3; ++i) {
    std::string name = "shaker" + std::to_string(i);
    AddJson(name, {"fault shake --name=" + name});
    expected[name] = kActivated;
  }
  for (int i = 0; i < 40; ++i) {
    std::string name = "busy" + std::to_string(i);
    AddToucher(name);
    expected[name] = kActivated;
  }

  BinaryRun run = RunBinary({"--max-workers", "6"}, root.path());

  EXPECT_EQ(0, run.status) << run.err;
  ExpectOutcomes(expected);
  ExpectWholeNodeRecords();
  ExpectWholeProfile();
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(Done("busy" + std::to_string(i))) << i;
}

TEST_F(FaultSuite, TwoHundredPluginsInParallel) {
  Outcomes expected = {{"end-autoconf", kActivated}};
  // Most have nothing to start a program for, so that the forks of the
  // workers themselves are what the run does.
  for (int i = 0; i < 200; ++i) {
    std::string name = "p" + std::to_string(i);
    AddJson(name, {i % 20 == 0 ? "fault touch --name=" + name : "# " + name});
    expected[name] = kActivated;
  }

  BinaryRun run = RunBinary({}, root.path());

  EXPECT_EQ(0, run.status) << run.err;
  ExpectOutcomes(expected);
  ExpectWholeNodeRecords();
  std::multiset<std::string> recorded = ExpectWholeProfile();
  std::set<int> workers;
  for (const std::string& line : Lines(ReadAll(nodeDir + "/system.log"))) {
    nlohmann::json record = nlohmann::json::parse(line);
    if (record["text"].get<std::string>().starts_with("Applying start on plugin p")) {
      workers.insert(record["pid"].get<int>());
    }
  }
  EXPECT_EQ(200u, workers.size());
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(i % 20 == 0, Done("p" + std::to_string(i))) << i;
    EXPECT_EQ(1u, recorded.count("p" + std::to_string(i))) << i;
  }
}

// What the descriptor listing of one "fault fds" handler saw.
struct Listing {
  std::set<std::string> workerPipes;  // without the handler's own error pipe
  std::set<std::string> mainPipes;
  size_t workerDescriptors = 0;  // without the handler's exit watch
  size_t mainDescriptors = 0;
  std::map<int, std::string> handlerOwn;  // the handler's descriptors
};

Listing ReadListing(const TempRoot& root, const std::string& name) {
  Listing listing;
  std::string errorPipe;
  std::set<std::string> workerPipes;
  for (const std::string& line : Lines(root.ReadFile("/fds/" + name))) {
    std::string kind = line.substr(0, line.find(' '));
    std::string target = line.substr(kind.size() + 1);
    bool pipe = target.starts_with("pipe:");
    if (kind == "stderr") {
      errorPipe = target;
    } else if (kind == "worker" && target != "anon_inode:[pidfd]") {
      ++listing.workerDescriptors;
      if (pipe) workerPipes.insert(target);
    } else if (kind == "main") {
      ++listing.mainDescriptors;
      if (pipe) listing.mainPipes.insert(target);
    }
  }
  workerPipes.erase(errorPipe);
  listing.workerPipes = workerPipes;
  static const std::regex entry(".* (\\d+) -> (.*)");
  for (const std::string& line : Lines(root.ReadFile("/fds/" + name + ".own"))) {
    std::smatch match;
    if (std::regex_match(line, match, entry)) listing.handlerOwn[std::stoi(match[1])] = match[2];
  }
  return listing;
}

// Each worker holds its own two pipe ends and none of another's, even
// though each was forked while the earlier ones existed; the programs that
// handlers start get their standard descriptors only (and ls its own
// directory).
TEST_F(FaultSuite, WorkersAndHandlersHoldOnlyTheirOwnDescriptors) {
  for (int i = 0; i < 6; ++i) AddJson("w" + std::to_string(i), {"fault fds --name=w" + std::to_string(i)});

  BinaryRun run = RunBinary({}, root.path());

  EXPECT_EQ(0, run.status) << run.err;
  std::set<std::string> seen;
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    Listing listing = ReadListing(root, "w" + std::to_string(i));
    EXPECT_EQ(2u, listing.workerPipes.size());
    for (const std::string& pipe : listing.workerPipes) {
      EXPECT_EQ(1u, listing.mainPipes.count(pipe)) << pipe;
      EXPECT_TRUE(seen.insert(pipe).second) << pipe << " is held by two workers";
    }
    ASSERT_EQ(4u, listing.handlerOwn.size());
    EXPECT_EQ("/dev/null", listing.handlerOwn[0]);
    EXPECT_EQ(root.Path("/fds/w" + std::to_string(i) + ".own"), listing.handlerOwn[1]);
    EXPECT_THAT(listing.handlerOwn[2], ::testing::StartsWith("pipe:"));
    EXPECT_THAT(listing.handlerOwn[3], ::testing::MatchesRegex("/proc/[0-9]+/fd"));
  }
}

// Two workers take thousands of activations between three probes: neither
// they nor the main process keep more descriptors afterwards.
TEST_F(FaultSuite, DescriptorsDoNotGrowOverThousandsOfActivations) {
  const int fillers = 1000;
  AddJson("probe0", {"fault fds --name=probe0"}, {"p0"});
  AddJson("probe1", {"fault fds --name=probe1"}, {"p1"}, {"a"});
  AddJson("probe2", {"fault fds --name=probe2"}, {}, {"b"});
  for (int i = 0; i < fillers; ++i) {
    AddJson("a" + std::to_string(i), {"# filler"}, {"a"}, {"p0"});
    AddJson("b" + std::to_string(i), {"# filler"}, {"b"}, {"p1"});
  }

  BinaryRun run = RunBinary({"--max-workers", "2", "--plugin",
                             "probe0.json,probe1.json,probe2.json"},
                            root.path());
  ASSERT_EQ(0, run.status) << run.err;
  Listing alone = ReadListing(root, "probe0");

  fs::remove_all(nodeDir);
  root.MakeDir(kNodeDir);
  BinaryRun full = RunBinary({"--max-workers", "2"}, root.path());

  EXPECT_EQ(0, full.status) << full.err;
  EXPECT_EQ(2u * fillers + 4, OutcomeLines().size());
  Listing first = ReadListing(root, "probe0");
  Listing middle = ReadListing(root, "probe1");
  Listing last = ReadListing(root, "probe2");
  EXPECT_EQ(alone.workerDescriptors, first.workerDescriptors);
  EXPECT_EQ(first.workerDescriptors, middle.workerDescriptors);
  EXPECT_EQ(first.workerDescriptors, last.workerDescriptors);
  EXPECT_EQ(middle.mainDescriptors, last.mainDescriptors);
  EXPECT_EQ(2u, last.workerPipes.size());
}

}  // namespace
}  // namespace dawnstep
