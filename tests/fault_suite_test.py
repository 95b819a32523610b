"""Whole runs against broken roots, hostile plugin files and misbehaving plugin
code: whatever happens, every plugin gets one outcome, the run ends with
status 0, and the nodes and the boot profile hold whole records only."""
import json
import os
import re
import shutil
import tempfile

from harness import BINARY, COMMAND_DIR, PLUGIN_DIR, SANITIZED, TEST_PLUGINS, RootCase, main
from plugin_runs import commands, json_plugin, outcomes

FAILED, OK = "activation failed", "activated"
HANDLERS = {
    "touch": 'mkdir -p "$DAWNSTEP_ROOT/done" && : >"$DAWNSTEP_ROOT/done/${1#--name=}"',
    "kill": "kill -9 $PPID",  # the worker that started it
    "hold": "sleep 0.3",
    "shake": "main=$(sed -n 's/^PPid:\\s*//p' /proc/$PPID/status); for i in $(seq 300); do "
             "kill -STOP $main; kill -CONT $main; kill -WINCH $main; kill -CHLD $main; kill -URG $main; done",
    # The pipes of its worker, of the main process, its own error pipe and the output it was given;
    # then its own descriptors.
    "fds": 'out="$DAWNSTEP_ROOT/fds/${1#--name=}"; mkdir -p "${out%/*}"; given=$(readlink /proc/$$/fd/1); '
           'main=$(sed -n "s/^PPid:\\s*//p" /proc/$PPID/status); { for who in $PPID $main; do '
           'echo "$(ls /proc/$who/fd | wc -l) $(readlink /proc/$who/fd/* | grep pipe | tr "\\n" " ")"; '
           'done; echo "$(readlink /proc/$$/fd/2) $given"; } >"$out"; exec ls -l /proc/self/fd >"$out.own"',
}
# Library -> outcome, what the main process says about its worker.
CRASHES = [
    ("segfault", FAILED, "exited with (signal 11|code 1)" if SANITIZED else "exited with signal 11"),
    ("abort", FAILED, "exited with signal 6"),
    ("exit7", FAILED, "exited with code 7"),
    ("signal_kill", FAILED, "exited with signal 9"),
    ("signal_winch", OK, None),
    ("close_fds", FAILED, "exited with code 1"),
    ("scribble", FAILED, "invalid worker response"),
    ("throws", FAILED, None),
]


class FaultCase(RootCase):
    def setUp(self):
        super().setUp()
        os.makedirs(self.root.file("/var/log"))
        os.makedirs(self.root.file(PLUGIN_DIR))
        commands(self.root, "fault", HANDLERS)

    def plugin(self, name, command="touch", **tags):
        json_plugin(self.root, name, [f"fault {command} --name={name}" if command else "# filler"], **tags)

    def native(self, library, name=None):
        shutil.copy(f"{TEST_PLUGINS}/lib{library}.so", self.root.file(f"{PLUGIN_DIR}/lib{name or library}.so"))

    def check_run(self, run, expected, nodes=None):
        """Status 0, the outcomes `expected` plus the built-in plugin's, node records whole."""
        self.assertEqual(0, run.status, run)
        nodes, texts = nodes or self.root.file("/run/hkn"), []
        for file in os.listdir(nodes):
            with open(f"{nodes}/{file}") as f:
                text = f.read()
            self.assertTrue(text.endswith("\n"), file)
            for record in map(json.loads, text.splitlines()):
                self.assertRegex(record["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z$")
                self.assertIsInstance(record["pid"], int)
                texts.append(record["text"])
        self.assertEqual(dict(expected, **{"end-autoconf": OK}), outcomes(self, texts))

    def check_profile(self, names, maybe=()):
        stamp = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}"
        lines = self.root.read("/var/log/sysboot.log").splitlines()
        self.assertRegex(lines[0], r"^HVKernel Initialization Time: \d*000000$")
        self.assertRegex("\n".join(lines[-3:]), f"^=== Dawnstep configuration info ===\n Start: {stamp}\n End: {stamp}$")
        recorded = [re.fullmatch(rf"\[{stamp} - {stamp}\] sysboot: (.*)", line)[1] for line in lines[1:-3]]
        self.assertEqual(sorted(names + ["end-autoconf"]), sorted(name for name in recorded if name not in maybe))

    def done(self):
        return sorted(os.listdir(self.root.file("/done")))


