"""The program's command line: exit status, standard error, alert records,
query answers and what a plain, dry or quiet run leaves behind."""
import json
import os
import re
import shutil
import subprocess
import time

from harness import BINARY, NODES, PLUGIN_DIR, RootCase, main
from plugin_runs import json_plugin

USAGE = """\
--help,-h\tshow this help message
--interactive [tag,...]
\t\tprompts before activating a plugin, allowing
\t\tplugins to be skipped, executed, or to fall to a
\t\ttroubleshooting shell. Tags specify the requirements
\t\tfor interactive mode to function (e.g. 'usb')
--dry\t\tdry run; do not execute anything, but show the operations
\t\tthat would be performed
--disable-preemptive-plugins
\t\tdisable preemptive plugins during activation
--disable <plugin|tag>[,<plugin|tag>]
\t\ta comma separated list of plugins or provide tags to be
\t\tdisabled during execution
--requires [tag]
\t\tlist plugins that require given tag
--provides [tag]
\t\tlist plugins that provide given tag
--quiet\t\tdo not log any hvkernel messages
--time-ops\tfor JSON plugins, record times for each orvocli
--max-workers n\tlimit the number of spawned workers
--plugin <plugin>[,...]
\t\tlist of plugins to execute, must be full name (or path)
\t\tof plugin file
--tags\t\tlist all barrier tags
--randomize [seed]
\t\trandomize the activation order of plugins, or specify a
\t\tfixed seed for reproducibility (only useful for testing)
"""

# argv ("|" between words) -> exit status and alert record of a run that ends with the usage text.
USAGE_ENDINGS = [
    ("--help", 0, None), ("-h|--bogus", 0, None), ("--help=now", 0, None), ("--quiet|--bogus", 1, None),
    ("--dry|--bogus=1|--help", 1, "Invalid arg --bogus=1"), ("--bogus|-h", 1, "Invalid arg --bogus"),
    ("--DRY", 1, "Invalid arg --DRY"), ("dry", 1, "Invalid arg dry"), ("--requires|-usb", 1, "Invalid arg -usb"),
    ("--disable-preemptive", 1, "Invalid arg --disable-preemptive"), ("--randomize|-1", 1, "Invalid arg -1"),
    ("--max-workers", 1, "Missing arg for --max-workers"), ("--dry|--plugin", 1, "Missing arg for --plugin"),
    ("--max-workers|--dry", 1, "Invalid value for --max-workers: --dry"),
    ("--max-workers=", 1, "Invalid value for --max-workers: "),
    ("--max-workers|+-1", 1, "Invalid value for --max-workers: +-1"),
    ("--max-workers|-1|--max-workers|x8", 1, "Invalid value for --max-workers: x8"),
    ("--randomize=2147483648", 1, "Invalid value for --randomize: 2147483648"),
    ("--randomize=-99999999999999999999", 1, "Invalid value for --randomize: -99999999999999999999"),
]

# argv -> what the queries print, answered in a fixed order, and the seed recorded.
SEED = "Dawnstep is randomizing iteration order using seed: "
QUERIES = [
    ("--tags|--requires|usb|--provides",
     "b: usb\nend-autoconf: builtin plugins\na: json plugins,usb\nb: json plugins,scan\nscan\nusb\n", []),
    ("--provides|scan|--requires",
     "end-autoconf: json plugins,native plugins\na:\nb: usb\nb: json plugins,scan\n", []),
    ("|=x|=|--max-workers|-1|--max-workers=8x|--max-workers|2=3|--randomize|--requires|usb",
     "b: usb\n", [SEED + "{now}"]),
    ("--randomize=-1|--time-ops=x|--requires=usb", "b: usb\n", [SEED + "4294967295"]),
    ("--randomize|2147483647|--randomize=|--requires=usb", "b: usb\n", [SEED + "{now}"]),
    ("--randomize=7|--randomize|0|--max-workers| -2147483648|--requires=usb|--dry", "b: usb\n", []),
    ("--plugin|{dir}/a.json,,|--plugin|,{dir}/a.json|--provides", "a: json plugins,usb\n", []),
]

