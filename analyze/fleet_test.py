"""dawnstep-analyze metrics, snapshot and compare: exact values over generated
boots, the files that -o replaces, and the output checked by Prometheus' own
promtool and served by a real node_exporter."""
import calendar, json, os, re, resource, shutil, signal, socket, subprocess, time, unittest  # noqa: E401
import urllib.request
from operator import itemgetter

import report_test
from harness import ANALYZE, BUILD_DIR, PLUGIN_DIR, SOURCE_DIR, RootCase, main
from report_test import plugin

START = calendar.timegm((2026, 12, 6, 6, 0, 0))
PLUGINS = {"a": plugin(["t"], preemptive=True), "b": plugin(["t"]), "c": plugin(["u"]),
           "d": plugin(["v"]), "e": plugin(["w"], ["nothing-yet"]), "f": plugin(["x"], ["x"]),
           "g": plugin(["y"], ["u"])}
PROFILE = [("a", 0, 100000), ("c", 0, 250000), ("d", 50000, 60000), ("g", 250000, 400000),
           ("end-autoconf", 400000, 400000)]
# c 50 ms (20 %) slower, and so activation too (12.5 %); d 2 ms (20 %).
SLOWER = [("a", 0, 100000), ("c", 0, 300000), ("d", 50000, 62000), ("g", 300000, 450000),
          ("end-autoconf", 450000, 450000)]
# g never started, h is new.
WITHOUT_G = [row for row in PROFILE if row[0] != "g"] + [("h", 0, 5000)]
LOG = ["Dawnstep plugin a activated.", "Dawnstep plugin b skipped.", "Dawnstep plugin d skipped.",
       "Dawnstep plugin e opportunistic skipped.", "Dawnstep plugin g activated.",
       "Dawnstep plugin end-autoconf activated."]
ALERTS = ["Dawnstep plugin c activation failed.", "Dawnstep has unmet dependencies!"]
OUTCOMES = {"a": "activated", "b": "preempted", "c": "failed", "d": "skipped",
            "e": "opportunistic-skipped", "f": "never-started", "g": "activated",
            "end-autoconf": "activated"}
SAMPLE = re.compile(r"(dawnstep_\w+)(?:\{(.*)\})? (\S+)$")
LABEL = re.compile(r'(\w+)="((?:[^"\\]|\\.)*)"')


def series(text):
    """{(name, ((label, value), ...)): value} of the dawnstep samples, label values unescaped."""
    found = {}
    for line in text.splitlines():
        sample = SAMPLE.match(line)
        if sample:
            name, labels, value = sample.groups()
            pairs = tuple(sorted((k, re.sub(r"\\(.)", lambda m: "\n" if m[1] == "n" else m[1], v))
                                 for k, v in LABEL.findall(labels or "")))
            found[(name, pairs)] = float(value)
    return found


def tool(name):
    """The program's path; without it the test is skipped, but not under CI, where it must run."""
    path = shutil.which(name)
    if path is None and os.environ.get("CI") != "true":
        raise unittest.SkipTest(f"{name} is not installed")
    return path or name


def run_example(root):
    """Has dawnstep activate the bundled example plugins on `root`."""
    shutil.copytree(SOURCE_DIR + "/examples/root", root.path, dirs_exist_ok=True)
    for library in os.listdir(BUILD_DIR + "/example-plugins"):
        shutil.copy(BUILD_DIR + "/example-plugins/" + library, root.file(PLUGIN_DIR))
    root.run()


