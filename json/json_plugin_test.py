"""JSON plugin files through the program: the line that skips each bad file,
what a good file becomes, and what its command lines do when it runs."""
import copy
import json
import os
import re
import shutil
import unittest

from harness import COMMAND_DIR, PLUGIN_DIR, SOURCE_DIR, Root, RootCase, main

MINIMAL = {"metadata": {"provides": [], "requires": [], "version": 1}, "operations": {"start": []}}
GONE = object()


def document(**changes):
    """The minimal file with members changed ("metadata__version": 6) or removed (GONE)."""
    doc = copy.deepcopy(MINIMAL)
    for path, value in changes.items():
        *parents, last = path.split("__")
        place = doc
        for key in parents:
            place = place[key]
        if value is GONE:
            del place[last]
        else:
            place[last] = value
    return json.dumps(doc)


def kind(path, word):
    return f"'{path}' is not a '{word}'"


NOT_OBJECT = kind("value", "JsonObject")
# File text -> the message it is skipped with; the earliest failing check wins.
BAD_FILES = [
    ("", NOT_OBJECT),
    ("not json", NOT_OBJECT),
    ('{"metadata": {', NOT_OBJECT),
    ("{} {}", NOT_OBJECT),
    ('{"metadata": {"version": 1e400}}', NOT_OBJECT),
    ("[]", NOT_OBJECT),
    (document(metadata=GONE, operations=GONE), kind('plugin["metadata"]', "JsonObject")),
    (document(metadata=[]), kind('plugin["metadata"]', "JsonObject")),
    (document(operations=GONE), kind('plugin["operations"]', "JsonObject")),
    (document(metadata__provides=GONE), kind('meta["provides"]', "JsonArray")),
    (document(metadata__provides="a"), kind('meta["provides"]', "JsonArray")),
    (document(metadata__provides=["a", 1]), kind("i", "JsonString")),
    (document(metadata__requires=GONE), kind('meta["requires"]', "JsonArray")),
    (document(metadata__requires=[None]), kind("i", "JsonString")),
    (document(metadata__version=GONE), kind('meta["version"]', "JsonNumber")),
    (document(metadata__version="2"), kind('meta["version"]', "JsonNumber")),
    (document(metadata__version=6), "Unsupported API version: 6"),
    (document(metadata__version=0.5), "Unsupported API version: 0"),
    (document(metadata__version=-1), "Unsupported API version: -1"),
    (document(metadata__version=1e12), "Unsupported API version: 2147483647"),
    (document(metadata__version=-3e9), "Unsupported API version: -2147483648"),
    (document(operations__start=GONE), kind('ops["start"]', "JsonArray")),
    (document(operations__start={}), kind('ops["start"]', "JsonArray")),
    (document(operations__start=["ok", True]), kind("i", "JsonString")),
    (document(metadata__version=2, operations__apply_host_profile="x"),
     kind('ops["apply_host_profile"]', "JsonArray")),
    (document(metadata__version=2, operations__apply_host_profile=None),
     kind('ops["apply_host_profile"]', "JsonArray")),
    (document(metadata__version=2, operations__apply_host_profile=[1]), kind("i", "JsonString")),
    (document(metadata__plugin_version=1), kind('meta["plugin_version"]', "JsonString")),
    (document(metadata__required_flags="x"), kind('meta["required_flags"]', "JsonArray")),
    (document(metadata__required_flags=[1]), kind("i", "JsonString")),
    (document(metadata__disabling_flags=[1]), kind("i", "JsonString")),
    (document(metadata__version=3), kind('meta["run_once"]', "JsonBool")),
    (document(metadata__run_once="yes"), kind('meta["run_once"]', "JsonBool")),
    (document(metadata__preemptive_provider="true"), kind('meta["preemptive_provider"]', "JsonBool")),
    (document(metadata__provides=[1], metadata__version=9), kind("i", "JsonString")),
    (document(metadata__version=9, operations__start=GONE), "Unsupported API version: 9"),
    (document(operations__start=[1], metadata__plugin_version=1), kind("i", "JsonString")),
    (document(metadata__run_once=1, metadata__preemptive_provider=1), kind('meta["run_once"]', "JsonBool")),
]
# File name, text -> the plugin's provided and required tags.
GOOD_FILES = [
    ("minimal.json", document(), [], []),
    ("net.setup.json", document(metadata__provides=["a", "a", "b"], metadata__requires=["net"],
                                metadata__version=2.9, metadata__plugin_version="1.4",
                                metadata__run_once=True, metadata__disabling_flags="not a list",
                                extra={"ignored": 1}), ["a", "b"], ["net"]),
    ("v1.json", document(operations__apply_host_profile="ignored before version 2"), [], []),
    ("v5.json", document(metadata__version=5.99, metadata__run_once=False), [], []),
]