class MisbehavingPluginCode(FaultCase):
    def test_each_crash_stays_in_its_worker(self):
        for library, _, _ in CRASHES:
            self.native(library)
        self.plugin("killer", "kill", provides=["killer"])
        self.plugin("after", requires=["killer", "native plugins"])
        expected = dict({library: outcome for library, outcome, _ in CRASHES}, killer=FAILED, after=OK)
        for limit in ["1", "-1"]:
            with self.subTest(max_workers=limit):
                shutil.rmtree(self.root.file("/run"), ignore_errors=True)
                run = self.root.run("--max-workers", limit)
                self.check_run(run, expected)
                # Workers that died took their records with them; one that ended
                # after its plugin returned (close_fds) left its record.
                self.check_profile(["signal_winch", "throws", "close_fds", "after"], maybe=["scribble"])
                self.assertEqual(["after"], self.done())
                for library, _, said in CRASHES + [("killer", FAILED, "exited with signal 9")]:
                    lines = [line for line in run.out.splitlines() if line.startswith(library + ": ")]
                    self.assertEqual(1 if said else 0, len(lines), run.out)
                    self.assertRegex(lines[0] if said else "", f"^{library}: {said}$" if said else "^$")


def read_only_run(case):
    """Runs the program with the root mounted read-only, the nodes apart."""
    nodes = tempfile.mkdtemp()
    case.addCleanup(shutil.rmtree, nodes)
    os.makedirs(case.root.file("/run/hkn"))
    script = 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && mount --bind "$2" "$1/run/hkn" && exec "$3"'
    run = case.root.run("-m", "--propagation", "private", "/bin/sh", "-c", script, "sh", case.root.path, nodes, BINARY,
                        program="/usr/bin/unshare")
    if run.status != 0 and "mount" in run.err:
        case.skipTest("no private mount namespace here")
    return run, nodes


LOGS = ["/.runonce", "/var/log/sysboot.log", "/var/log/dawnstep-stdout.log", "/var/log/dawnstep-orvocli-stdout.log",
        "/var/log/dawnstep-native-stdout.log"]
# Damage -> outcome of the JSON plugin, check of what the run left.
ROOTS = [
    (lambda case: [os.makedirs(case.root.file(path)) for path in LOGS], OK,
     lambda case, run: case.assertIn("v1: start ran", run.out)),
    (lambda case: os.rmdir(case.root.file("/var/log")), OK,
     lambda case, run: case.assertFalse(os.path.exists(case.root.file("/var/log")))),
    (lambda case: case.root.write("/run/hkn", "not a directory"), None,
     lambda case, run: (case.assertIn("Failed to set HKN node.", run.err), case.check_profile(["a", "native"]),
                        case.assertIn("EndAutoConf", case.root.read("/var/lib/corvane/configstore.log")))),
    (lambda case: case.root.write("/.runonce", "earlier"), FAILED,
     lambda case, run: (case.assertEqual("earlier", case.root.read("/.runonce")),
                        case.assertFalse(os.path.exists(case.root.file("/var/log/sysboot.log"))))),
]


class BrokenRoots(FaultCase):
    def test_damaged_roots(self):
        for number, (damage, outcome, check) in enumerate(ROOTS):
            with self.subTest(number):
                self.setUp()
                self.plugin("a")
                self.native("v1", "native")
                self.native("segfault", "crasher")
                damage(self)
                run, nodes = read_only_run(self) if outcome == FAILED else (self.root.run(), None)
                if outcome:
                    self.check_run(run, {"a": outcome, "native": OK, "crasher": FAILED}, nodes)
                self.assertEqual(outcome != FAILED, os.path.exists(self.root.file("/done/a")))
                check(self, run)


