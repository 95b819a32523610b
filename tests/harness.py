"""Whole-program test support: throw-away roots that DAWNSTEP_ROOT points at."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

BINARY = os.environ.get("DAWNSTEP_BINARY", "dawnstep")
ANALYZE = os.environ.get("DAWNSTEP_ANALYZE", "dawnstep-analyze")
TEST_PLUGINS = os.environ.get("DAWNSTEP_TEST_PLUGIN_DIR", "")
SOURCE_DIR = os.environ.get("DAWNSTEP_SOURCE_DIR", ".")
BUILD_DIR = os.environ.get("DAWNSTEP_BUILD_DIR", ".")
SANITIZED = os.environ.get("DAWNSTEP_SANITIZED") == "ON"

PLUGIN_DIR = "/usr/libexec/dawnstep/plugins"
COMMAND_DIR = "/usr/lib/corvane/orvocli"
NODES = {"log": "system.log", "alert": "system.sysAlert",
         "progress": "system.progressTerm.progressText", "status": "system.progressTerm.statusText"}


class Run:
    def __init__(self, status, out, err):
        self.status, self.out, self.err = status, out, err

    def __repr__(self):
        return f"status {self.status}\n--- stdout\n{self.out}--- stderr\n{self.err}"


class Root:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="dawnstep-test-")

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, fixed_path):
        return self.path + fixed_path

    def write(self, fixed_path, content, mode=0o644):
        path = self.file(fixed_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)
        os.chmod(path, mode)
        return path

    def read(self, fixed_path):
        with open(self.file(fixed_path), errors="replace") as f:
            return f.read()

    def node(self, name):
        """The texts of the records node `name` (a key of NODES) received, in order."""
        try:
            with open(self.file("/run/hkn/" + NODES[name])) as f:
                return [json.loads(line)["text"] for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def run(self, *args, program=None, stdin="", timeout=120, env=None):
        """A signal that ended the program shows as 128 plus its number, as a shell shows it."""
        environment = dict(os.environ, DAWNSTEP_ROOT=self.path, **(env or {}))
        done = subprocess.run([program or BINARY, *args], input=stdin.encode(), capture_output=True,
                              env=environment, timeout=timeout)
        status = done.returncode if done.returncode >= 0 else 128 - done.returncode
        return Run(status, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace"))


class RootCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.root = Root()
        self.addCleanup(self.root.remove)


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    unittest.main(verbosity=2)