def listing(text):
    """name -> sorted tags, from the output of --provides or --requires."""
    records = (line.partition(":") for line in text.splitlines())
    return {name: sorted(filter(None, tags.strip().split(","))) for name, _, tags in records}


class JsonFiles(RootCase):
    def test_bad_files_are_skipped_with_their_message_and_good_ones_load(self):
        for number, (text, _) in enumerate(BAD_FILES):
            self.root.write(f"{PLUGIN_DIR}/bad{number:02}.json", text)
        for name, text, _, _ in GOOD_FILES:
            self.root.write(f"{PLUGIN_DIR}/{name}", text)
        provided, required = self.root.run("--provides="), self.root.run("--requires=")
        skips = [line for line in provided.err.splitlines() if line.startswith("Skipping ")]
        self.assertEqual(len(BAD_FILES), len(skips), provided.err)
        for number, (text, message) in enumerate(BAD_FILES):
            with self.subTest(text=text):
                self.assertIn(f"Skipping {self.root.file(PLUGIN_DIR)}/bad{number:02}.json: {message}", skips)
        self.assertEqual(["end-autoconf"] + [name[:-5] for name, *_ in sorted(GOOD_FILES)],
                         list(listing(provided.out)))
        for name, _, provides, requires in GOOD_FILES:
            with self.subTest(name=name):
                self.assertEqual(sorted(provides + ["json plugins"]), listing(provided.out)[name[:-5]])
                self.assertEqual(requires, listing(required.out)[name[:-5]])
        self.assertEqual("dawnstep.run-once=net.setup1.4", self.root.read("/.runonce"))


DEMO = {"namespace": "demo", "commands": [
    {"name": "mark", "handler": "bin/mark", "parameters": [{"name": "as"}]},
    {"name": "fail", "handler": "bin/fail"}]}
PLUGINS = {  # name -> start lines, more metadata, host-profile lines
    "mixed": (["demo mark --as=mixed", "demo fail", "demo mark --as=mixed"], {}, None),
    "profiled": (["demo mark --as=profiled.start"], {"version": 2}, ["demo mark --as=profiled.profile"]),
    "pre": (["demo mark --as=pre"], {"provides": ["pre"], "preemptive_provider": True}, None),
    "bad-line": (["demo mark --as='x"], {}, None),
    "empty": ([], {}, ["demo mark --as=never"]),
}
FAILED = ["Method invocation failed: execute demo fail failed", "mixed: disk on fire",
          "mixed: exit status 4", "Method invocation failed: parse demo mark --as='x failed",
          "bad-line: Unterminated quote"]
USUAL = {"mixed": "activation failed", "profiled": "activated", "pre": "activated",
         "bad-line": "activation failed", "empty": "activated", "end-autoconf": "activated"}
