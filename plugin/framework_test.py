"""The plugin framework through the real program: outcome lines, loading
order, queries, run-once record, host-profile barrier, boot profile and the
built-in plugin."""
import fcntl
import json
import os
import pty
import select
import shutil
import signal
import sys
import termios
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from harness import BINARY, COMMAND_DIR, PLUGIN_DIR, TEST_PLUGINS, RootCase, main  # noqa: E402

# Each plugin's work appends its name to /ran; "fail" makes it fail.
HANDLER = '#!/bin/sh\necho "${1#--name=}" >>"$DAWNSTEP_ROOT/ran"\n[ "$2" != --fail=true ]\n'
DESCRIPTOR = {"namespace": "t", "commands": [{"name": "run", "handler": "bin/run", "parameters": [
    {"name": "name"}, {"name": "fail", "type": "boolean"}]}]}


def plugin(provides=(), requires=(), fail=False, dir=PLUGIN_DIR, start=None, **meta):
    """A JSON plugin file, as (directory, metadata, operations)."""
    return dir, dict(provides=list(provides), requires=list(requires), version=meta.pop("version", 3),
                     run_once=meta.pop("run_once", False), **meta), start, fail


class PluginRoot(RootCase):
    def install(self, plugins):
        self.root.write(COMMAND_DIR + "/t.json", json.dumps(DESCRIPTOR))
        self.root.write(COMMAND_DIR + "/bin/run", HANDLER, 0o755)
        os.makedirs(self.root.file("/var/log"), exist_ok=True)
        for name, spec in plugins.items():
            if name.endswith(".so"):
                os.makedirs(self.root.file(PLUGIN_DIR), exist_ok=True)
                shutil.copy(os.path.join(TEST_PLUGINS, name), self.root.file(PLUGIN_DIR))
                continue
            dir, meta, start, fail = spec
            command = f"t run --name={name}" + (" --fail" if fail else "")
            operations = {"start": [command] if start is None else start}
            if "profile" in meta:
                operations["apply_host_profile"] = [f"t run --name={name}-{meta.pop('profile')}"]
            self.root.write(f"{dir}/{name}.json", json.dumps({"metadata": meta, "operations": operations}))

    def ran(self):
        return self.root.read("/ran").split() if os.path.exists(self.root.file("/ran")) else []

    def log(self):
        return [line for line in self.root.node("log") if not line.startswith("Applying")]


