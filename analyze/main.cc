// dawnstep-analyze: reads what a boot left behind (the timing profile and
// the node records) and the installed plugins, and reports on them. It
// never activates a plugin and writes nothing but its own output (and the
// one file that -o names).
#include <limits.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>

#include "analyze/arguments.h"
#include "analyze/atomic_file.h"
#include "analyze/blame.h"
#include "analyze/boot.h"
#include "analyze/compare.h"
#include "analyze/critical_chain.h"
#include "analyze/dot.h"
#include "analyze/json_output.h"
#include "analyze/metrics.h"
#include "analyze/plot.h"
#include "analyze/simulate.h"
#include "analyze/simulation_report.h"
#include "analyze/snapshot.h"
#include "analyze/stdout_diversion.h"
#include "analyze/time_report.h"
#include "analyze/trace.h"
#include "analyze/usage.h"
#include "analyze/verify.h"
#include "analyze/why.h"
#include "build_info.h"
#include "cli/orvocli.h"
#include "log/hkn_buffer.h"
#include "platform/root.h"
#include "plugin/plugin.h"
#include "plugin/writable_code.h"

using namespace dawnstep;
using namespace dawnstep::analyze;

namespace {

const char kProgram[] = "dawnstep-analyze";
const int kUsageError = 2;

struct Command {
  const char* help;
  std::vector<std::string> options;
  size_t minOperands;
  size_t maxOperands;  // SIZE_MAX: any number
  std::function<int(const Arguments&)> run;
};

void Note(const std::string& message) { std::cerr << kProgram << ": " << message << '\n'; }

std::string LogPath(const Arguments& args) {
  return args.Last("log", RootPath("/var/log/sysboot.log"));
}

// The timing profile; nothing (and a note on what is lost) when it cannot
// be read.
std::optional<BootProfile> ReadProfile(const std::string& path, const char* lost) {
  std::ifstream in(path);
  if (!in) {
    Note("cannot open " + path + ": " + strerror(errno) + "; " + lost);
    return std::nullopt;
  }
  BootProfile profile = ReadBootProfile(in);
  if (in.bad()) {
    Note("cannot read " + path + ": " + strerror(errno) + "; " + lost);
    return std::nullopt;
  }
  for (const std::string& line : profile.malformed) {
    Note(path + ": ignoring unrecognised " + line);
  }
  if (profile.activations.empty()) Note(path + ": no activation records");
  return profile;
}

// The installed plugins, loaded as dawnstep loads them; files that fail
// are reported by the loader on standard error.
PluginGraph InstalledPlugins() {
  StdoutDiversion diversion;
  Plugin::LoadPlugins({}, 0);
  return PluginGraph(RegisteredPlugins());
}

// The node records of the last boot; a missing alert file only means that
// nothing was alerted.
std::optional<BootRecords> ReadRecords() {
  std::string error, ignored;
  std::vector<NodeRecord> log = ReadNodeFile(RootPath("/run/hkn/system.log"), error);
  if (!error.empty()) {
    Note("cannot open " + error + "; plugin outcomes not shown");
    return std::nullopt;
  }
  return ReadBootRecords(log, ReadNodeFile(RootPath("/run/hkn/system.sysAlert"), ignored),
                         ReadNodeFile(RootPath("/run/hkn/system.progressTerm.progressText"), ignored));
}

Boot LoadBoot(const Arguments& args, const char* lostWithoutProfile) {
  std::optional<BootProfile> profile = ReadProfile(LogPath(args), lostWithoutProfile);
  std::optional<BootRecords> records = ReadRecords();
  PluginGraph graph = InstalledPlugins();
  return MakeBoot(profile.value_or(BootProfile()), profile.has_value(),
                  records.value_or(BootRecords()), records.has_value(), std::move(graph));
}

// A command that shows times only has nothing to show without a profile.
Boot LoadTimedBoot(const Arguments& args) {
  std::string path = LogPath(args);
  if (access(path.c_str(), R_OK) != 0) {
    throw std::runtime_error("cannot open " + path + ": " + strerror(errno));
  }
  Boot boot = LoadBoot(args, "nothing to show");
  if (!boot.haveProfile) throw std::runtime_error("no timing profile to report on");
  return boot;
}

std::function<std::string(const std::string&)> OutcomeOf(const Boot& boot) {
  return [&boot](const std::string& name) {
    const PluginRun* run = boot.Find(name);
    return run != nullptr ? OutcomeText(run->outcome) : std::string("unknown");
  };
}

int Blame(const Arguments& args) {
  Boot boot = LoadBoot(args, "durations not shown");
  if (args.Has("json")) {
    WriteJson(BlameJson(boot), std::cout);
  } else {
    WriteBlame(boot, std::cout);
  }
  return 0;
}

int CriticalChainCommand(const Arguments& args) {
  Boot boot = LoadTimedBoot(args);
  std::string from = args.operands.empty() ? "" : args.operands.front();
  std::vector<ChainLink> chain;
  try {
    chain = CriticalChain(boot.profile, boot.graph, from);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(LogPath(args) + ": " + e.what());
  }
  if (args.Has("json")) {
    WriteJson(CriticalChainJson(chain, boot.profile.Origin()), std::cout);
  } else {
    WriteCriticalChain(chain, boot.profile.Origin(), OutcomeOf(boot), std::cout);
  }
  return 0;
}

int Plot(const Arguments& args) {
  Boot boot = LoadTimedBoot(args);
  WritePlot(boot, CriticalChain(boot.profile, boot.graph, ""), std::cout);
  return 0;
}

int Time(const Arguments& args) {
  Boot boot = LoadBoot(args, "times not shown");
  TimeReport report = MakeTimeReport(boot);
  if (args.Has("json")) {
    WriteJson(TimeJson(report), std::cout);
  } else {
    WriteTime(report, std::cout);
  }
  return 0;
}

// The error lines of the boot's process logs that name the plugin.
std::vector<std::string> LoggedFailures(const Boot& boot, const std::string& plugin) {
  std::vector<std::string> lines;
  for (const char* file : {"/var/log/dawnstep-orvocli-stdout.log",
                           "/var/log/dawnstep-native-stdout.log", "/var/log/dawnstep-stdout.log"}) {
    std::ifstream in(RootPath(file));
    if (!in) continue;
    std::stringstream text;
    text << in.rdbuf();
    for (std::string& line : FailureLines(text.str(), plugin, boot.records.began)) {
      lines.push_back(std::string(file) + ": " + line);
    }
  }
  return lines;
}

int Why(const Arguments& args) {
  Boot boot = LoadBoot(args, "durations not shown");
  const std::string& name = args.operands.front();
  const PluginRun* run = boot.Find(name);
  if (run == nullptr) {
    Note("no plugin named '" + name + "' was installed or ran in the last boot");
    return kUsageError;
  }
  std::vector<std::string> failures;
  if (run->outcome == Outcome::kFailed || run->outcome == Outcome::kOpportunisticFailed) {
    failures = LoggedFailures(boot, name);
  }
  std::vector<std::string> reasons = WhyReasons(boot, *run, failures);
  if (args.Has("json")) {
    WriteJson({{"plugin", name}, {"outcome", OutcomeText(run->outcome)}, {"reasons", reasons}},
              std::cout);
  } else {
    std::string indent;
    for (const std::string& reason : reasons) {
      std::cout << indent << reason << '\n';
      indent = "  ";
    }
  }
  return 0;
}

Replay ReplayOf(const Boot& boot, const Arguments& args) {
  Replay replay;
  for (const PluginRun& run : boot.plugins) {
    if (run.record != nullptr) replay.durations[run.name] = run.record->Duration();
    if (run.outcome == Outcome::kFailed || run.outcome == Outcome::kOpportunisticFailed ||
        run.outcome == Outcome::kOpportunisticSkipped) {
      replay.failing.insert(run.name);
    }
    if (run.outcome == Outcome::kSkipped) replay.disabled.insert(run.name);
  }
  auto given = args.options.find("duration");
  for (const std::string& pair : given != args.options.end() ? given->second
                                                             : std::vector<std::string>()) {
    size_t equals = pair.rfind('=');
    if (equals == std::string::npos) {
      throw UsageError("option --duration needs PLUGIN=MILLISECONDS, not '" + pair + "'");
    }
    std::string name = pair.substr(0, equals);
    if (boot.graph.Named(name).empty()) {
      throw UsageError("option --duration: no installed plugin named '" + name + "'");
    }
    replay.durations[name] =
        ParseCount("duration", pair.substr(equals + 1), 0, INT64_MAX / 1000) * 1000;
  }
  if (args.Has("max-workers")) {
    replay.maxWorkers = ParseCount("max-workers", args.Last("max-workers"), 1, UINT32_MAX);
  } else {
    replay.maxWorkers = RecordedWorkerLimit(boot);
  }
  return replay;
}

// The processors the recorded boot shared with its plugins, taken to be the
// ones this process may run on: the analyzer reads the machine's own boot.
uint32_t Processors() {
  cpu_set_t usable;
  if (sched_getaffinity(0, sizeof usable, &usable) != 0) return 1;
  return static_cast<uint32_t>(std::max(1, CPU_COUNT(&usable)));
}

int SimulateCommand(const Arguments& args) {
  Boot boot = LoadBoot(args, "durations taken as 0");
  Replay replay = ReplayOf(boot, args);
  replay.processors = Processors();
  Overheads overheads = RecordedOverheads(boot, replay.processors);
  replay.handOver = overheads.handOver;
  Simulation simulation = Simulate(replay);
  SimulationReport report = MakeSimulationReport(boot, replay, overheads, std::move(simulation));
  if (args.Has("json")) {
    WriteJson(SimulationJson(report), std::cout);
  } else {
    WriteSimulation(report, std::cout);
  }
  return 0;
}

// Standard output, or with -o the file named, replaced whole: a reader of
// that file sees the old one or the new one, never a part.
void Emit(const Arguments& args, const std::function<void(std::ostream&)>& write) {
  if (!args.Has("output")) {
    write(std::cout);
    return;
  }
  std::ostringstream content;
  write(content);
  WriteFileAtomically(args.Last("output"), content.str());
}

int Trace(const Arguments& args) {
  Boot boot = LoadTimedBoot(args);
  Emit(args, [&](std::ostream& out) { WriteTrace(boot, out); });
  return 0;
}

int Metrics(const Arguments& args) {
  Boot boot = LoadBoot(args, "timing metrics left out");
  Emit(args, [&](std::ostream& out) { WriteMetrics(boot, out); });
  return 0;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

nlohmann::json LastBootSnapshot(const Arguments& args) {
  return SnapshotJson(LoadBoot(args, "durations left out"), HostName(), DAWNSTEP_VERSION);
}

int SnapshotCommand(const Arguments& args) {
  nlohmann::json snapshot = LastBootSnapshot(args);
  Emit(args, [&](std::ostream& out) { WriteJson(snapshot, out); });
  return 0;
}

SnapshotSummary ReadSnapshotFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw SnapshotError("cannot open " + path + ": " + strerror(errno));
  try {
    return ReadSnapshot(nlohmann::json::parse(in));
  } catch (const nlohmann::json::parse_error& e) {
    throw SnapshotError(path + ": not JSON: syntax error at byte " + std::to_string(e.byte));
  } catch (const SnapshotError& e) {
    throw SnapshotError(path + ": " + e.what());
  }
}

std::optional<Gate> GateOf(const Arguments& args) {
  if (!args.Has("fail-above")) {
    if (args.Has("min-ms")) throw UsageError("option --min-ms needs --fail-above");
    return std::nullopt;
  }
  std::string text = args.Last("fail-above");
  char* end = nullptr;
  double percent = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(percent) || percent < 0) {
    throw UsageError("option --fail-above needs a percentage of 0 or more, not '" + text + "'");
  }
  return Gate{percent, ParseCount("min-ms", args.Last("min-ms", "10"), 0, INT64_MAX / 1000) * 1000};
}