class HostilePluginFiles(FaultCase):
    def test_every_damaged_file_is_skipped_once_and_the_rest_run(self):
        valid = '{"metadata": {"provides": ["x"], "requires": [], "version": 1}, "operations": {"start": []}}'
        hostile = {"huge.json": '{"metadata": "' + "x" * (1 << 20) + '"}', "deep.json": "[" * 100000,
                   "deep-object.json": '{"metadata": {' + "{" * 5000 + "}", "nul.json": valid[:20] + "\0" + valid[21:],
                   "junk.so": b"\x7fELF" + os.urandom(4092), "empty.so": "", "noext": valid}
        for name, content in hostile.items():
            self.root.write(f"{PLUGIN_DIR}/{name}", content)
        self.plugin("good")
        self.native("v1", "native")
        os.symlink(self.root.file(f"{PLUGIN_DIR}/good.json"), self.root.file(f"{PLUGIN_DIR}/linked.json"))
        os.symlink("/nonexistent", self.root.file(f"{PLUGIN_DIR}/dangling.so"))
        os.makedirs(self.root.file(f"{PLUGIN_DIR}/directory.json"))
        self.root.write(f"{COMMAND_DIR}/deep.json", "[" * 100000)
        run = self.root.run()
        self.check_run(run, {"good": OK, "native": OK})
        self.assertEqual(["good"], self.done())
        paths = sorted(self.root.file(f"{PLUGIN_DIR}/{name}") for name in hostile)
        self.assertEqual(paths, re.findall(r"(?m)^Skipping (.*?): ", run.err))
        self.assertEqual(paths, [text[41:].split(": ")[0] for text in self.root.node("log")
                                 if text.startswith("exception occurred whilst loading plugin ")])


class BusyMainProcess(FaultCase):
    def test_signals_and_stops_while_it_waits(self):
        names = [f"shaker{i}" for i in range(3)] + [f"busy{i}" for i in range(20)]
        for name in names:
            self.plugin(name, "shake" if name.startswith("shaker") else "touch")
        json_plugin(self.root, "idle", [])  # nothing to start, yet recorded
        self.root.write("/var/log/sysboot.log", "an earlier boot\n" * 20)  # replaced, not appended to
        self.check_run(self.root.run("--max-workers", "6"), dict.fromkeys(names + ["idle"], OK))
        self.check_profile(names + ["idle"])
        self.assertEqual(sorted(names[3:]), self.done())


class Descriptors(FaultCase):
    def test_each_holds_only_its_own_and_none_grow(self):
        """Two workers take hundreds of activations between three probes."""
        # Holds a worker while the first fillers run, so the second is started
        # before the second probe whatever the machine's speed: a start later
        # on would count as growth.
        self.plugin("hold", "hold")
        self.plugin("probe0", "fds", provides=["p0"])
        self.plugin("probe1", "fds", provides=["p1"], requires=["a"])
        self.plugin("probe2", "fds", requires=["b"])
        for i in range(300):
            self.plugin(f"a{i}", None, provides=["a"], requires=["p0"])
            self.plugin(f"b{i}", None, provides=["b"], requires=["p1"])
        self.assertEqual(0, self.root.run("--max-workers", "2").status)
        counts = []
        for probe in ["probe0", "probe1", "probe2"]:
            lines = self.root.read(f"/fds/{probe}").splitlines()
            (worker, *workers), (main, *mains), (own, output) = map(str.split, lines)
            self.assertEqual((2, set()), (len(set(workers) - {own}), set(workers) - {own} - set(mains)))
            self.assertEqual(self.root.file("/var/log/dawnstep-orvocli-stdout.log"), output)
            counts.append((worker, main))
            fds = re.findall(r" (\d+) -> (\S+)", self.root.read(f"/fds/{probe}.own"))
            self.assertEqual(["0", "1", "2", "3"], [fd for fd, _ in fds])
            self.assertEqual(["/dev/null", self.root.file(f"/fds/{probe}.own")], [target for _, target in fds[:2]])
        # A worker's own descriptors do not depend on how many others exist.
        self.assertEqual((counts[0][0], counts[1]), (counts[1][0], counts[2]))

if __name__ == "__main__":
    main()