class FrameworkTest(PluginRoot):
    def test_outcomes(self):
        killer = "libsigkill.so"
        rows = [  # plugins, arguments, status, log, alerts, standard output
            ({"a": plugin(["x"], fail=True), "b": plugin([], ["x"]), killer: None, "libexit7.so": None},
             ["--max-workers", "1"], 0,
             ["Activating Dawnstep plugin a.", "Activating Dawnstep plugin b.", "Dawnstep plugin b activated.",
              "Activating Dawnstep plugin exit7.", "Activating Dawnstep plugin sigkill.",
              "Activating Dawnstep plugin end-autoconf.", "Dawnstep plugin end-autoconf activated."],
             ["Dawnstep plugin a activation failed.", "Dawnstep plugin exit7 activation failed.",
              "Dawnstep plugin sigkill activation failed."],
             "exit7: exited with code 7\nsigkill: exited with signal 9\n"),
            ({"a": plugin(["x"]), "b": plugin([], ["x"]), "e": plugin(start=[])}, ["--disable", "x,end-autoconf"], 0,
             ["Dawnstep plugin a skipped.", "Dawnstep plugin e skipped.", "Dawnstep plugin a skipped.",
              "Dawnstep plugin e activated.", "Activating Dawnstep plugin b.", "Dawnstep plugin b activated.",
              "Dawnstep plugin end-autoconf skipped.", "Dawnstep plugin end-autoconf skipped."], [], ""),
            ({"p": plugin(["t"], preemptive_provider=True), "r": plugin(["t"]), "s": plugin([], ["t"])},
             ["--plugin", "p.json,r.json,s.json"], 0,
             ["Activating Dawnstep plugin p.", "Dawnstep plugin p activated.", "Dawnstep plugin r skipped.",
              "Activating Dawnstep plugin s.", "Dawnstep plugin s activated."], [], ""),
            ({"p": plugin(["t"], preemptive_provider=True, fail=True), "r": plugin(["t"])},
             ["--plugin", "p.json,r.json"], 0,
             ["Activating Dawnstep plugin p.", "Dawnstep plugin p opportunistic activation failed.",
              "Activating Dawnstep plugin r.", "Dawnstep plugin r activated."], [], ""),
            ({"a": plugin(["y"], ["x"]), "b": plugin(["x"], ["y"])}, ["--plugin", "a.json,b.json"], 1,
             ["a b a "], ["Dawnstep has unmet dependencies!"], ""),
        ]
        for plugins, args, status, log, alerts, out in rows:
            with self.subTest(args=args, plugins=list(plugins)):
                self.setUp()
                self.install(plugins)
                run = self.root.run(*args)
                self.assertEqual((status, out, log, alerts),
                                 (run.status, run.out, self.log(), self.root.node("alert")), run)

    def test_loading_order_and_queries(self):
        self.install({"b": plugin(["net"], ["disk", "clock"]), "a": plugin(["disk"]), ".hidden": plugin(),
                      "0": plugin(dir=PLUGIN_DIR + "2"), "libv1.so": None})
        self.root.write(PLUGIN_DIR + "/readme.txt", "")
        rows = [(["--requires"], "end-autoconf: json plugins,native plugins\na:\nb: clock,disk\nv1: base\n0:\n"),
                (["--requires", "disk"], "b: clock,disk\n"), (["--provides", "disk"], "a: disk,json plugins\nv1: disk,native plugins,net\n"),
                (["--provides", "native plugins"], "v1: disk,native plugins,net\n"), (["--requires", "usb"], ""),
                (["--tags"], "base\nclock\ndisk\nnet\n")]
        for args, out in rows:
            with self.subTest(args=args):
                run = self.root.run(*args)
                self.assertEqual((0, out), (run.status, run.out), run)
                self.assertEqual(f"Skipping {self.root.file(PLUGIN_DIR)}/readme.txt: unknown type\n", run.err)

    def test_run_once_record(self):
        self.install({"a": plugin(run_once=True, plugin_version="1.0"), "b": plugin(run_once=True)})
        self.root.write("/.runonce", "stale")
        self.root.run("--disable", "a1.0")
        self.assertEqual("dawnstep.run-once=a1.0,b", self.root.read("/.runonce"))
        self.assertEqual(["b"], self.ran())

    def test_host_profile_barrier_lifts_after_restore_on_stateless_boot(self):
        self.root.write("/stateless.tgz", "")
        self.root.write("/etc/corvane/hostprofile.xml", "")
        self.install({"early": plugin(profile="profile"), "restore-configuration": plugin(["restored"]),
                      "late": plugin([], ["restored"], profile="profile")})
        self.root.run()
        self.assertEqual(["early", "restore-configuration", "late-profile"], self.ran())
        self.assertEqual(1, self.root.read("/var/log/dawnstep-orvocli-stdout.log").count(
            "Plugin tries to execute before host profile requirement.\n"))

    def test_boot_profile(self):
        self.install({"a": plugin(), "b": plugin()})
        self.root.write("/var/log/sysboot.log", "an old run\n" * 20)
        self.root.run()
        stamp = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}"
        lines = [rf"\[{stamp} - {stamp}\] sysboot: " + name for name in ("(a|b)", "(a|b)", "end-autoconf")]
        pattern = "\n".join([r"HVKernel Initialization Time: \d*000000", *lines,
                             "=== Dawnstep configuration info ===", f" Start: {stamp}", f" End: {stamp}\n"])
        self.assertRegex(self.root.read("/var/log/sysboot.log"), "^" + pattern + "$")

    def test_end_of_autoconfiguration(self):
        store = "/var/lib/corvane/configstore.log"
        for args, broken, calls in [([], False, "EndAutoConf\nCleanupBootState\nEnableMgmtdNotification true\n"),
                                    (["--dry"], False, None), ([], True, None)]:
            with self.subTest(args=args, broken=broken):
                self.setUp()
                if broken:
                    os.makedirs(self.root.file(store))
                run = self.root.run(*args)
                error = self.root.file(store) + ": Is a directory"
                failures = [f"Failed to end autoconf: {error}", f"Failed to cleanup boot state: {error}",
                            f"Error settingup configstore mgmtd notifications: {error}"] if broken else []
                self.assertEqual((0, ["Activating Dawnstep plugin end-autoconf.", *failures,
                                      "Dawnstep plugin end-autoconf activated."]), (run.status, self.log()), run)
                if not broken:
                    self.assertEqual(calls, self.root.read(store) if os.path.exists(self.root.file(store)) else None)


