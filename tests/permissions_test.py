"""What a boot leaves on a root is not writable by group or others, whatever
the umask; code that others could change is called out, at boot and by verify."""
import os
import shutil
import stat

from harness import PLUGIN_DIR, TEST_PLUGINS, RootCase, main
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


if __name__ == "__main__":
    main()
