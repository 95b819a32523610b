#include "platform/tolvar/dispatcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <fstream>

#include "tests/log_capture.h"
#include "tests/temp_root.h"

namespace Tolvar::AutoCli {
namespace {

using dawnstep::testing::LogCapture;
using dawnstep::testing::TempRoot;
using Words = std::vector<std::string>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

const char kHostnameDescriptor[] = R"({
  "namespace": "system  hostname",
  "commands": [{
    "name": "set",
    "handler": "bin/hostname-set",
    "parameters": [
      {"name": "fqdn", "type": "string", "required": true},
      {"name": "dhcp", "short": "d", "type": "boolean"},
      {"name": "mtu", "type": "integer"}
    ]
  }]
})";

// One command "demo NAME" whose handler is the given script.
std::string DemoDescriptor(const std::string& name, const std::string& handler) {
  return R"({"namespace": "demo", "commands": [{"name": ")" + name + R"(", "handler": ")" +
         handler + R"("}]})";
}

class DispatcherTest : public ::testing::Test {
 protected:
  std::string Dir(const std::string& fixed) const { return root.Path(fixed); }

  Words Run(const Words& path, const Parameters& parameters = {}) {
    auto input = CommandInput::New();
    auto output = CommandOutput::New();
    input->SetDispatcher("tester");
    input->SetCommandPath(path);
    for (const auto& [name, value] : parameters) input->AddParameter(name, value);
    dispatcher.ExecuteCommand(input, output);
    return output->GetErrors();
  }

  // A demo command whose handler runs `body`.
  void AddDemo(const std::string& name, const std::string& body) {
    root.WriteScript("/cmds/bin/" + name, "#!/bin/sh\n" + body + "\n");
    root.WriteFile("/cmds/" + name + ".json", DemoDescriptor(name, "bin/" + name));
  }

  TempRoot root;
  Dispatcher dispatcher;
};

TEST_F(DispatcherTest, UnknownCommand) {
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  EXPECT_EQ(Words{"Unknown command 'system hostname get'"}, Run({"system", "hostname", "get"}));
}

TEST_F(DispatcherTest, ParameterErrorsAreAllCollectedAndStopTheHandler) {
  root.WriteFile("/cmds/hostname.json", kHostnameDescriptor);
  root.WriteScript("/cmds/bin/hostname-set", "#!/bin/sh\ntouch \"$DAWNSTEP_ROOT/ran\"\n");
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  EXPECT_EQ((Words{
                "Unknown parameter 'bogus' for command 'system hostname set'",
                "Invalid value 'maybe' for parameter 'dhcp': expected boolean",
                "Invalid value '15x' for parameter 'mtu': expected integer",
                "Unknown parameter 'z' for command 'system hostname set'",
                "Missing required parameter 'fqdn' for command 'system hostname set'",
            }),
            Run({"system", "hostname", "set"},
                {{"bogus", "1"}, {"d", "maybe"}, {"mtu", "15x"}, {"z", "true"}}));
  EXPECT_FALSE(std::ifstream(root.Path("/ran")).good());
}

TEST_F(DispatcherTest, ValueTypes) {
  root.WriteFile("/cmds/hostname.json", kHostnameDescriptor);
  root.WriteScript("/cmds/bin/hostname-set", "#!/bin/sh\nexit 0\n");
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  const Words path{"system", "hostname", "set"};
  for (const char* good : {"true", "FALSE", "Yes", "no", "1", "0"}) {
    EXPECT_TRUE(Run(path, {{"fqdn", "h"}, {"dhcp", good}}).empty()) << good;
  }
  for (const char* good : {"-5", "+7", "0", "9223372036854775807", "-9223372036854775808"}) {
    EXPECT_TRUE(Run(path, {{"fqdn", "h"}, {"mtu", good}}).empty()) << good;
  }
  for (const char* bad : {"", "1.5", " 1", "9223372036854775808", "0x10", "+", "--1"}) {
    EXPECT_EQ(Words{"Invalid value '" + std::string(bad) +
                    "' for parameter 'mtu': expected integer"},
              Run(path, {{"fqdn", "h"}, {"mtu", bad}}));
  }
  EXPECT_EQ(Words{"Invalid value 'on' for parameter 'dhcp': expected boolean"},
            Run(path, {{"fqdn", "h"}, {"dhcp", "on"}}));
}