STORE_FILE = "/var/lib/corvane/configstore.log"
STORE = "EndAutoConf\nCleanupBootState\nEnableMgmtdNotification true\n"
ACTIVATED = {
    "log": ["Dawnstep plugin a skipped.", "Dawnstep plugin a activated.", "Activating Dawnstep plugin b.",
            "Applying start on plugin b", "Dawnstep plugin b activated.",
            "Activating Dawnstep plugin end-autoconf.", "Dawnstep plugin end-autoconf activated."],
    "alert": [], "progress": ["Activating Dawnstep Plugins: ", "All dawnstep plugins activated"],
    "status": ["", "activating: b\n", "activating: end-autoconf\n", ""]}
QUIET = {name: [] for name in NODES}
STAMPED = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\S+) (\w+)\[\d+\]: ", re.M)


class CommandLineTest(RootCase):
    def setUp(self):
        super().setUp()
        json_plugin(self.root, "a", [], provides=["usb"])
        json_plugin(self.root, "b", ["# runs nothing"], provides=["scan"], requires=["usb"])

    def nodes(self):
        return {name: self.root.node(name) for name in NODES}

    def store(self):
        path = self.root.file(STORE_FILE)
        return self.root.read(STORE_FILE) if os.path.exists(path) else None

    def test_runs_that_end_with_the_usage_text(self):
        for args, status, alert in USAGE_ENDINGS:
            with self.subTest(args=args):
                self.root.write("/.runonce", "stale")
                shutil.rmtree(self.root.file("/run"), ignore_errors=True)
                run = self.root.run(*args.split("|"))
                self.assertEqual((run.status, run.out, run.err), (status, "", USAGE))
                self.assertEqual(self.nodes(), dict(QUIET, alert=[alert] if alert else []))
                self.assertEqual(self.root.read("/.runonce"), "", "emptied in every mode")

    def test_queries(self):
        for args, out, log in QUERIES:
            with self.subTest(args=args):
                shutil.rmtree(self.root.file("/run"), ignore_errors=True)
                now = int(time.time())
                run = self.root.run(*args.format(dir=self.root.file(PLUGIN_DIR)).split("|"))
                self.assertEqual((run.status, run.out, run.err), (0, out, ""))
                seeds = [text.replace(str(now), "{now}").replace(str(now + 1), "{now}")
                         for text in self.root.node("log")]
                self.assertEqual(dict(self.nodes(), log=seeds), dict(QUIET, log=log))
        self.assertFalse(os.path.exists(self.root.file("/var/lib/corvane")))

    def test_plain_dry_and_quiet_runs(self):
        # The worker finds no /var/log to send its output to, and says so.
        log_line = "Wa(4) Kestor2: Failed opening log file {}/var/log/dawnstep-orvocli-stdout.log\n"
        for args, out, nodes, store in [(["--quiet", "--max-workers", "1"], log_line, QUIET, STORE),
                                        (["--dry"], "b: start\n", ACTIVATED, None),
                                        ([], log_line, ACTIVATED, STORE)]:
            with self.subTest(args=args):
                self.setUp()
                out = out.format(self.root.path)
                run = self.root.run(*args)
                self.assertEqual((run.status, STAMPED.sub(r"\1 \2: ", run.out), run.err), (0, out, ""))
                self.assertEqual(self.nodes(), nodes)
                self.assertEqual(self.store(), store)

    def test_log_lines_that_cannot_be_written_are_lost_and_nothing_else(self):
        with open("/dev/full", "w") as full:
            run = subprocess.run([BINARY], stdout=full, env=dict(os.environ, DAWNSTEP_ROOT=self.root.path),
                                 timeout=30)
        self.assertEqual((run.returncode, self.nodes()), (0, ACTIVATED))

    def test_a_store_that_cannot_be_opened_or_written_is_logged_and_the_run_goes_on(self):
        for make, error in [(os.makedirs, "Is a directory"), (lambda path: os.symlink("/dev/full", path),
                                                              "No space left on device")]:
            with self.subTest(error):
                self.setUp()
                self.root.write(STORE_FILE + ".x", "")
                make(self.root.file(STORE_FILE))
                run = self.root.run(timeout=30)
                self.assertEqual((run.status, run.err, self.root.node("alert")), (0, "", []))
                reason = f"{self.root.file(STORE_FILE)}: {error}"
                self.assertEqual([text for text in self.root.node("log") if reason in text], [
                    "Failed to end autoconf: " + reason, "Failed to cleanup boot state: " + reason,
                    "Error settingup configstore mgmtd notifications: " + reason])


if __name__ == "__main__":
    main()