int CompareCommand(const Arguments& args) {
  std::optional<Gate> gate = GateOf(args);
  SnapshotSummary before, after;
  try {
    before = ReadSnapshotFile(args.operands[0]);
    after = args.operands.size() > 1 ? ReadSnapshotFile(args.operands[1])
                                     : ReadSnapshot(LastBootSnapshot(args));
  } catch (const SnapshotError& e) {
    Note(e.what());
    return kUsageError;
  }
  Comparison comparison = Compare(before, after, gate);
  if (args.Has("json")) {
    WriteJson(ComparisonJson(comparison), std::cout);
  } else {
    WriteComparison(comparison, std::cout);
  }
  return comparison.Failed() ? 1 : 0;
}

int Dot(const Arguments& args) {
  DotOptions options;
  options.kindTags = !args.Has("no-kind-tags");
  options.around = args.Last("around");
  if (args.Has("depth")) {
    if (!args.Has("around")) throw UsageError("option --depth needs --around");
    options.depth = ParseCount("depth", args.Last("depth"), 0, 1000000);
  }
  PluginGraph graph = InstalledPlugins();
  if (!options.around.empty() && graph.Named(options.around).empty()) {
    throw UsageError("option --around: no installed plugin named '" + options.around + "'");
  }
  WriteDot(graph, options, std::cout);
  return 0;
}

