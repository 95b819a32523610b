#pragma once

// The analyzer's usage texts: the overview and one per command.
namespace dawnstep::analyze {

inline constexpr char kUsage[] =
    "Usage: dawnstep-analyze COMMAND [OPTION...] [ARGUMENT...]\n"
    "\n"
    "Reports on the last boot's activations and on the installed plugins.\n"
    "Reads files only: activates nothing and writes nothing but its output\n"
    "(and the one file that -o names).\n"
    "\n"
    "Commands:\n"
    "  blame                    activations of the last boot with their outcomes,\n"
    "                           longest first\n"
    "  critical-chain [PLUGIN]  the chain of plugins that decided when activation\n"
    "                           ended (or when PLUGIN started)\n"
    "  time                     kernel, activation and critical chain times, and\n"
    "                           the number of plugins by outcome\n"
    "  why PLUGIN               why PLUGIN had its outcome\n"
    "  simulate                 predict the boot with another worker limit or\n"
    "                           other plugin durations\n"
    "  plot                     an SVG timeline of the last boot\n"
    "  trace                    the last boot as a trace for trace viewers\n"
    "  metrics                  the last boot as Prometheus metrics, for\n"
    "                           node_exporter's textfile collector\n"
    "  snapshot                 the last boot as one JSON document to keep\n"
    "  compare BASELINE [CURRENT]\n"
    "                           compare two snapshots (CURRENT: the last boot)\n"
    "  dot                      the plugin dependency graph in Graphviz dot\n"
    "  verify [FILE...]         check plugin files without activating them\n"
    "  tags                     the tags the installed plugins provide or require\n"
    "\n"
    "Run 'dawnstep-analyze COMMAND --help' for one command's options.\n";

inline constexpr char kBlameHelp[] =
    "Usage: dawnstep-analyze blame [--log FILE] [--json]\n"
    "\n"
    "Lists every plugin of the last boot, longest activation first: the duration\n"
    "in milliseconds, right-aligned, the outcome, then the plugin's name. Equal\n"
    "durations are ordered by name; plugins without an activation record come\n"
    "last, with '-' for the duration. A boot that ended in unmet dependencies\n"
    "says so first and names the plugins that never started. Outcomes come\n"
    "from the boot's kernel log and alert node records: activated, failed,\n"
    "skipped (disabled), preempted, opportunistic-failed, opportunistic-skipped,\n"
    "never-started (no outcome record: unmet dependencies).\n"
    "\n"
    "  --log FILE  the timing profile (default /var/log/sysboot.log)\n"
    "  --json      an array of {plugin, outcome, start, end, duration_us}\n";

inline constexpr char kCriticalChainHelp[] =
    "Usage: dawnstep-analyze critical-chain [--log FILE] [--json] [PLUGIN]\n"
    "\n"
    "Shows the chain of activations that decided when activation ended (or\n"
    "when PLUGIN started): from the last activation to finish back through the\n"
    "plugin it waited for that finished latest, and so on. Each line shows the\n"
    "plugin and its outcome, the start, counted from the profile's Start, and\n"
    "the duration, indented one step per link, and the tag that links it to the\n"
    "line above.\n"
    "\n"
    "  --log FILE  the timing profile (default /var/log/sysboot.log)\n"
    "  --json      an array, first to last, of {plugin, offset_us, duration_us}\n";

inline constexpr char kPlotHelp[] =
    "Usage: dawnstep-analyze plot [--log FILE] > boot.svg\n"
    "\n"
    "Writes an SVG timeline of the last boot to standard output: one bar per\n"
    "activation, coloured by outcome (with a legend), the critical chain\n"
    "outlined, a time axis at the top and the bottom, and the boot's date.\n"
    "\n"
    "  --log FILE  the timing profile (default /var/log/sysboot.log)\n";

inline constexpr char kTimeHelp[] =
    "Usage: dawnstep-analyze time [--log FILE] [--json]\n"
    "\n"
    "Shows the kernel initialisation time (the profile's first line), the plugin\n"
    "activation time (the profile's Start to End), the length of the critical\n"
    "chain (the end of its last activation, from Start) and the number of\n"
    "plugins by outcome.\n"
    "\n"
    "  --log FILE  the timing profile (default /var/log/sysboot.log)\n"
    "  --json      {kernel_us, activation_us, critical_chain_us, outcomes}\n";

inline constexpr char kWhyHelp[] =
    "Usage: dawnstep-analyze why [--log FILE] [--json] PLUGIN\n"
    "\n"
    "Explains PLUGIN's outcome in the last boot: for never-started, the chain\n"
    "of required tags and providers that never finished, down to the cause (a\n"
    "loop, a plugin that waits for itself, two preemptive providers of one tag);\n"
    "for failed, its alert record and the error lines its work left in the logs\n"
    "under /var/log; for skipped and preempted, what skipped it; for activated,\n"
    "the last of its requirements to finish and how long it waited.\n"
    "Exit status: 0, or 2 when no plugin is named PLUGIN.\n"
    "\n"
    "  --log FILE  the timing profile (default /var/log/sysboot.log)\n"
    "  --json      {plugin, outcome, reasons}: reasons outermost first\n";

inline constexpr char kSimulateHelp[] =
    "Usage: dawnstep-analyze simulate [--log FILE] [--json] [--max-workers N]\n"
    "                                 [--duration PLUGIN=MILLISECONDS]...\n"
    "\n"
    "Replays the installed plugins through dawnstep's own scheduler, with a\n"
    "simulated worker side on a virtual clock, each plugin taking the duration\n"
    "the last profile recorded (0 without a record), failing or being disabled\n"
    "as it was in the last boot. The run's own overheads come from the profile\n"
    "too: the time before the first and after the last activation, and what\n"
    "handing a plugin to a worker costs (one at a time): the average time from\n"
    "when a hand-over could begin to the start, one figure for starting a new\n"
    "worker and one for an idle worker, longer the more activations share the\n"
    "processors (those this command may use) with the scheduler.\n"
    "Prints the predicted activation time, the predicted critical chain and\n"
    "the recorded activation time.\n"
    "\n"
    "  --log FILE       the timing profile (default /var/log/sysboot.log)\n"
    "  --max-workers N  at most N plugins at once; without it, one when the\n"
    "                   recorded boot never ran two at once, else no limit\n"
    "  --duration PLUGIN=MILLISECONDS\n"
    "                   PLUGIN takes that long instead (repeatable)\n"
    "  --json           {predicted_us, recorded_us, max_workers, critical_chain}\n";

inline constexpr char kTraceHelp[] =
    "Usage: dawnstep-analyze trace [--log FILE] [-o FILE]\n"
    "\n"
    "Writes the last boot in the Trace Event Format (JSON) that trace viewers\n"
    "such as Perfetto and chrome://tracing open: one complete event per\n"
    "activation, times in microseconds from the activation start, on lanes\n"
    "whose events never overlap, with the plugin's outcome in args.\n"
    "\n"
    "  --log FILE          the timing profile (default /var/log/sysboot.log)\n"
    "  -o, --output FILE   write to FILE instead of standard output (see metrics)\n";

inline constexpr char kMetricsHelp[] =
    "Usage: dawnstep-analyze metrics [--log FILE] [-o FILE]\n"
    "\n"
    "Writes the last boot in the Prometheus text format (0.0.4), for the\n"
    "textfile collector of node_exporter: dawnstep_boot_timestamp_seconds,\n"
    "dawnstep_kernel_init_seconds, dawnstep_activation_seconds,\n"
    "dawnstep_critical_chain_seconds, dawnstep_plugins{outcome},\n"
    "dawnstep_plugin_activation_seconds{plugin,outcome},\n"
    "dawnstep_plugin_failed{plugin} and dawnstep_unmet_dependencies.\n"
    "Without a profile or node records the metrics that need them are left\n"
    "out, with a note on standard error.\n"
    "\n"
    "  --log FILE          the timing profile (default /var/log/sysboot.log)\n"
    "  -o, --output FILE   replace FILE whole (written beside it, then renamed;\n"
    "                      mode 0644), so that a collector never reads a part\n";

inline constexpr char kSnapshotHelp[] =
    "Usage: dawnstep-analyze snapshot [--log FILE] [-o FILE]\n"
    "\n"
    "Writes the last boot as one JSON document (schema 1) to keep, copy off\n"
    "the host and compare later: schema, host, dawnstep_version, boot_start,\n"
    "kernel_us, activation_us, critical_chain, unmet_dependencies and plugins,\n"
    "each {name, outcome, offset_us, duration_us, provides, requires}.\n"
    "\n"
    "  --log FILE          the timing profile (default /var/log/sysboot.log)\n"
    "  -o, --output FILE   replace FILE whole, as metrics does\n";

inline constexpr char kCompareHelp[] =
    "Usage: dawnstep-analyze compare [--json] [--fail-above PERCENT [--min-ms MS]]\n"
    "                                [--log FILE] BASELINE [CURRENT]\n"
    "\n"
    "Compares two snapshots (CURRENT: the last boot of this host): activation\n"
    "and critical chain times before and after, then every plugin whose outcome\n"
    "changed, every plugin whose duration changed, largest change first, and\n"
    "the plugins added and removed.\n"
    "Exit status: 0; 1 when the gate failed; 2 for a usage error or a file that\n"
    "is not a snapshot this version reads.\n"
    "\n"
    "  --json              {activation, critical_chain, plugins, added, removed}\n"
    "  --fail-above PERCENT\n"
    "                      fail (and mark) when activation or a plugin took more\n"
    "                      than PERCENT percent and MS milliseconds longer, or\n"
    "                      a plugin that activated in BASELINE did not in CURRENT\n"
    "  --min-ms MS         the MS for --fail-above (default 10)\n"
    "  --log FILE          the timing profile of the last boot, for CURRENT\n"
    "                      (default /var/log/sysboot.log)\n";

inline constexpr char kDotHelp[] =
    "Usage: dawnstep-analyze dot [--no-kind-tags] [--around PLUGIN [--depth N]]\n"
    "\n"
    "Writes the dependency graph of the installed plugins in the Graphviz dot\n"
    "language: an edge from provider to requirer for every required tag,\n"
    "preemptive providers drawn as octagons, unprovided tags in red.\n"
    "\n"
    "  --no-kind-tags   leave out edges that come only from kind tags\n"
    "  --around PLUGIN  only the plugins within N requirement steps of PLUGIN\n"
    "  --depth N        the N for --around (default 1)\n";

inline constexpr char kVerifyHelp[] =
    "Usage: dawnstep-analyze verify [--json] [FILE...]\n"
    "\n"
    "Loads plugin files without activating them (the installed plugins when no\n"
    "FILE is given). Errors: files that fail to load (with the line and column\n"
    "of a JSON syntax error), requirement loops, plugins that require their own\n"
    "tag, tags with two preemptive providers (each stops a boot), and JSON\n"
    "plugin command lines that would fail before their handler runs: lines that\n"
    "do not parse, unknown commands or parameters, missing required parameters,\n"
    "values of the wrong type. Warnings: required tags that no plugin provides.\n"
    "Native plugin libraries are loaded, so their initialisers run; no entry\n"
    "point and no command is called.\n"
    "Exit status: 0 clean, 1 warnings only, 2 errors.\n"
    "\n"
    "  --json  {errors, warnings}, each an array of {file, message}\n";

inline constexpr char kTagsHelp[] =
    "Usage: dawnstep-analyze tags [--json]\n"
    "\n"
    "Lists every tag that an installed plugin provides or requires, kind tags\n"
    "excepted, one per line in byte order.\n"
    "\n"
    "  --json  an array of {tag, providers, requirers}\n";

}  // namespace dawnstep::analyze
