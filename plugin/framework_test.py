"""The plugin framework, the worker pool and the operator's prompt through the real program."""
import fcntl, json, os, pty, select, shutil, sys, termios, unittest  # noqa: E401

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from harness import BINARY, COMMAND_DIR, PLUGIN_DIR, TEST_PLUGINS, RootCase, main  # noqa: E402

# Each plugin's work appends its name to /ran; "--fail" makes it fail.
HANDLER = '#!/bin/sh\necho "${1#--name=}" >>"$DAWNSTEP_ROOT/ran"\n[ "$2" != --fail=true ]\n'
DESCRIPTOR = {"namespace": "t", "commands": [{"name": "run", "handler": "bin/run", "parameters": [
    {"name": "name"}, {"name": "fail", "type": "boolean"}]}]}


def plugin(provides=(), requires=(), fail=False, dir=PLUGIN_DIR, start=True, profile=False, **meta):
    """A JSON plugin, given its name: where its file goes and what it holds."""
    def document(name):
        operations = {"start": [f"t run --name={name}" + " --fail" * fail] * start,
                      **({"apply_host_profile": [f"t run --name={name}-profile"]} if profile else {})}
        return dir, {"metadata": {"provides": list(provides), "requires": list(requires), "version": 3,
                                  "run_once": False, **meta}, "operations": operations}
    return document


def lines(*short):  # node records: "+a" stands for a's activation line, "a skipped." for its outcome
    return [f"Activating Dawnstep plugin {s[1:]}." if s[0] == "+" else "Dawnstep plugin " + s for s in short]


class PluginRoot(RootCase):
    def install(self, plugins):
        self.root.write(COMMAND_DIR + "/t.json", json.dumps(DESCRIPTOR))
        self.root.write(COMMAND_DIR + "/bin/run", HANDLER, 0o755)
        for dir in ("/var/log", PLUGIN_DIR):
            os.makedirs(self.root.file(dir), exist_ok=True)
        for name, spec in plugins.items():  # None: a native test plugin
            if spec is None:
                shutil.copy(os.path.join(TEST_PLUGINS, f"lib{name}.so"), self.root.file(PLUGIN_DIR))
            else:
                dir, document = spec(name)
                self.root.write(f"{dir}/{name}.json", json.dumps(document))

    def ran(self):
        return self.root.read("/ran").split() if os.path.exists(self.root.file("/ran")) else []

    def log(self):
        return [line for line in self.root.node("log") if not line.startswith("Applying")]


class FrameworkTest(PluginRoot):
    def test_outcomes(self):
        rows = [  # plugins, arguments, exit status, log, alerts, standard output
            ({"a": plugin(["x"], fail=True), "b": plugin([], ["x"]), "sigkill": None, "exit7": None},
             ["--max-workers", "1"], 0,
             lines("+a", "+b", "b activated.", "+exit7", "+sigkill", "+end-autoconf", "end-autoconf activated."),
             lines("a activation failed.", "exit7 activation failed.", "sigkill activation failed."),
             "exit7: exited with code 7\nsigkill: exited with signal 9\n"),
            ({"a": plugin(["x"]), "b": plugin([], ["x"]), "e": plugin(start=False)}, ["--disable", "x,end-autoconf"], 0,
             lines("a skipped.", "e skipped.", "a skipped.", "e activated.", "+b", "b activated.",
                   "end-autoconf skipped.", "end-autoconf skipped."), [], ""),
            ({"p": plugin(["t"], preemptive_provider=True), "r": plugin(["t"]), "s": plugin([], ["t"]),
              "q": plugin(["u"], preemptive_provider=True, fail=True), "w": plugin(["u"])},
             ["--plugin", "p.json,q.json,r.json,s.json,w.json", "--max-workers", "1"], 0,
             lines("+p", "p activated.", "r skipped.", "+q", "q opportunistic activation failed.", "+s", "s activated.",
                   "+w", "w activated."), [], ""),
            ({"a": plugin(["y"], ["x"]), "b": plugin(["x"], ["y"])}, ["--plugin", "a.json,b.json"], 1, ["a b a "],
             ["Dawnstep has unmet dependencies!"], ""),
        ]
        for plugins, args, status, log, alerts, out in rows:
            with self.subTest(args=args, plugins=list(plugins)):
                self.setUp()
                self.install(plugins)
                run = self.root.run(*args)
                self.assertEqual((status, out, log, alerts), (run.status, run.out, self.log(), self.root.node("alert")),
                                 run)

    def test_loading_order_and_queries(self):
        self.install({"b": plugin(["net"], ["disk", "clock"]), "a": plugin(["disk"]), ".hidden": plugin(),
                      "0": plugin(dir=PLUGIN_DIR + "2"), "v1": None})
        self.root.write(PLUGIN_DIR + "/readme.txt", "")
        v1, everyone = "v1: disk,native plugins,net\n", "end-autoconf: json plugins,native plugins\na:\nb: clock,disk\n"
        for args, out in [(["--requires"], everyone + "v1: base\n0:\n"), (["--requires", "usb"], ""),
                          (["--requires", "disk"], "b: clock,disk\n"), (["--provides", "native plugins"], v1),
                          (["--provides", "disk"], "a: disk,json plugins\n" + v1),
                          (["--tags"], "base\nclock\ndisk\nnet\n")]:
            with self.subTest(args=args):
                run = self.root.run(*args)
                self.assertEqual((0, out, f"Skipping {self.root.file(PLUGIN_DIR)}/readme.txt: unknown type\n"),
                                 (run.status, run.out, run.err), run)

    def test_run_once_record(self):
        self.install({"a": plugin(run_once=True, plugin_version="1.0"), "b": plugin(run_once=True)})
        self.root.write("/.runonce", "stale")
        self.root.run("--disable", "a1.0")
        self.assertEqual(("dawnstep.run-once=a1.0,b", ["b"]), (self.root.read("/.runonce"), self.ran()))

    def test_host_profile_barrier_lifts_after_restore_on_stateless_boot(self):
        self.root.write("/stateless.tgz", "")
        self.root.write("/etc/corvane/hostprofile.xml", "")
        self.install({"early": plugin(profile=True), "restore-configuration": plugin(["restored"]),
                      "late": plugin([], ["restored"], profile=True)})
        self.root.run()
        self.assertEqual(["early", "restore-configuration", "late-profile"], self.ran())
        self.assertEqual(1, self.root.read("/var/log/dawnstep-orvocli-stdout.log").count(
            "Plugin tries to execute before host profile requirement.\n"))

    def test_boot_profile(self):
        self.install({"a": plugin(), "b": plugin()})
        self.root.write("/var/log/sysboot.log", "an old run\n" * 20)
        self.root.run()
        t = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}"
        self.assertRegex(self.root.read("/var/log/sysboot.log"), rf"^HVKernel Initialization Time: \d*000000\n"
                         rf"(\[{t} - {t}\] sysboot: (a|b|end-autoconf)\n){{3}}=== Dawnstep configuration info ===\n"
                         rf" Start: {t}\n End: {t}\n$")

    def test_end_of_autoconfiguration(self):
        store = "/var/lib/corvane/configstore.log"
        os.makedirs(self.root.file(store))
        self.root.run()
        error = self.root.file(store) + ": Is a directory"
        self.assertEqual([f"Failed to end autoconf: {error}", f"Failed to cleanup boot state: {error}",
                          f"Error settingup configstore mgmtd notifications: {error}"], self.root.node("log")[-4:-1])
        os.rmdir(self.root.file(store))
        self.root.run("--dry")
        self.assertFalse(os.path.exists(self.root.file(store)))
        self.root.run()
        self.assertEqual("EndAutoConf\nCleanupBootState\nEnableMgmtdNotification true\n", self.root.read(store))

