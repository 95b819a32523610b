"""dawnstep-analyze's reports of one boot (outcomes, time, why, trace,
simulate) and its command line, on roots whose plugins, profile and node
records are written here."""
import json
import os
import subprocess
from operator import itemgetter

from harness import ANALYZE, PLUGIN_DIR, SOURCE_DIR, RootCase, main

T0 = "2026-12-06 06:00:00."


def plugin(provides, requires=(), preemptive=False, start=("x y",)):
    meta = {"provides": list(provides), "requires": list(requires), "version": 5,
            "run_once": False, "preemptive_provider": preemptive}
    return json.dumps({"metadata": meta, "operations": {"start": list(start)}})


def idle(provides, requires=(), preemptive=False):
    return plugin(provides, requires, preemptive, start=())


def records(*texts, since="06:00:00.000000"):
    return "".join(json.dumps({"time": f"2026-12-06T{since}Z", "pid": 1, "text": t + "\n"}) + "\n"
                   for t in texts)


class Reports(RootCase):
    def boot(self, plugins, profile, log, alerts=(), progress=True):
        for name, text in plugins.items():
            self.root.write(f"{PLUGIN_DIR}/{name}.json", text)
        lines = ["HVKernel Initialization Time: 12000000"]
        lines += [f"[{T0}{s:06d} - {T0}{e:06d}] sysboot: {n}" for n, s, e in profile]
        end = max([e for _, _, e in profile] + [0])
        lines += ["=== Dawnstep configuration info ===", f" Start: {T0}000000", f" End: {T0}{end:06d}"]
        self.root.write("/var/log/sysboot.log", "\n".join(lines) + "\n")
        # An earlier boot's records, before this boot's progress line, count for nothing.
        old = records("Dawnstep plugin f activation failed.", since="05:00:00.000000")
        self.root.write("/run/hkn/system.log", old + records(*log))
        self.root.write("/run/hkn/system.sysAlert", old + records(*alerts))
        if progress:
            self.root.write("/run/hkn/system.progressTerm.progressText",
                            records("Activating Dawnstep Plugins: ", since="05:59:59.000000"))

    def analyze(self, *args, status=0):
        run = self.root.run(*args, program=ANALYZE)
        self.assertEqual(status, run.status, run)
        wants_json = "--json" in args or args == ("trace",)
        return json.loads(run.out) if wants_json else run.out

    def snapshot(self):
        return sorted((path, os.stat(os.path.join(path, f)).st_mtime_ns, f)
                      for path, _, files in os.walk(self.root.path) for f in files)

    def test_outcomes_time_and_trace(self):
        self.boot({"a": plugin(["t"], preemptive=True), "b": plugin(["t"]), "c": plugin(["u"]),
                   "d": plugin(["v"]), "e": plugin(["w"], ["nothing-yet"]),
                   "f": plugin(["x"], ["x"]), "g": plugin(["y"], ["u"]), "h": plugin(["z"]),
                   "p": plugin(["pz"], preemptive=True), "q": plugin(["pz"])},
                  [("a", 0, 100), ("c", 0, 250), ("d", 50, 60), ("g", 250, 400),
                   ("end-autoconf", 400, 400)],
                  ["Activating Dawnstep plugin a.", "Dawnstep plugin a activated.",
                   "Dawnstep plugin b skipped.", "Dawnstep plugin d skipped.",
                   "Dawnstep plugin d skipped.", "Dawnstep plugin e opportunistic skipped.",
                   "Dawnstep plugin g activated.", "Dawnstep plugin end-autoconf activated.",
                   # Handed to a worker, no result: h never started. Only an
                   # activated preemptive provider takes a skipped plugin's place.
                   "Activating Dawnstep plugin h.", "Dawnstep plugin q skipped."],
                  ["Dawnstep plugin c activation failed.", "Dawnstep plugin p activation failed.",
                   "Dawnstep has unmet dependencies!"])
        before = self.snapshot()
        expected = {"a": "activated", "b": "preempted", "c": "failed", "d": "skipped",
                    "e": "opportunistic-skipped", "f": "never-started", "g": "activated",
                    "h": "never-started", "p": "failed", "q": "skipped", "end-autoconf": "activated"}
        blame = self.analyze("blame", "--json")
        self.assertEqual(expected, {row["plugin"]: row["outcome"] for row in blame})
        self.assertEqual(["c", "g", "a", "d", "end-autoconf"], [r["plugin"] for r in blame[:5]])
        self.assertEqual((f"{T0}000000", 250), (blame[0]["start"], blame[0]["duration_us"]))
        self.assertIsNone(blame[-1]["duration_us"])
        self.assertTrue(self.analyze("blame").startswith(
            "The boot ended in unmet dependencies; never started: f h\n"))
        self.assertEqual({"kernel_us": 12000000, "activation_us": 400, "critical_chain_us": 400,
                          "outcomes": {"activated": 3, "failed": 2, "preempted": 1, "skipped": 2,
                                       "opportunistic-skipped": 1, "never-started": 2}},
                         self.analyze("time", "--json"))
        self.assertEqual([{"plugin": "c", "offset_us": 0, "duration_us": 250},
                          {"plugin": "g", "offset_us": 250, "duration_us": 150},
                          {"plugin": "end-autoconf", "offset_us": 400, "duration_us": 0}],
                         self.analyze("critical-chain", "--json"))
        events = self.analyze("trace")["traceEvents"]
        self.assertEqual({e["name"]: expected[e["name"]] for e in events},
                         {e["name"]: e["args"]["outcome"] for e in events})
        for one in events:
            for other in events:
                if one is not other and one["tid"] == other["tid"]:
                    self.assertTrue(one["ts"] + one["dur"] <= other["ts"] or
                                    other["ts"] + other["dur"] <= one["ts"], (one, other))
        self.assertEqual(before, self.snapshot())

    def test_why(self):
        self.boot({"a": plugin(["t"], preemptive=True), "b": plugin(["t"]), "c": plugin(["u"]),
                   "f": plugin(["x"], ["x"]), "h": plugin(["h1"], ["i1"]),
                   "i": plugin(["i1"], ["h1"]), "j": plugin(["j1"], ["i1"]),
                   "p": plugin(["q"], preemptive=True), "r": plugin(["q"], preemptive=True),
                   "s": plugin(["s1"], ["q"]), "g": plugin(["y"], ["u"])},
                  [("a", 0, 100), ("c", 0, 250), ("g", 250, 400)],
                  ["Dawnstep plugin a activated.", "Dawnstep plugin b skipped.",
                   "Dawnstep plugin g activated."],
                  ["Dawnstep plugin c activation failed.", "Dawnstep has unmet dependencies!"])
        self.root.write("/var/log/dawnstep-orvocli-stdout.log",
                        "2026-12-06T06:00:00.100Z Cr(2) dawnstep[7]: Method invocation failed: x\n"
                        "2026-12-06T06:00:00.100Z Cr(2) dawnstep[7]: c: disk on fire\n"
                        "2026-12-06T06:00:00.100Z Er(2) dawnstep[7]: cc: not this one\n"
                        "2026-12-06T04:00:00.100Z Er(2) dawnstep[7]: c: not this one\n")
        rows = [("c", "failed", ["alert: Dawnstep plugin c activation failed.",
                                 "Method invocation failed: x", "c: disk on fire"]),
                ("b", "preempted", ["preemptive provider a of 't'"]),
                ("g", "activated", ["waited for c (provides 'u')", "at +0.250 ms"]),
                ("f", "never-started", ["requires 'x', which it provides itself"]),
                ("j", "never-started", ["j requires 'i1' from i",
                                        "requirement loop: i waits for h, h waits for i"]),
                ("s", "never-started", ["p and r are both preemptive providers of 'q'"])]
        for name, outcome, parts in rows:
            with self.subTest(name):
                why = self.analyze("why", "--json", name)
                self.assertEqual((name, outcome), (why["plugin"], why["outcome"]))
                for part in parts:
                    self.assertIn(part, "\n".join(why["reasons"]))
                self.assertNotIn("not this one", "\n".join(why["reasons"]))
        # Without its progress record, a boot begins at its first node record.
        os.remove(self.root.path + "/run/hkn/system.progressTerm.progressText")
        self.assertNotIn("not this one", "\n".join(self.analyze("why", "--json", "c")["reasons"]))
        run = self.root.run("why", "nobody", program=ANALYZE)
        self.assertEqual((2, "dawnstep-analyze: no plugin named 'nobody' was installed or ran in "
                             "the last boot\n"), (run.status, run.err))

    def test_simulate(self):
        self.boot({"a": plugin(["ta"]), "b": plugin(["tb"]), "c": plugin(["tc"], ["ta", "tb"])},
                  [("a", 0, 100000), ("b", 0, 50000), ("c", 100000, 130000),
                   ("end-autoconf", 130000, 130000)],
                  ["Dawnstep plugin a activated."])
        rows = [((), 130000, None, ["a", "c"]),
                (("--max-workers", "1"), 180000, 1, ["b", "c"]),
                (("--duration", "a=10"), 80000, None, ["b", "c"]),
                (("--duration", "c=1000", "--max-workers", "2"), 1100000, 2, ["a", "c"])]
        for options, predicted, workers, chain in rows:
            with self.subTest(options):
                self.assertEqual({"predicted_us": predicted, "recorded_us": 130000,
                                  "max_workers": workers, "critical_chain": chain},
                                 self.analyze("simulate", "--json", *options))
        # A hand-over costs what the recorded ones did on average, a started
        # worker apart from a reused one, measured from when it could begin
        # (the start before, the last requirement's end, a worker freed)
        # and stretched by the activations sharing the processor: a boot
        # replays as it ran. One that never ran two at once gets one worker.
        cpus = os.sched_getaffinity(0)
        os.sched_setaffinity(0, {min(cpus)})
        self.addCleanup(os.sched_setaffinity, 0, cpus)
        apart = {"a": plugin(["ta"]), "b": plugin(["tb"]), "c": plugin(["tc"])}
        serial = [("a", 1000, 11000), ("b", 12000, 22000), ("c", 27000, 37000),
                  ("end-autoconf", 37000, 37000)]
        after_a = dict(apart, c=plugin(["tc"], ["ta"]))
        parallel = [("a", 2000, 12000), ("b", 6000, 16000), ("c", 13000, 20000),
                    ("end-autoconf", 20500, 20500)]
        rows = [(apart, serial, (), 37000, 1), (after_a, parallel, (), 20500, None),
                (after_a, parallel, ("--max-workers", "1"), 30500, 1),
                # Made instant, a frees its worker for b within one scan;
                # its answer has c wait 5 ms for b's worker before a fork.
                (after_a, parallel, ("--duration", "a=0"), 19000, None),
                # A recorded fork after an answer began with that wait.
                (apart, [("a", 1000, 2000), ("b", 3000, 30000), ("c", 9000, 20000),
                         ("end-autoconf", 30500, 30500)], (), 30250, None)]
        for plugins, profile, options, predicted, workers in rows:
            with self.subTest(profile=profile, options=options):
                self.boot(plugins, profile, [])
                self.assertEqual((predicted, workers), itemgetter("predicted_us", "max_workers")(
                    self.analyze("simulate", "--json", *options)))

    def test_command_line(self):
        self.boot({"a": plugin(["ta"])}, [("a", 0, 10)], [])
        rows = [(("simulate", "--max-workers", "0"), "option --max-workers needs a whole number"),
                (("simulate", "--duration", "zz=1"), "no installed plugin named 'zz'"),
                (("simulate", "--duration", "a"), "needs PLUGIN=MILLISECONDS"),
                (("blame", "--max-workers=2"), "unknown option --max-workers"),
                (("trace", "--log"), "option --log needs a value"),
                (("why",), "missing argument"), (("time", "x"), "unexpected argument x"),
                (("dot", "--depth", "2"), "option --depth needs --around")]
        for args, message in rows:
            with self.subTest(args):
                run = self.root.run(*args, program=ANALYZE)
                self.assertEqual(2, run.status, run)
                self.assertIn(message, run.err)
        for command in ("blame", "critical-chain", "plot", "time", "why", "simulate", "trace",
                        "dot", "verify", "tags"):
            with self.subTest(command):
                self.assertTrue(self.analyze(command, "--help").startswith(
                    "Usage: dawnstep-analyze " + command))

    def test_verify_and_graph_options(self):
        rows = [({"a": plugin(["t"], ["t"])}, 2, "'x y' is refused: Unknown command 'x y'"),
                ({"a": idle(["t"], ["t"])}, 2, "requirement cycle: a requires 't' from a"),
                ({"a": idle(["t"], ["u"]), "b": idle(["u"], ["t"])}, 2, "requirement cycle"),
                ({"a": idle(["t"], preemptive=True), "b": idle(["t"], preemptive=True)}, 2,
                 "tag 't' has 2 preemptive providers"),
                ({"a": idle(["t"], ["none"])}, 1, "requires tag 'none', which no plugin provides"),
                ({"a": '{\n "metadata": {\n  "provides": [,]'}, 2, "at line 3, column 16"),
                ({"a": '{"metadata": {"provides": [], "requires": ["t-ok", 7], "version": 1}, '
                       '"operations": {}}'}, 2, "metadata.requires[1]: 'i' is not a 'JsonString'")]
        for files, status, message in rows:
            with self.subTest(message):
                paths = [self.root.write(f"/p/{name}.json", text) for name, text in files.items()]
                found = self.analyze("verify", "--json", *paths, status=status)
                self.assertIn(message, "".join(f["message"] for f in found["errors"] +
                                               found["warnings"]))
                self.assertTrue(all(set(f) == {"file", "message"}
                                    for f in found["errors"] + found["warnings"]))
        self.boot({"a": plugin(["ta"]), "b": plugin(["tb"], ["ta"]), "c": plugin(["tc"], ["tb"])},
                  [], [])
        self.assertEqual([{"tag": "ta", "providers": ["a"], "requirers": ["b"]},
                          {"tag": "tb", "providers": ["b"], "requirers": ["c"]},
                          {"tag": "tc", "providers": ["c"], "requirers": []}],
                         self.analyze("tags", "--json"))
        for args, shown, hidden in [(("--around", "c"), ['"b"', '"c"'], ['"a"']),
                                    (("--around", "c", "--depth", "2"), ['"a"'], []),
                                    (("--no-kind-tags",), ['"ta"'], ['"json plugins"']),
                                    ((), ['"json plugins"'], [])]:
            with self.subTest(args):
                dot = self.analyze("dot", *args)
                for label in shown:
                    self.assertIn(label, dot)
                for label in hidden:
                    self.assertNotIn(label, dot)

    def test_completion(self):
        for name in ("net", "ntp"):
            self.root.write(f"{PLUGIN_DIR}/{name}.json", idle([name]))
        self.root.write("/files/sub/a.json", "")
        files = self.root.file("/files/s")
        rows = [(["dawnstep", "--plugin", files], [files + "ub"]),
                (["dawnstep", "--disable", "net,"], ["net,end-autoconf", "net,ntp"]),
                (["dawnstep-analyze", "why", "n"], ["net", "ntp"]),
                (["dawnstep-analyze", "simulate", "--"],
                 ["--duration", "--help", "--json", "--log", "--max-workers"]),
                (["dawnstep-analyze", "simulate", "--duration", "nt"], ["ntp="]),
                (["dawnstep-analyze", "trace", "-o", files], [files + "ub"]),
                (["dawnstep-analyze", "dot", "--around", "ne"], ["net"])]
        script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); f=_dawnstep; '
                  '[[ $1 == dawnstep-analyze ]] && f=_dawnstep_analyze; "$f" "$1"; '
                  'printf "%s\\n" "${COMPREPLY[@]}"')
        for words, expected in rows:
            with self.subTest(words):
                done = subprocess.run(["bash", "-c", script, "-", SOURCE_DIR + "/completion/dawnstep",
                                       *words], capture_output=True, text=True,
                                      env=dict(os.environ, DAWNSTEP_ROOT=self.root.path,
                                               PATH="/usr/bin:/bin"))
                self.assertEqual(expected, sorted(done.stdout.split()), done.stderr)


if __name__ == "__main__":
    main()