class Fleet(RootCase):
    boot, files = report_test.Reports.boot, report_test.Reports.snapshot

    def analyze(self, *args, status=0, umask=None, limit=None):
        def child():
            if umask is not None:
                os.umask(umask)
            if limit is not None:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        done = subprocess.run([ANALYZE, *args], capture_output=True, text=True, preexec_fn=child,
                              cwd=self.root.path, env=dict(os.environ, DAWNSTEP_ROOT=self.root.path))
        self.assertEqual(status, done.returncode, done.stderr)
        return done

    def promtool_accepts(self, text):
        done = subprocess.run([tool("promtool"), "check", "metrics"], input=text,
                              capture_output=True, text=True)
        self.assertEqual((0, ""), (done.returncode, done.stdout + done.stderr), text)

    def test_metrics(self):
        def plugins(name, value):
            return {(name, (("plugin", p),)): value(p) for p in OUTCOMES}
        timed = {("dawnstep_boot_timestamp_seconds", ()): START,
                 ("dawnstep_kernel_init_seconds", ()): 12, ("dawnstep_activation_seconds", ()): 0.4,
                 ("dawnstep_critical_chain_seconds", ()): 0.4}
        durations = {p: (e - s) / 1e6 for p, s, e in PROFILE}
        recorded = {**plugins("dawnstep_plugin_failed", lambda p: p == "c"),
                    ("dawnstep_unmet_dependencies", ()): 1}
        for outcome in set(OUTCOMES.values()) | {"opportunistic-failed"}:
            recorded[("dawnstep_plugins", (("outcome", outcome),))] = list(
                OUTCOMES.values()).count(outcome)
        rows = [(None, lambda outcome: outcome, {**timed, **recorded}, ""),
                ("/run/hkn/system.log", lambda _: "unknown", timed, "plugin outcomes not shown"),
                ("/var/log/sysboot.log", None, recorded, "timing metrics left out")]
        for missing, outcome, expected, note in rows:
            with self.subTest(missing=missing):
                self.boot(PLUGINS, PROFILE, LOG, ALERTS)
                if missing:
                    os.remove(self.root.file(missing))
                if outcome:
                    expected = {**expected, **{("dawnstep_plugin_activation_seconds", (
                        ("outcome", outcome(OUTCOMES[p])), ("plugin", p))): d
                        for p, d in durations.items()}}
                done = self.analyze("metrics")
                self.assertEqual(expected, series(done.stdout))
                self.assertIn(note, done.stderr)
                self.promtool_accepts(done.stdout)
        # Only the plugin file has the name that is not UTF-8, and no profile line can hold a line feed.
        awkward = {"back\\slash": "activated", 'say"hi': "failed", "line\nfeed": "activated",
                   "caf\udce9": "never-started"}
        shutil.rmtree(self.root.file(PLUGIN_DIR))
        self.boot({name: plugin([f"t{i}"]) for i, name in enumerate(awkward)},
                  [(n, 0, 10) for n in awkward if n.isprintable() and n != "caf\udce9"],
                  [f"Dawnstep plugin {n} activated." for n in awkward if awkward[n] == "activated"],
                  ['Dawnstep plugin say"hi activation failed.'])
        text = self.analyze("metrics").stdout
        failed = {dict(labels)["plugin"]: value for (name, labels), value in series(text).items()
                  if name == "dawnstep_plugin_failed"}
        self.assertEqual({"back\\slash": 0, 'say"hi': 1, "line\nfeed": 0, "caf\ufffd": 0,
                          "end-autoconf": 0}, failed)
        self.promtool_accepts(text)

    def test_snapshot_and_compare(self):
        self.boot(PLUGINS, PROFILE, LOG, ALERTS)
        baseline = self.root.file("/baseline.json")
        self.analyze("snapshot", "-o", baseline)
        with open(baseline) as f:
            snapshot = json.load(f)
        self.assertEqual((1, 12000000, 400000, f"{report_test.T0}000000", ["c", "g", "end-autoconf"], True),
                         itemgetter("schema", "kernel_us", "activation_us", "boot_start", "critical_chain",
                                    "unmet_dependencies")(snapshot))
        self.assertEqual(OUTCOMES, {p["name"]: p["outcome"] for p in snapshot["plugins"]})
        by_name = {p["name"]: p for p in snapshot["plugins"]}
        self.assertEqual({"name": "g", "outcome": "activated", "offset_us": 250000,
                          "duration_us": 150000, "provides": ["json plugins", "y"],
                          "requires": ["u"]}, by_name["g"])
        self.assertEqual((None, None), itemgetter("offset_us", "duration_us")(by_name["b"]))
        slower = "c: 250.000 ms -> 300.000 ms  +50.000 ms  +20.0%"
        rows = [(SLOWER, (), 0, [], slower + "\n"),
                (SLOWER, ("--fail-above", "10"), 1, ["activation", "c"], slower + "  [fail]\n"),
                (SLOWER, ("--fail-above", "10", "--min-ms", "60"), 0, [], "Gate passed"),
                (SLOWER, ("--fail-above", "25"), 0, [], slower + "\n"),
                (SLOWER, ("--fail-above", "10", "--min-ms", "1"), 1, ["activation", "c", "d"], ""),
                (WITHOUT_G, ("--fail-above", "50"), 1, ["g"], "h: added")]
        for profile, options, status, failed, line in rows:
            with self.subTest(options=options, profile=profile):
                if profile is WITHOUT_G:
                    self.boot(dict(PLUGINS, h=plugin(["z"])), profile,
                              LOG[:4] + LOG[5:] + ["Dawnstep plugin h activated."], ALERTS)
                else:
                    self.boot(PLUGINS, profile, LOG, ALERTS)
                result = json.loads(self.analyze("compare", "--json", *options, baseline,
                                                 status=status).stdout)
                self.assertEqual(["g", "h"] if profile is WITHOUT_G else ["c", "d"],
                                 [p["name"] for p in result["plugins"]])
                self.assertEqual(max(e for *_, e in profile), result["critical_chain"]["after_us"])
                marked = [p["name"] for p in result["plugins"] if p.get("failed")]
                self.assertEqual(failed, ["activation"] * result["activation"].get("failed", 0)
                                 + marked)
                text = self.analyze("compare", *options, baseline, status=status).stdout
                self.assertEqual(len(failed), text.count("[fail]"), text)
                self.assertIn(line, text)
        self.assertEqual(
            {"activation": {"before_us": 400000, "after_us": 400000, "failed": False},
             "critical_chain": {"before_us": 400000, "after_us": 400000},
             "plugins": [{"name": "g", "before_us": 150000, "after_us": None, "change_us": None,
                          "before_outcome": "activated", "after_outcome": "never-started",
                          "failed": True},
                         {"name": "h", "before_us": None, "after_us": 5000, "change_us": None,
                          "before_outcome": None, "after_outcome": "activated", "failed": False}],
             "added": ["h"], "removed": [], "failed": True}, result)
        self.assertEqual("Activation time: 0.400000 s -> 0.400000 s  +0.000000 s  +0.0%\n"
                         "Critical chain:  0.400000 s -> 0.400000 s  +0.000000 s  +0.0%\n"
                         "g: activated -> never-started, 150.000 ms -> unknown  [fail]\n"
                         "h: added (activated, 5.000 ms)\n"
                         "Gate failed: the marked lines grew by more than 50% and 10.000 ms"
                         " or no longer activated.\n", text)
        # Swapped, h is removed; and a snapshot file reads as the boot it was made from.
        current = self.root.file("/current.json")
        self.analyze("snapshot", "-o", current)
        self.assertIn("h: removed (activated, 5.000 ms)  [fail]\n",
                      self.analyze("compare", "--fail-above", "50", current, baseline,
                                   status=1).stdout)
        self.assertTrue(self.analyze("compare", current).stdout.endswith("No plugin changed.\n"))

    def test_bad_input(self):
        self.boot(PLUGINS, PROFILE, LOG, ALERTS)
        one = {"schema": 1, "activation_us": 1, "critical_chain": [],
               "plugins": [{"name": "a", "outcome": "activated", "offset_us": 0, "duration_us": "5"}]}
        rows = [(("compare", "x"), '{"schema": 1,', "x: not JSON: syntax error at byte 14"),
                (("compare", "x"), '{"schema": 2}', "x: snapshot schema 2; this version reads schema 1"),
                (("compare", "x"), "[]", "x: not a dawnstep snapshot"),
                (("compare", "x"), json.dumps(one), 'plugins[0]: member "duration_us" is not a whole'),
                (("compare", "x"), json.dumps({"schema": 1}), 'x: no member "activation_us"'),
                (("compare", "x"), json.dumps(dict(one, activation_us=-2**63)), '"activation_us" is out of range'),
                (("compare", "y"), None, "cannot open y: No such file or directory"),
                (("compare",), None, "missing argument"),
                (("compare", "--min-ms", "5", "x"), None, "option --min-ms needs --fail-above"),
                (("compare", "--fail-above", "-1", "x"), None, "a percentage of 0 or more, not '-1'"),
                (("metrics", "extra"), None, "unexpected argument extra")]
        for args, content, message in rows:
            with self.subTest(args=args, content=content):
                if content is not None:
                    self.root.write("/x", content)
                self.assertIn(message, self.analyze(*args, status=2).stderr)
        for command in ("metrics", "snapshot", "compare"):
            self.assertTrue(self.analyze(command, "--help").stdout.startswith(
                "Usage: dawnstep-analyze " + command))

    def test_output_file(self):
        self.boot(PLUGINS, PROFILE, LOG, ALERTS)
        out = self.root.file("/out")
        os.mkdir(out)
        before = self.files()
        for command in ("metrics", "snapshot", "trace"):
            for umask in (0o000, 0o077):
                with self.subTest(command=command, umask=umask):
                    self.analyze(command, "-o", out + "/file", umask=umask)
                    self.assertEqual(0o100644, os.stat(out + "/file").st_mode)
                    with open(out + "/file") as f:
                        self.assertEqual(self.analyze(command).stdout, f.read())
            with self.subTest(command=command, failure="too large"):
                done = self.analyze(command, "-o", out + "/file", status=1, limit=100)
                self.assertIn(f"dawnstep-analyze: cannot write {out}/file: File too large\n", done.stderr)
                with open(out + "/file") as f:
                    self.assertEqual(self.analyze(command).stdout, f.read())
            for target, reason in ((out + "/none/file", "No such file or directory"),
                                   (out, "Is a directory")):
                with self.subTest(command=command, target=target):
                    done = self.analyze(command, "-o", target, status=1)
                    self.assertIn(f"cannot write {target}: {reason}\n", done.stderr)
            self.assertEqual(["file"], os.listdir(out))
            os.remove(out + "/file")
        self.assertEqual(before, self.files())

    def test_example_boot_served_by_node_exporter(self):
        exporter = tool("prometheus-node-exporter")
        run_example(self.root)
        directory = self.root.file("/textfile")
        os.mkdir(directory)
        self.analyze("metrics", "-o", directory + "/dawnstep.prom")
        with open(directory + "/dawnstep.prom") as f:
            written = f.read()
        self.promtool_accepts(written)
        self.assertGreater(len(series(written)), 12, written)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with open(self.root.file("/exporter.log"), "w") as log:
            server = subprocess.Popen([exporter, "--collector.disable-defaults", "--collector.textfile",
                                       "--collector.textfile.directory=" + directory,
                                       f"--web.listen-address=127.0.0.1:{port}"],
                                      stdout=log, stderr=log)
        direct = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        served, deadline = None, time.monotonic() + 30
        try:
            while served is None and server.poll() is None and time.monotonic() < deadline:
                try:
                    with direct.open(f"http://127.0.0.1:{port}/metrics", timeout=5) as response:
                        served = response.read().decode()
                except OSError:
                    time.sleep(0.1)
        finally:
            server.terminate()
            try:
                server.wait(10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        self.assertIsNotNone(served, self.root.read("/exporter.log"))
        self.assertEqual(series(written), series(served))
        self.assertIn("node_textfile_scrape_error 0\n", served)

if __name__ == "__main__":
    main()