# Arguments, host profile present -> outcomes unlike USUAL, marks left, failure records, kernel log lines.
RUNS = [
    ([], False, {},
     ["mixed", "mixed", "pre", "profiled.start"], FAILED, ["Applying start on plugin profiled"]),
    ([], True, {}, ["mixed", "mixed", "pre", "profiled.profile"], FAILED,
     ["Applying apply_host_profile on plugin profiled"]),
    (["--dry"], True, dict(mixed="activated"), [], FAILED[3:],
     ["Applying apply_host_profile on plugin profiled"]),
    (["--disable-preemptive-plugins"], False, dict(pre="opportunistic skipped"),
     ["mixed", "mixed", "profiled.start"], FAILED, ["Applying start on plugin pre", "Plugin pre skipped."]),
]


class JsonActivation(unittest.TestCase):
    def install(self):
        self.root = Root()
        self.addCleanup(self.root.remove)
        os.makedirs(self.root.file("/var/log"))
        self.root.write(f"{COMMAND_DIR}/demo.json", json.dumps(DEMO))
        self.root.write(f"{COMMAND_DIR}/bin/mark", '#!/bin/sh\necho "${1#--as=}" >>"$DAWNSTEP_ROOT/ran"\n', 0o755)
        self.root.write(f"{COMMAND_DIR}/bin/fail", "#!/bin/sh\necho 'disk on fire' >&2\nexit 4\n", 0o755)
        for name, (start, meta, profile) in PLUGINS.items():
            doc = json.loads(document(operations__start=start, **{"metadata__" + k: v for k, v in meta.items()}))
            if profile:
                doc["operations"]["apply_host_profile"] = profile
            self.root.write(f"{PLUGIN_DIR}/{name}.json", json.dumps(doc))

    def outcomes(self):
        found = {}
        for text in self.root.node("log") + self.root.node("alert"):
            match = re.fullmatch(r"Dawnstep plugin (\S+) (.*)\.", text)
            if match and match[2] != "skipped":
                self.assertNotIn(match[1], found, text)
                found[match[1]] = match[2]
        return found

    def test_runs(self):
        for args, profile, outcomes, marks, failures, kernel in RUNS:
            with self.subTest(args=args, profile=profile):
                self.install()
                if profile:
                    self.root.write("/etc/corvane/hostprofile.xml", "")
                run = self.root.run(*args)
                self.assertEqual(0, run.status, run)
                self.assertEqual(dict(USUAL, **outcomes), self.outcomes())
                ran = self.root.read("/ran").split() if marks else []
                self.assertEqual(marks, sorted(ran))
                log = run.out if "--dry" in args else self.root.read("/var/log/dawnstep-orvocli-stdout.log")
                records = re.findall(r" Cr\(2\) \S+: (.*)", log)
                self.assertEqual(sorted(failures), sorted(records))
                for line in kernel:
                    self.assertIn(line, self.root.node("log"))
                if "--dry" in args:
                    self.assertEqual(["bad-line: start", "mixed: start", "pre: start", "profiled: start"],
                                     sorted(line for line in run.out.splitlines() if "Cr(2)" not in line))

    def test_timed_commands_log_one_line_each(self):
        self.install()
        self.assertEqual(0, self.root.run("--time-ops", "--plugin", "profiled.json").status)
        self.assertRegex(self.root.read("/var/log/dawnstep-orvocli-stdout.log"),
                         r"^\d+\.\d{6} orvocli demo mark --as=profiled.start\n$")


class ExampleRoot(RootCase):
    def test_the_sample_root_loads_and_runs(self):
        shutil.copytree(f"{SOURCE_DIR}/examples/root", self.root.path, dirs_exist_ok=True)
        run = self.root.run()
        self.assertEqual((0, ""), (run.status, run.err))
        self.assertEqual(["Dawnstep plugin local-volume activation failed."], self.root.node("alert"))
        self.assertEqual("host01.lab.example\n", self.root.read("/etc/hostname"))
        self.assertEqual("dawnstep.run-once=ssh-host-keys2.1", self.root.read("/.runonce"))


if __name__ == "__main__":
    main()
