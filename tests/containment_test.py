"""Nothing a plugin file, plugin code or the start-up state can do ends,
hangs or corrupts a boot."""
import json
import os
import random
import re
import shutil
import struct
import subprocess

import unittest

from harness import BINARY, NODES, PLUGIN_DIR, SANITIZED, TEST_PLUGINS, RootCase, main
from plugin_runs import commands, json_plugin, outcomes

OK = "Activating Dawnstep plugin hostile_ok."
# These runs crash on purpose: the sanitizer's signal handler would report
# from inside the dynamic loader's lock, which can hang; the signal itself
# ends the probe as in a plain build.
CRASHING = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") +
            ":symbolize=0:handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0:handle_sigill=0"}


STAMP = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}"
PROFILE_LINE = re.compile(rf"HVKernel Initialization Time: \d+|\[{STAMP} - {STAMP}\] sysboot: (.*)|"
                          rf"=== Dawnstep configuration info ===| Start: {STAMP}| End: {STAMP}")


def executable_segment(elf):
    """File offset and size of the executable loadable segment of an ELF64 file."""
    phoff, = struct.unpack_from("<Q", elf, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", elf, 0x36)
    for i in range(phnum):
        kind, flags, offset = struct.unpack_from("<IIQ", elf, phoff + i * phentsize)
        filesz, = struct.unpack_from("<Q", elf, phoff + i * phentsize + 32)
        if kind == 1 and flags & 1:
            return offset, filesz
    raise ValueError("no executable segment")


class ContainmentTest(RootCase):
    def install(self, *names):
        os.makedirs(self.root.file(PLUGIN_DIR), exist_ok=True)
        for name in names:
            shutil.copy(f"{TEST_PLUGINS}/hostile_{name}.so", self.root.file(PLUGIN_DIR))

    def test_libraries_that_would_end_the_loading_process_are_skipped(self):
        for name in ["provides_bad", "requires_bad", "required_flags_bad", "disabling_flags_bad",
                     "version_bad", "list_unended", "text_unended", "short_metadata", "metadata_unmapped",
                     "ctor_segv", "ctor_abort", "ctor_exit", "ctor__exit", "ctor_throw",
                     "dtor_segv"]:
            with self.subTest(name):
                self.setUp()
                self.install("ok", name)
                run = self.root.run(env=CRASHING)
                self.assertEqual(run.status, 0, run)
                self.assertIn(f"Skipping {self.root.file(PLUGIN_DIR)}/hostile_{name}.so: "
                              "Invalid plugin: ", run.err)
                self.assertIn(OK, self.root.node("log"))

    def test_damaged_copies_are_loaded_or_skipped(self):
        with open(f"{TEST_PLUGINS}/hostile_ok.so", "rb") as f:
            valid = f.read()
        code_start, code_size = executable_segment(valid)
        rng = random.Random(12)
        for boot in range(40):
            shutil.rmtree(self.root.file(PLUGIN_DIR), ignore_errors=True)
            for copy in range(8):
                data = bytearray(valid)
                for _ in range(rng.randint(1, 4)):
                    # Damaged code may run differently on every load, which
                    # no trial load can foresee: the damage spares it.
                    at = rng.randrange(len(data) - code_size)
                    data[at + code_size if at >= code_start else at] = rng.randrange(256)
                self.root.write(f"{PLUGIN_DIR}/d{copy}.so", bytes(data))
            run = self.root.run("--provides", "native plugins", timeout=60, env=CRASHING)
            self.assertEqual(run.status, 0, f"boot {boot}: {run}")
            for copy in range(8):
                loaded = f"d{copy}:" in run.out.split()
                skipped = f"{PLUGIN_DIR}/d{copy}.so: " in run.err
                self.assertNotEqual(loaded, skipped, f"boot {boot}, copy {copy}: {run}")

    def test_forked_plugin_process_does_not_answer(self):
        self.install("fork", "ok")
        run = self.root.run("--max-workers", "1")
        self.assertEqual(run.status, 0, run)
        # Only the worker goes on to report the entry's return.
        self.assertEqual((run.out + run.err).count("successfully for plugin hostile_fork"), 1, run)
        self.assertIn("Dawnstep plugin hostile_ok activated.", self.root.node("log"))

    def test_node_records_stay_on_their_nodes_when_plugin_code_takes_their_descriptors(self):
        self.install("hijack", "ok")
        run = self.root.run("--max-workers", "1")
        self.assertEqual(run.status, 0, run)
        self.assertIn("Applying start on plugin hostile_ok", self.root.node("log"))
        self.assertEqual(self.root.read("/taken"), "")

    def boot_beside(self, library, *args):
        """A run of native plugin `library` beside JSON plugins a, b, c and run-once plugin once."""
        os.makedirs(self.root.file("/var/log"))
        commands(self.root, "t", {"touch": ": >\"$DAWNSTEP_ROOT/${1#--name=}\""})
        for name in "abc":
            json_plugin(self.root, name, [f"t touch --name={name}"])
        json_plugin(self.root, "once", ["t touch --name=once"], run_once=True, plugin_version="1.0")
        # Runs last, so that it is handed to a worker after `library` ran.
        json_plugin(self.root, "z", ["t touch --name=z"], requires=["native plugins"])
        shutil.copy(f"{TEST_PLUGINS}/lib{library}.so", self.root.file(PLUGIN_DIR))
        run = self.root.run(*args)
        self.assertEqual(run.status, 0, run)
        return run

    def records(self):
        """The texts of every node's records, each line checked to be one."""
        texts = []
        for node in NODES.values():
            if not os.path.exists(self.root.file("/run/hkn/" + node)):
                continue
            with open(self.root.file("/run/hkn/" + node)) as f:
                for line in f:
                    record = json.loads(line)
                    self.assertEqual(["time", "pid", "text"], list(record), line)
                    texts.append(record["text"])
        return texts

    def test_plugin_code_that_writes_into_every_descriptor_corrupts_no_record(self):
        for library in ["junk_start", "junk_ctor", "junk_dtor"]:
            with self.subTest(library):
                self.setUp()
                run = self.boot_beside(library, "--max-workers", "2")
                others = {name: "activated" for name in ["a", "b", "c", "once", "z", "end-autoconf"]}
                texts = self.records()
                self.assertEqual(others, {name: outcome for name, outcome in outcomes(self, texts).items()
                                          if name != library})
                for name in others:
                    self.assertIn(f"Activating Dawnstep plugin {name}.", texts)
                self.assertIn("All dawnstep plugins activated", texts)
                lines = self.root.read("/var/log/sysboot.log").splitlines()
                self.assertEqual([True] * len(lines), [bool(PROFILE_LINE.fullmatch(line)) for line in lines], lines)
                recorded = [PROFILE_LINE.fullmatch(line)[1] for line in lines]
                self.assertTrue(set(others) <= set(recorded), lines)
                self.assertEqual("dawnstep.run-once=once1.0", self.root.read("/.runonce"))
                for name in others.keys() - {"end-autoconf"}:  # the built-in one has no command
                    self.assertIn(f"Applying start on plugin {name}", texts)
                    self.assertTrue(os.path.exists(self.root.file("/" + name)), name)
                if library == "junk_ctor":  # its junk in the probe's answers is no death of the probe
                    path = f"{self.root.file(PLUGIN_DIR)}/libjunk_ctor.so"
                    self.assertIn(f"Skipping {path}: Invalid plugin: {path}: the probe's answer", run.err)

    def test_plugins_that_put_another_pipe_in_place_of_their_workers(self):
        rows = [  # library, its outcome, the line the run shows for its worker
            ("swap_requests", "activated", None),
            ("swap_answers", "activation failed", "swap_answers: exited with code 1"),
        ]
        for library, outcome, line in rows:
            with self.subTest(library):
                self.setUp()
                run = self.boot_beside(library, "--max-workers", "1")
                expected = {name: "activated" for name in ["a", "b", "c", "once", "z", "end-autoconf"]}
                self.assertEqual(dict(expected, **{library: outcome}), outcomes(self, self.records()))
                self.assertEqual([line] if line else [], re.findall(f"(?m)^{library}: .*$", run.out), run)

    def test_programs_that_take_over_a_worker(self):
        rows = [  # shell run in place of the worker, what the run must show
            ("sleep 0.2; touch $DAWNSTEP_ROOT/done; exit 5", "hostile_exec: exited with code 5"),
            ("ls -l /proc/$$/fd/ > $DAWNSTEP_ROOT/fds", None),
        ]
        for shell, line in rows:
            with self.subTest(shell):
                self.setUp()
                self.install("exec")
                run = self.root.run(env={"HOSTILE_SHELL": shell})
                self.assertEqual(run.status, 0, run)
                if line:
                    self.assertIn(line, run.out)
                    self.assertTrue(os.path.exists(self.root.file("/done")))
                else:
                    fds = self.root.read("/fds")
                    self.assertNotIn("runonce", fds)
                    self.assertNotIn("sysboot", fds)

    def test_worker_that_ends_while_its_child_holds_its_pipes(self):
        self.install("orphan", "ok")
        # The child outlives the run's time-out: waiting for the pipes to close would fail.
        run = self.root.run("--max-workers", "1", timeout=20)
        self.assertEqual(run.status, 0, run)
        self.assertIn("hostile_orphan: exited with code 3", run.out)
        self.assertIn("Dawnstep plugin hostile_ok activated.", self.root.node("log"))

    def test_closed_standard_descriptors_are_not_reused(self):
        subprocess.run([BINARY, "--help"], env=dict(os.environ, DAWNSTEP_ROOT=self.root.path),
                       stdout=subprocess.DEVNULL, preexec_fn=lambda: os.close(2))
        self.assertEqual(self.root.read("/.runonce"), "")

    def test_plugin_files_that_are_not_regular_are_skipped(self):
        for name in ["fifo.json", "fifo.so"]:
            with self.subTest(name):
                self.setUp()
                os.mkfifo(self.root.file("/" + name))
                run = self.root.run("--plugin", self.root.file("/" + name), timeout=20)
                self.assertEqual(run.status, 0, run)
                self.assertIn(f"{name}: Invalid plugin: ", run.err)

    def test_listings_without_file_types_are_read(self):
        self.install("ok")
        os.symlink(f"{TEST_PLUGINS}/hostile_ok.so", self.root.file(f"{PLUGIN_DIR}/linked.so"))
        os.mkdir(self.root.file(f"{PLUGIN_DIR}/directory.so"))
        options = os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
        run = self.root.run("--provides", env={"LD_PRELOAD": f"{TEST_PLUGINS}/untyped_listing.so",
                                           "ASAN_OPTIONS": options})
        self.assertEqual(run.status, 0, run)
        self.assertIn("hostile_ok: ", run.out)
        # Links are not followed, and a directory is no plugin file.
        self.assertNotIn("linked", run.out + run.err)
        self.assertNotIn("directory", run.out + run.err)

    def test_integer_parameter_takes_one_sign(self):
        self.root.write("/usr/lib/corvane/orvocli/t.json", '{"namespace": "t", "commands": [{'
                        '"name": "c", "handler": "/bin/true", "parameters": '
                        '[{"name": "count", "type": "integer"}]}]}')
        self.root.write(f"{PLUGIN_DIR}/p.json", '{"metadata": {"provides": [], "requires": [], '
                        '"version": 1}, "operations": {"start": ["t c --count=+-5"]}}')
        run = self.root.run()
        self.assertIn("Invalid value '+-5' for parameter 'count': expected integer", run.out + run.err)

    @unittest.skipIf(SANITIZED, "the sanitizers' runtime needs descriptors of its own")
    def test_each_ready_plugin_tries_for_a_worker(self):
        paths = [self.root.write(f"/{name}.json", '{"metadata": {"provides": [], "requires": [], '
                                 '"version": 1}, "operations": {"start": ["t c"]}}') for name in "abc"]
        # Too few descriptors for a worker's pipes.
        run = self.root.run("-c", 'ulimit -n 6; exec "$0" "$@"', BINARY, "--plugin", ",".join(paths),
                            program="/bin/sh")
        self.assertEqual(run.err.count("Worker (0) "), 3, run)

    def test_prompt_shows_control_characters_escaped(self):
        self.root.write(f"{PLUGIN_DIR}/a\x1bb c.json", '{"metadata": {"provides": [], '
                        '"requires": [], "version": 1}, "operations": {"start": ["t c"]}}')
        run = self.root.run("--interactive", stdin="s")
        self.assertIn("a\\x1bb c", run.out)
        # Standard input that cannot be read answers nothing: the run goes on unprompted.
        run = self.root.run("-c", 'exec "$0" "$@" </', BINARY, "--interactive", program="/bin/sh", timeout=20)
        self.assertIn("Dawnstep plugin a\x1bb c activated.", self.root.node("log"))


if __name__ == "__main__":
    main()
