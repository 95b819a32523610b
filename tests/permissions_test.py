"""What a boot leaves on a root is not writable by group or others, whatever
the umask; code that others could change is called out, at boot and by verify."""
import json
import os
import shutil
import stat

from harness import ANALYZE, COMMAND_DIR, PLUGIN_DIR, TEST_PLUGINS, RootCase, main
from plugin_runs import commands, json_plugin

CREATED = ["/.runonce", "/run", "/run/hkn", "/var/lib", "/var/lib/corvane", "/var/lib/corvane/configstore.log",
           "/var/log/sysboot.log", "/var/log/dawnstep-stdout.log", "/var/log/dawnstep-orvocli-stdout.log",
           "/var/log/dawnstep-native-stdout.log"] + [f"/run/hkn/system.{node}" for node in [
               "log", "sysAlert", "progressTerm.progressText", "progressTerm.statusText"]]


class PermissionsTest(RootCase):
    def install(self):
        os.makedirs(self.root.file("/var/log"))
        commands(self.root, "t", {"run": "echo ran"})
        json_plugin(self.root, "j", ["t run --name=j"])
        shutil.copy(f"{TEST_PLUGINS}/libv3.so", self.root.file(PLUGIN_DIR))  # fails, so the alert node is written

    def modes(self):
        found = {}
        for dir, subdirs, files in os.walk(self.root.path):
            for name in subdirs + files:
                path = os.path.join(dir, name)
                found[path[len(self.root.path):]] = stat.S_IMODE(os.lstat(path).st_mode)
        return found

    def test_created_modes(self):
        rows = [  # umask, paths made beforehand with their modes
            (0o000, {}),
            (0o077, {}),
            (0o000, {"/.runonce": 0o600, "/var/log/sysboot.log": 0o666, "/run/hkn/system.log": 0o640}),
        ]
        for umask, existing in rows:
            with self.subTest(umask=oct(umask), existing=existing):
                self.setUp()
                self.install()
                for path, mode in existing.items():
                    self.root.write(path, "", mode)
                before = self.modes()
                old = os.umask(umask)
                try:
                    run = self.root.run()
                finally:
                    os.umask(old)
                after = self.modes()
                created = {path: mode for path, mode in after.items() if path not in before}
                want = {path: (0o644 if "." in path else 0o755) & ~umask for path in CREATED if path not in before}
                want.update(existing)
                kept = {path: after[path] for path in existing}
                octal = lambda modes: {path: f"{mode:04o}" for path, mode in modes.items()}  # noqa: E731
                self.assertEqual((0, octal(want)), (run.status, octal(dict(created, **kept))), run)

    def test_code_writable_by_others(self):
        rows = [  # kind, path, mode; kind None: nothing to report
            ("plugin directory", PLUGIN_DIR, 0o777),
            ("plugin directory", PLUGIN_DIR, 0o1777),  # anyone may still add a plugin
            (None, PLUGIN_DIR, 0o775),
            (None, PLUGIN_DIR + "2", 0o1775),
            ("plugin file", PLUGIN_DIR + "/j.json", 0o646),
            ("plugin file", PLUGIN_DIR + "/j.json", 0o602),
            (None, PLUGIN_DIR + "/j.json", 0o664),
            ("plugin file", PLUGIN_DIR + "/libv2_null_start.so", 0o757),
            (None, PLUGIN_DIR + "/libv2_null_start.so", 0o775),
            ("command directory", COMMAND_DIR, 0o1777),
            ("command descriptor", COMMAND_DIR + "/t.json", 0o666),
            (None, COMMAND_DIR + "/t.json", 0o444),
            ("command handler", COMMAND_DIR + "/bin/run", 0o777),
            (None, COMMAND_DIR + "/bin/run", 0o775),
        ]
        for kind, path, mode in rows:
            with self.subTest(path=path, mode=oct(mode)):
                self.setUp()
                os.makedirs(self.root.file("/var/log"))
                os.makedirs(self.root.file(PLUGIN_DIR + "2"))
                commands(self.root, "t", {"run": 'echo >"$DAWNSTEP_ROOT/ran"'})
                json_plugin(self.root, "j", ["t run --name=j"])
                shutil.copy(f"{TEST_PLUGINS}/libv2_null_start.so", self.root.file(PLUGIN_DIR))
                os.chmod(self.root.file(path), mode)
                message = [f"{kind} {self.root.file(path)} is writable by others"] if kind else []
                boot = self.root.run()
                warnings = [line.partition("]: ")[2] for line in boot.out.splitlines() if " Wa(4) " in line]
                activated = [text for text in self.root.node("log") if text.endswith(" activated.")]
                self.assertEqual((0, message, message, 3, True),
                                 (boot.status, warnings, self.root.node("alert"), len(activated),
                                  os.path.exists(self.root.file("/ran"))), boot)
                text, listed = self.root.run("verify", program=ANALYZE), self.root.run("verify", "--json", program=ANALYZE)
                errors = [line[len("error: "):] for line in text.out.splitlines() if line.startswith("error: ")]
                self.assertEqual((2 if kind else 0, message, [{"file": self.root.file(path), "message": m} for m in message]),
                                 (text.status, errors, json.loads(listed.out)["errors"]), (text, listed))


if __name__ == "__main__":
    main()