def prompt_line(name, key=None):
    choices = [("(c)ontinue", 35), ("(e)xecute", 32), ("(t)roubleshoot", 33), ("(s)kip", 31)]
    return f"\x1b[36m{name}\x1b[0m: " + " ".join(
        f"\x1b[{color if key in (None, label[1]) else 37}m{label}\x1b[0m" for label, color in choices)


def end_group(pid):
    """Ends what a failed check left running: the program, its workers, its shell."""
    try:
        os.killpg(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    except OSError:
        pass


def console_is_virtual():
    try:
        with open("/dev/console", "rb") as console:
            fcntl.ioctl(console, 0x5603, bytes(6))  # VT_GETSTATE
            return True
    except OSError:
        return False


@unittest.skipIf(console_is_virtual(), "an interactive run would switch this machine's display")
class PromptTest(PluginRoot):
    """The operator's prompt on a pseudo-terminal; one answer typed per prompt."""

    def screen_until(self, marker, start):
        while (at := self.screen.find(marker, start)) < 0:
            self.assertTrue(select.select([self.master], [], [], 60)[0], f"waiting for {marker!r}: {self.screen!r}")
            try:
                self.screen += os.read(self.master, 4096).decode()
            except OSError:  # the terminal hung up: every writer is gone
                self.fail(f"no {marker!r} in {self.screen!r}")
        return at + len(marker)

    def test_answers(self):
        shell = "echo shell-$((6*7)); exit\n"
        for keys, prompted, ran in [("XE e e", "a b end-autoconf", "a b"), ("s e e", "a b end-autoconf", "b"),
                                    ("C", "a", "a b"), ("t e e", "a b end-autoconf", "a b")]:
            with self.subTest(keys=keys):
                self.setUp()
                self.install({"a": plugin(["x"]), "b": plugin([], ["x"])})
                pid, self.master = pty.fork()
                if pid == 0:
                    attributes = termios.tcgetattr(1)
                    attributes[1] &= ~termios.OPOST  # the screen gets exactly the bytes written
                    termios.tcsetattr(1, termios.TCSANOW, attributes)
                    os.execve(BINARY, [BINARY, "--interactive", "--max-workers", "1"],
                              dict(os.environ, DAWNSTEP_ROOT=self.root.path))
                self.addCleanup(os.close, self.master)
                self.addCleanup(end_group, pid)
                self.screen, at = "", 0
                for name, key in zip(prompted.split(), keys.split()):
                    at = self.screen_until(prompt_line(name) + "\x1b[?25l", at)
                    os.write(self.master, key.encode())
                    at = self.screen_until("\r" + prompt_line(name, key[-1].lower()) + "\x1b[?25h\n", at)
                    if key == "t":
                        while len(self.screen) == at:  # the shell's own prompt
                            self.screen_until("", at + 1)
                        os.write(self.master, shell.encode())
                        at = self.screen_until("\x1b[2K", self.screen_until("shell-42", at))
                self.assertEqual(0, os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
                lflag = termios.tcgetattr(self.master)[3]
                self.assertEqual(termios.ICANON | termios.ECHO, lflag & (termios.ICANON | termios.ECHO))
                self.assertEqual(len(prompted.split()), self.screen.count("\x1b[?25l"))
                self.assertEqual(sorted(ran.split()), sorted(self.ran()))
                self.assertIn("Dawnstep plugin end-autoconf activated.", self.log())

    def test_end_of_input_continues_unasked(self):
        self.install({"a": plugin(["x"]), "b": plugin([], ["x"])})
        run = self.root.run("--interactive")
        self.assertEqual((0, prompt_line("a") + "\x1b[?25l\r" + prompt_line("a", "c") + "\x1b[?25h\n"),
                         (run.status, run.out), run)
        self.assertEqual(["a", "b"], self.ran())


if __name__ == "__main__":
    main()