def prompt_line(name, key=None):
    choices = [("(c)ontinue", 35), ("(e)xecute", 32), ("(t)roubleshoot", 33), ("(s)kip", 31)]
    return f"\x1b[36m{name}\x1b[0m: " + " ".join(
        f"\x1b[{color if key in (None, label[1]) else 37}m{label}\x1b[0m" for label, color in choices)


def console_is_virtual():
    try:
        with open("/dev/console", "rb") as console:
            return fcntl.ioctl(console, 0x5603, bytes(6)) is not None  # VT_GETSTATE
    except OSError:
        return False


@unittest.skipIf(console_is_virtual(), "an interactive run would switch this machine's display")
class PromptTest(PluginRoot):

    def screen_until(self, marker, start):
        while (at := self.screen.find(marker, start)) < 0:
            ready = select.select([self.master], [], [], 30)[0]  # EIO once the program and its shell are gone
            self.screen += os.read(self.master, 4096).decode() if ready else self.fail(repr(self.screen))
        return at + len(marker)

    def test_answers(self):
        for keys, prompted, ran in [("XE e e", "a b end-autoconf", "a b"), ("s e e", "a b end-autoconf", "b"),
                                    ("C", "a", "a b"), ("t e e", "a b end-autoconf", "a b")]:
            self.setUp()
            self.install({"a": plugin(["x"]), "b": plugin([], ["x"])})
            pid, self.master = pty.fork()
            if pid == 0:
                os.execve(BINARY, [BINARY, "--interactive", "--max-workers", "1"],
                          dict(os.environ, DAWNSTEP_ROOT=self.root.path))
            self.addCleanup(os.close, self.master)  # hangs up on whatever a failed check left running
            self.screen, at = "", 0
            for name, key in zip(prompted.split(), keys.split()):
                at = self.screen_until(prompt_line(name) + "\x1b[?25l", at)
                os.write(self.master, key.encode())
                at = self.screen_until("\r" + prompt_line(name, key[-1].lower()) + "\x1b[?25h\r\n", at)
                if key == "t":
                    self.screen_until("", at + 1)  # the shell's own prompt
                    os.write(self.master, b"echo shell-$((6*7)); exit\n")
                    at = self.screen_until("\x1b[2K", self.screen_until("shell-42", at))
            status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
            lflag = termios.tcgetattr(self.master)[3] & (termios.ICANON | termios.ECHO)  # left canonical, echoing
            self.assertEqual((0, termios.ICANON | termios.ECHO, len(prompted.split()), sorted(ran.split())),
                             (status, lflag, self.screen.count("\x1b[?25l"), sorted(self.ran())))

if __name__ == "__main__":
    main()