TEST_F(DispatcherTest, HandlerGetsArgumentsInLineOrderAndItsEnvironment) {
  root.WriteFile("/cmds/hostname.json", kHostnameDescriptor);
  root.WriteScript("/cmds/bin/hostname-set",
                   "#!/bin/sh\n"
                   "out=\"$DAWNSTEP_ROOT/seen\"\n"
                   "for a in \"$@\"; do echo \"$a\" >>\"$out\"; done\n"
                   "echo \"$ORVOCLI_COMMAND|$ORVOCLI_DISPATCHER|$INHERITED\" >>\"$out\"\n"
                   "env | grep -c '^ORVOCLI_COMMAND=' >>\"$out\"\n"
                   "cat >>\"$out\"\n"
                   "echo to-stdout\n");
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  setenv("INHERITED", "kept", 1);
  setenv("ORVOCLI_COMMAND", "stale", 1);
  CaptureStdout();
  Words errors = Run({"system", "hostname", "set"},
                     {{"d", "yes"}, {"fqdn", "h.example"}, {"mtu", "1500"}, {"dhcp", "no"}});
  std::string out = GetCapturedStdout();
  unsetenv("INHERITED");
  unsetenv("ORVOCLI_COMMAND");
  EXPECT_TRUE(errors.empty());
  // Standard input is empty (/dev/null), so `cat` adds nothing.
  EXPECT_EQ(
      "--dhcp=yes\n--fqdn=h.example\n--mtu=1500\n--dhcp=no\n"
      "system hostname set|tester|kept\n1\n",
      root.ReadFile("/seen"));
  EXPECT_EQ("to-stdout\n", out);
}

TEST_F(DispatcherTest, FailedHandlerReportsItsErrorLinesAndStatus) {
  AddDemo("fail", "printf 'first\\n\\n  second\\nno newline' >&2; exit 3");
  AddDemo("quiet", "exit 1");
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  EXPECT_EQ((Words{"first", "  second", "no newline", "exit status 3"}), Run({"demo", "fail"}));
  EXPECT_EQ(Words{"exit status 1"}, Run({"demo", "quiet"}));
}

TEST_F(DispatcherTest, HandlerStartsWithDefaultSignalsAndCanBeKilled) {
  AddDemo("die", "kill -TERM $$; sleep 5; exit 0");
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  // An ignored signal would stay ignored through a plain fork and exec.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &ignore, &previous);
  Words errors = Run({"demo", "die"});
  sigaction(SIGTERM, &previous, nullptr);
  EXPECT_EQ(Words{"killed by signal 15"}, errors);
}

TEST_F(DispatcherTest, HandlerThatCannotStart) {
  root.WriteFile("/cmds/missing.json", DemoDescriptor("missing", "bin/nowhere"));
  root.WriteFile("/cmds/bin/plain", "not executable");
  root.WriteFile("/cmds/plain.json", DemoDescriptor("plain", "bin/plain"));
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  EXPECT_EQ(
      Words{"cannot run " + root.Path("/cmds/bin/nowhere") + ": No such file or directory"},
      Run({"demo", "missing"}));
  EXPECT_EQ(Words{"cannot run " + root.Path("/cmds/bin/plain") + ": Permission denied"},
            Run({"demo", "plain"}));
}

TEST_F(DispatcherTest, MuchStandardErrorDoesNotBlock) {
  AddDemo("noisy-fail", "yes 0123456789abcdef | head -c 1048576 >&2; exit 1");
  AddDemo("noisy-ok", "yes 0123456789abcdef | head -c 1048576 >&2");
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  Words errors = Run({"demo", "noisy-fail"});
  ASSERT_EQ(1048576u / 17 + 2, errors.size());
  EXPECT_EQ("0123456789abcdef", errors.front());
  EXPECT_EQ("exit status 1", errors.back());

  // A handler that succeeds passes its standard error on unchanged.
  CaptureStderr();
  errors = Run({"demo", "noisy-ok"});
  std::string passed = GetCapturedStderr();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(1048576u, passed.size());
}

TEST_F(DispatcherTest, BackgroundProcessHoldingStandardErrorDoesNotHoldUsUp) {
  AddDemo("daemon", "sleep 600 & echo $! >\"$DAWNSTEP_ROOT/daemon.pid\"; echo started >&2");
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  CaptureStderr();
  Words errors = Run({"demo", "daemon"});
  std::string passed = GetCapturedStderr();
  pid_t daemon = std::stoi(root.ReadFile("/daemon.pid"));
  kill(daemon, SIGKILL);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ("started\n", passed);
}

TEST_F(DispatcherTest, DescriptorsAreReadFromTheDirectoryItselfOnly) {
  AddDemo("good", "echo good >\"$DAWNSTEP_ROOT/ran\"");
  root.WriteFile("/cmds/broken.json", "{\"namespace\": ");
  root.WriteFile("/cmds/nohandler.json", R"({"namespace": "x", "commands": [{"name": "y"}]})");
  root.WriteFile("/cmds/notes.txt", DemoDescriptor("txt", "bin/good"));
  root.WriteFile("/cmds/sub/deeper.json", DemoDescriptor("deeper", "../bin/good"));
  LogCapture log;
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  dispatcher.AddExternalDirectory(Dir("/absent"));
  EXPECT_EQ((Words{"Skipping command descriptor " + Dir("/cmds/broken.json") +
                       ": is not valid JSON",
                   "Skipping command descriptor " + Dir("/cmds/nohandler.json") +
                       ": command 1: 'handler' is not a non-empty string"}),
            log.Texts(dawnstep::kLogWarning));
  EXPECT_TRUE(Run({"demo", "good"}).empty());
  EXPECT_EQ("good\n", root.ReadFile("/ran"));
  EXPECT_EQ(Words{"Unknown command 'demo txt'"}, Run({"demo", "txt"}));
  EXPECT_EQ(Words{"Unknown command 'demo deeper'"}, Run({"demo", "deeper"}));
  EXPECT_EQ((Words{Dir("/cmds"), Dir("/absent")}), dispatcher.Directories());
}