int Tags(const Arguments& args) {
  PluginGraph graph = InstalledPlugins();
  if (args.Has("json")) {
    WriteJson(TagsJson(graph), std::cout);
    return 0;
  }
  for (const std::string& tag : graph.UsedTags()) std::cout << tag << '\n';
  return 0;
}

// Without files, the installed set as dawnstep loads it (the built-in
// plugin too); with files, those files alone, as `dawnstep --plugin` would.
int Verify(const Arguments& args) {
  std::vector<std::string> files = args.operands;
  Findings findings;
  {
    StdoutDiversion diversion;
    if (files.empty()) {
      Plugin::LoadBuiltins();
      files = Plugin::InstalledPluginFiles();
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    LoadPluginFiles(files, findings);
  }
  PluginGraph graph(RegisteredPlugins());
  AddPluginFindings(graph, findings);
  std::vector<PluginCommands> commandLines = RegisteredCommands();
  if (!commandLines.empty()) {
    // The dispatcher every JSON plugin shares, with the descriptors it read.
    AddCommandFindings(commandLines, *Orvocli::SharedDispatcher(), findings);
  }
  std::vector<std::string> dirs;
  if (args.operands.empty()) dirs = Plugin::PluginDirectories();
  for (const WritableCode& found : FindWritableCode(dirs, files, Orvocli::SharedDispatcher())) {
    findings.errors.push_back({found.path, found.Message()});
  }
  if (args.Has("json")) {
    WriteJson(FindingsJson(findings), std::cout);
  } else {
    WriteFindings(findings, files.size(), std::cout);
  }
  return !findings.errors.empty() ? 2 : findings.warnings.empty() ? 0 : 1;
}

const std::map<std::string, Command>& Commands() {
  static const std::map<std::string, Command> commands = {
      {"blame", {kBlameHelp, {"log", "json"}, 0, 0, Blame}},
      {"critical-chain", {kCriticalChainHelp, {"log", "json"}, 0, 1, CriticalChainCommand}},
      {"plot", {kPlotHelp, {"log"}, 0, 0, Plot}},
      {"time", {kTimeHelp, {"log", "json"}, 0, 0, Time}},
      {"why", {kWhyHelp, {"log", "json"}, 1, 1, Why}},
      {"simulate",
       {kSimulateHelp, {"log", "json", "max-workers", "duration"}, 0, 0, SimulateCommand}},
      {"trace", {kTraceHelp, {"log", "output"}, 0, 0, Trace}},
      {"metrics", {kMetricsHelp, {"log", "output"}, 0, 0, Metrics}},
      {"snapshot", {kSnapshotHelp, {"log", "output"}, 0, 0, SnapshotCommand}},
      {"compare",
       {kCompareHelp, {"log", "json", "fail-above", "min-ms"}, 1, 2, CompareCommand}},
      {"dot", {kDotHelp, {"no-kind-tags", "around", "depth"}, 0, 0, Dot}},
      {"verify", {kVerifyHelp, {"json"}, 0, SIZE_MAX, Verify}},
      {"tags", {kTagsHelp, {"json"}, 0, 0, Tags}},
  };
  return commands;
}

int UsageFailure(const std::string& command, const std::string& message) {
  std::cerr << kProgram << " " << command << ": " << message << "\n"
            << "Run 'dawnstep-analyze " << command << " --help' for its usage.\n";
  return kUsageError;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::cerr << kUsage;
    return kUsageError;
  }
  if (args[0] == "-h" || args[0] == "--help") {
    std::cout << kUsage;
    return 0;
  }
  auto command = Commands().find(args[0]);
  if (command == Commands().end()) {
    std::cerr << kProgram << ": unknown command '" << args[0] << "'\n"
              << "Run 'dawnstep-analyze --help' for the list of commands.\n";
    return kUsageError;
  }
  const Command& chosen = command->second;
  try {
    Arguments parsed = ParseArguments(chosen.options, {args.begin() + 1, args.end()});
    if (parsed.Has("help")) {
      std::cout << chosen.help;
      return 0;
    }
    if (parsed.operands.size() > chosen.maxOperands) {
      throw UsageError("unexpected argument " + parsed.operands[chosen.maxOperands]);
    }
    if (parsed.operands.size() < chosen.minOperands) throw UsageError("missing argument");
    return chosen.run(parsed);
  } catch (const UsageError& e) {
    return UsageFailure(args[0], e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Loading reports failed plugin files on the kernel log too; an analysis
  // is no boot and must leave the boot's records alone.
  DeactivateKernelLog();
  int status;
  try {
    status = Run({argv + 1, argv + argc});
  } catch (const std::exception& e) {
    std::cerr << kProgram << ": " << e.what() << '\n';
    status = 1;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << kProgram << ": cannot write standard output\n";
    return 1;
  }
  return status;
}
