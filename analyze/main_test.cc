// The analyzer as a program: its exit statuses, its messages, and that it
// leaves what a boot wrote untouched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/temp_root.h"

extern char** environ;

namespace dawnstep {
namespace {

using testing::TempRoot;

struct Result {
  int status;
  std::string out;
  std::string err;
};

// Runs the analyzer with DAWNSTEP_ROOT at `root`; its output is kept in
// files outside the root's system paths.
Result RunAnalyzer(const TempRoot& root, std::vector<std::string> args) {
  args.insert(args.begin(), DAWNSTEP_ANALYZE_BINARY);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, root.Path("/analyzer.out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, root.Path("/analyzer.err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start the analyzer");
  int status;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, root.ReadFile("/analyzer.out"),
          root.ReadFile("/analyzer.err")};
}

const char kProfile[] =
    "HVKernel Initialization Time: 3000000\n"
    "[2026-03-05 07:08:09.100000 - 2026-03-05 07:08:09.350000] sysboot: net\n"
    "[2026-03-05 07:08:09.350500 - 2026-03-05 07:08:09.600000] sysboot: storage\n"
    "=== Dawnstep configuration info ===\n"
    " Start: 2026-03-05 07:08:09.000000\n"
    " End: 2026-03-05 07:08:09.700000\n";

TEST(AnalyzerTest, LeavesTheBootRecordsAlone) {
  TempRoot root;
  root.WriteFile("/.runonce", "dawnstep.run-once=x1.0");
  root.WriteFile("/var/log/sysboot.log", kProfile);
  // A file the loader rejects: dawnstep reports it on the kernel log.
  root.WriteFile("/usr/libexec/dawnstep/plugins/readme.txt", "not a plugin");
  root.MakeDir("/run");  // as on a host, where the node directory can be made
  for (const char* command : {"blame", "critical-chain", "plot", "dot", "verify", "tags"}) {
    Result result = RunAnalyzer(root, {command});
    EXPECT_NE(-1, result.status) << command;
    EXPECT_EQ("dawnstep.run-once=x1.0", root.ReadFile("/.runonce")) << command;
    EXPECT_FALSE(std::filesystem::exists(root.Path("/run/hkn"))) << command;
    EXPECT_EQ(kProfile, root.ReadFile("/var/log/sysboot.log")) << command;
  }
}

TEST(AnalyzerTest, ReportsAndStatuses) {
  TempRoot root;
  root.WriteFile("/var/log/sysboot.log", kProfile);
  Result blame = RunAnalyzer(root, {"blame"});
  EXPECT_EQ(0, blame.status);
  EXPECT_EQ("   250.000 ms  net\n   249.500 ms  storage\n", blame.out);
  EXPECT_EQ("", blame.err);

  root.WriteFile("/elsewhere.log",
                 "[2026-03-05 07:08:09.100000 - 2026-03-05 07:08:09.100001] "
                 "sysboot: copied\ngarbage\n");
  Result other = RunAnalyzer(root, {"blame", "--log", root.Path("/elsewhere.log")});
  EXPECT_EQ(0, other.status);
  EXPECT_EQ("     0.001 ms  copied\n", other.out);
  EXPECT_EQ("dawnstep-analyze: " + root.Path("/elsewhere.log") +
                ": ignoring unrecognised line 2: garbage\n",
            other.err);

  Result chain = RunAnalyzer(root, {"critical-chain", "storage"});
  EXPECT_EQ(0, chain.status);
  EXPECT_EQ("storage  start +350.500 ms  took 249.500 ms\n", chain.out);
  Result absent = RunAnalyzer(root, {"critical-chain", "absent"});
  EXPECT_EQ(1, absent.status);
  EXPECT_EQ("dawnstep-analyze: " + root.Path("/var/log/sysboot.log") +
                ": no activation of 'absent' in the profile\n",
            absent.err);

  Result clean = RunAnalyzer(root, {"verify"});
  EXPECT_EQ(0, clean.status);
  EXPECT_EQ("0 files checked: 0 errors, 0 warnings\n", clean.out);
  root.WriteFile("/usr/libexec/dawnstep/plugins2/notes.txt", "");
  Result broken = RunAnalyzer(root, {"verify"});
  EXPECT_EQ(2, broken.status);
  EXPECT_EQ("Skipping " + root.Path("/usr/libexec/dawnstep/plugins2/notes.txt") +
                ": unknown type\n1 file checked: 1 error, 0 warnings\n",
            broken.out);
  Result named = RunAnalyzer(root, {"verify", "--", "-odd.json", "-odd.json"});
  EXPECT_EQ(2, named.status);
  EXPECT_EQ(
      "Skipping -odd.json: No such file or directory\n"
      "1 file checked: 1 error, 0 warnings\n",
      named.out);

  std::filesystem::remove(root.Path("/var/log/sysboot.log"));
  Result missing = RunAnalyzer(root, {"plot"});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("", missing.out);
  EXPECT_EQ("dawnstep-analyze: cannot open " + root.Path("/var/log/sysboot.log") +
                ": No such file or directory\n",
            missing.err);
}

TEST(AnalyzerTest, VerifyChecksCommandLinesAgainstTheInstalledDescriptors) {
  TempRoot root;
  root.MakeDir("/run");
  // Descriptors in two of the four command directories; a subdirectory
  // that is not one of them is not read.
  root.WriteFile("/usr/lib/corvane/orvocli/hostname.json",
                 R"({"namespace": "system hostname", "commands": [
                     {"name": "set", "handler": "/opt/ran"}]})");
  root.WriteFile("/usr/lib/corvane/orvocli/int/ext/route.json",
                 R"({"namespace": "network route", "commands": [
                     {"name": "add", "handler": "/opt/ran"}]})");
  root.WriteFile("/usr/lib/corvane/orvocli/bin/ntp.json",
                 R"({"namespace": "system ntp", "commands": [
                     {"name": "set", "handler": "/opt/ran"}]})");
  root.WriteScript("/opt/ran", "#!/bin/sh\ntouch \"$DAWNSTEP_ROOT/handler-ran\"\n");
  root.WriteFile("/usr/libexec/dawnstep/plugins/net.json",
                 R"({"metadata": {"provides": ["network"], "requires": [], "version": 3,
                                  "run_once": true},
                     "operations": {"start": ["system hostname set --fqdn h", "# later",
                                              "network route add \"--to"],
                                    "apply_host_profile": ["system ntp set --server x"]}})");
  Result result = RunAnalyzer(root, {"verify"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(
      "warning: plugin 'net' start command 'network route add \"--to' does not parse: "
      "Unterminated quote\n"
      "warning: plugin 'net' apply_host_profile command 'system ntp set --server x' calls "
      "'system ntp set', which no command descriptor defines\n"
      "1 file checked: 0 errors, 2 warnings\n",
      result.out);
  EXPECT_EQ("", result.err);
  EXPECT_FALSE(std::filesystem::exists(root.Path("/handler-ran")));
  EXPECT_FALSE(std::filesystem::exists(root.Path("/.runonce")));
  EXPECT_FALSE(std::filesystem::exists(root.Path("/run/hkn")));

  // A broken descriptor is passed over as the dispatcher passes it over.
  root.WriteFile("/usr/lib/corvane/orvocli/ext/broken.json", "{");
  Result broken = RunAnalyzer(root, {"verify"});
  EXPECT_EQ(1, broken.status);
  EXPECT_EQ(result.out, broken.out);
  EXPECT_NE(std::string::npos,
            broken.err.find("Skipping command descriptor " +
                            root.Path("/usr/lib/corvane/orvocli/ext/broken.json") +
                            ": is not valid JSON"))
      << broken.err;
}

TEST(AnalyzerTest, CommandLineErrorsAreUsageErrors) {
  TempRoot root;
  Result none = RunAnalyzer(root, {});
  EXPECT_EQ(2, none.status);
  EXPECT_NE(std::string::npos, none.err.find("Usage: dawnstep-analyze COMMAND"));
  EXPECT_EQ("", none.out);

  Result help = RunAnalyzer(root, {"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(none.err, help.out);

  Result unknown = RunAnalyzer(root, {"frobnicate"});
  EXPECT_EQ(2, unknown.status);
  EXPECT_EQ(
      "dawnstep-analyze: unknown command 'frobnicate'\n"
      "Run 'dawnstep-analyze --help' for the list of commands.\n",
      unknown.err);

  for (std::vector<std::string> bad :
       std::vector<std::vector<std::string>>{{"blame", "extra"},
                                             {"dot", "--log", "x"},
                                             {"plot", "--log"},
                                             {"blame", "-x"},
                                             {"critical-chain", "a", "b"}}) {
    Result result = RunAnalyzer(root, bad);
    EXPECT_EQ(2, result.status) << bad[1];
    EXPECT_NE(std::string::npos,
              result.err.find("Run 'dawnstep-analyze " + bad[0] + " --help' for its usage."))
        << result.err;
  }
  Result commandHelp = RunAnalyzer(root, {"critical-chain", "--help"});
  EXPECT_EQ(0, commandHelp.status);
  EXPECT_EQ(0u,
            commandHelp.out.find("Usage: dawnstep-analyze critical-chain [--log FILE] [PLUGIN]\n"));
}

}  // namespace
}  // namespace dawnstep