TEST_F(DispatcherTest, FirstDefinitionWinsAndAbsoluteHandlersLiveUnderTheRoot) {
  root.WriteScript("/opt/h1", "#!/bin/sh\necho 1 >\"$DAWNSTEP_ROOT/ran\"\n");
  root.WriteScript("/opt/h2", "#!/bin/sh\necho 2 >\"$DAWNSTEP_ROOT/ran\"\n");
  root.WriteFile("/first/b.json", DemoDescriptor("run", "/opt/h2"));
  root.WriteFile("/first/a.json", DemoDescriptor("run", "/opt/h1"));
  root.WriteFile("/second/0.json", DemoDescriptor("run", "/opt/h2"));
  dispatcher.AddExternalDirectory(Dir("/second"));
  dispatcher.AddExternalDirectory(Dir("/first"));
  EXPECT_TRUE(Run({"demo", "run"}).empty());
  EXPECT_EQ("2\n", root.ReadFile("/ran"));

  Dispatcher other;
  other.AddExternalDirectory(Dir("/first"));
  auto input = CommandInput::New();
  auto output = CommandOutput::New();
  input->SetCommandPath({"demo", "run"});
  other.ExecuteCommand(input, output);
  EXPECT_FALSE(output->HasError());
  EXPECT_EQ("1\n", root.ReadFile("/ran"));
}

TEST_F(DispatcherTest, DefinesAnswersAsExecuteFindsAndRunsNothing) {
  root.WriteFile("/cmds/hostname.json", kHostnameDescriptor);
  root.WriteScript("/cmds/bin/hostname-set", "#!/bin/sh\ntouch \"$DAWNSTEP_ROOT/ran\"\n");
  root.WriteFile("/cmds/sub/deeper.json", DemoDescriptor("deeper", "../bin/hostname-set"));
  dispatcher.AddExternalDirectory(Dir("/cmds"));
  // Path words are joined as the dispatcher joins them, a blank inside a
  // word included.
  EXPECT_TRUE(dispatcher.Defines({"system", "hostname", "set"}));
  EXPECT_TRUE(dispatcher.Defines({"system hostname", "set"}));
  for (const Words& path : {Words{"system", "hostname"}, Words{"system", "hostname", "get"},
                            Words{"system", "", "hostname", "set"}, Words{"demo", "deeper"},
                            Words{}}) {
    EXPECT_FALSE(dispatcher.Defines(path)) << ::testing::PrintToString(path);
    EXPECT_EQ(1u, Run(path).size()) << ::testing::PrintToString(path);
  }
  EXPECT_FALSE(std::ifstream(root.Path("/ran")).is_open());
}

TEST(CommandDescriptorTest, MalformedDescriptorsSayWhatIsWrong) {
  TempRoot root;
  const std::pair<const char*, const char*> cases[] = {
      {"[]", "is not a JSON object"},
      {R"({"commands": []})", "'namespace' is not a string"},
      {R"({"namespace": "a", "commands": {}})", "'commands' is not an array"},
      {R"({"namespace": "a", "commands": [1]})", "command 1: is not an object"},
      {R"({"namespace": "a", "commands": [{"name": "", "handler": "h"}]})",
       "command 1: 'name' is not a non-empty string"},
      {R"({"namespace": "a", "commands": [{"name": "b", "handler": "h", "parameters": 1}]})",
       "command 1: 'parameters' is not an array"},
      {R"({"namespace": "a", "commands": [{"name": "b", "handler": "h",
           "parameters": [{"name": "x", "short": "xy"}]}]})",
       "command 1: parameter 1: 'short' is not a one-character string"},
      {R"({"namespace": "a", "commands": [{"name": "b", "handler": "h",
           "parameters": [{"name": "x"}, {"name": "y", "type": "float"}]}]})",
       "command 1: parameter 2: unknown 'type' \"float\""},
      {R"({"namespace": "a", "commands": [{"name": "b", "handler": "h",
           "parameters": [{"name": "x", "required": "yes"}]}]})",
       "command 1: parameter 1: 'required' is not a boolean"},
  };
  for (const auto& [text, message] : cases) {
    root.WriteFile("/d/c.json", text);
    try {
      ReadDescriptor(root.Path("/d"), root.Path("/d/c.json"));
      ADD_FAILURE() << "accepted " << text;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(message, e.what());
    }
  }
  EXPECT_THROW(ReadDescriptor(root.Path("/d"), root.Path("/d/none.json")), std::runtime_error);
}

}  // namespace
}  // namespace Tolvar::AutoCli
