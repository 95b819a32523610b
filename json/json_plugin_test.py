"""JSON plugin files through the program: the line that skips each bad file,
what a good one becomes, and what its command lines do when it runs."""
import json
import os
import re
import shutil
import unittest

from harness import PLUGIN_DIR, SOURCE_DIR, Root, RootCase, main
from plugin_runs import commands, json_plugin, listing, outcomes

GONE = object()


def document(**changes):
    """The smallest valid file with members changed or GONE, found by name."""
    doc = {"metadata": {"provides": [], "requires": [], "version": 1}, "operations": {"start": []}}
    for key, value in changes.items():
        place = doc if key in doc else doc["operations" if key in ("start", "apply_host_profile") else "metadata"]
        if value is GONE:
            del place[key]
        else:
            place[key] = value
    return json.dumps(doc)


def kind(path, word):
    return f"'{path}' is not a '{word}'"


# File text -> the message it is skipped with; the earliest failing check wins.
BAD_FILES = [
    ("", kind("value", "JsonObject")),
    ('{"metadata": {', kind("value", "JsonObject")),
    ("[]", kind("value", "JsonObject")),
    (document(metadata=GONE, operations=GONE), kind('plugin["metadata"]', "JsonObject")),
    (document(metadata=[]), kind('plugin["metadata"]', "JsonObject")),
    (document(operations=GONE), kind('plugin["operations"]', "JsonObject")),
    (document(provides="a"), kind('meta["provides"]', "JsonArray")),
    (document(provides=["a", 1]), kind("i", "JsonString")),
    (document(requires=GONE), kind('meta["requires"]', "JsonArray")),
    (document(requires=[None]), kind("i", "JsonString")),
    (document(version=GONE), kind('meta["version"]', "JsonNumber")),
    (document(version="2"), kind('meta["version"]', "JsonNumber")),
    (document(version=6), "Unsupported API version: 6"),
    (document(version=0.5), "Unsupported API version: 0"),
    (document(version=1e12), "Unsupported API version: 2147483647"),
    (document(version=-3e9), "Unsupported API version: -2147483648"),
    (document(start=GONE), kind('ops["start"]', "JsonArray")),
    (document(start=["ok", True]), kind("i", "JsonString")),
    (document(version=2, apply_host_profile="x"), kind('ops["apply_host_profile"]', "JsonArray")),
    (document(version=2, apply_host_profile=[1]), kind("i", "JsonString")),
    (document(plugin_version=1), kind('meta["plugin_version"]', "JsonString")),
    (document(required_flags="x"), kind('meta["required_flags"]', "JsonArray")),
    (document(required_flags=[1]), kind("i", "JsonString")),
    (document(disabling_flags=[1]), kind("i", "JsonString")),
    (document(version=3), kind('meta["run_once"]', "JsonBool")),
    (document(run_once="yes"), kind('meta["run_once"]', "JsonBool")),
    (document(preemptive_provider="true"), kind('meta["preemptive_provider"]', "JsonBool")),
    (document(provides=[1], version=9), kind("i", "JsonString")),
    (document(version=9, start=GONE), "Unsupported API version: 9"),
]
# File name, text -> the plugin's provided and required tags.
GOOD_FILES = [
    ("minimal.json", document(), [], []),
    ("net.setup.json", document(provides=["a", "a", "b"], requires=["net"], version=2.9, plugin_version="1.4",
                                run_once=True, disabling_flags="no list", extra={"x": 1}), ["a", "b"], ["net"]),
    ("v1.json", document(apply_host_profile="ignored before version 2"), [], []),
    ("v5.json", document(version=5.99, run_once=False), [], []),
]


class JsonFiles(RootCase):
    def test_bad_files_are_skipped_with_their_message_and_good_ones_load(self):
        for number, (text, _) in enumerate(BAD_FILES):
            self.root.write(f"{PLUGIN_DIR}/bad{number:02}.json", text)
        for name, text, _, _ in GOOD_FILES:
            self.root.write(f"{PLUGIN_DIR}/{name}", text)
        provided, required = self.root.run("--provides="), self.root.run("--requires=")
        skips = re.findall(r"(?m)^Skipping .*/bad(\d+)\.json: (.*)$", provided.err)
        self.assertEqual([(f"{n:02}", message) for n, (_, message) in enumerate(BAD_FILES)], skips)
        self.assertEqual(["end-autoconf"] + sorted(name[:-5] for name, *_ in GOOD_FILES), list(listing(provided.out)))
        for name, _, provides, requires in GOOD_FILES:
            self.assertEqual(sorted(provides + ["json plugins"]), listing(provided.out)[name[:-5]])
            self.assertEqual(requires, listing(required.out)[name[:-5]])
        self.assertEqual("dawnstep.run-once=net.setup1.4", self.root.read("/.runonce"))


PLUGINS = {  # name -> start lines, host-profile lines, metadata
    "mixed": (["demo mark --name=mixed", "demo fail", "demo mark --name=mixed"], None, {}),
    "profiled": (["demo mark --name=profiled.start"], ["demo mark --name=profiled.profile"], {"version": 2}),
    "pre": (["demo mark --name=pre"], None, {"provides": ["pre"], "preemptive_provider": True}),
    "bad-line": (["demo mark --name='x"], None, {}),
    "empty": ([], None, {}),
}
USUAL = {"mixed": "activation failed", "profiled": "activated", "pre": "activated",
         "bad-line": "activation failed", "empty": "activated", "end-autoconf": "activated"}
FAILED = ["Method invocation failed: execute demo fail failed", "mixed: disk on fire", "mixed: exit status 4",
          "Method invocation failed: parse demo mark --name='x failed", "bad-line: Unterminated quote"]
# Arguments, host profile present -> outcomes unlike USUAL, marks left, failure records, kernel log lines.
RUNS = [
    ([], False, {}, ["mixed", "mixed", "pre", "profiled.start"], FAILED, ["Applying start on plugin profiled"]),
    ([], True, {}, ["mixed", "mixed", "pre", "profiled.profile"], FAILED,
     ["Applying apply_host_profile on plugin profiled"]),
    (["--dry"], True, {"mixed": "activated"}, [], FAILED[3:], ["Applying apply_host_profile on plugin profiled"]),
    (["--disable-preemptive-plugins"], False, {"pre": "opportunistic skipped"}, ["mixed", "mixed", "profiled.start"],
     FAILED, ["Applying start on plugin pre", "Plugin pre skipped."]),
]


class JsonActivation(unittest.TestCase):
    def install(self):
        self.root = Root()
        self.addCleanup(self.root.remove)
        os.makedirs(self.root.file("/var/log"))
        commands(self.root, "demo", {"mark": 'echo "${1#--name=}" >>"$DAWNSTEP_ROOT/ran"',
                                     "fail": "echo 'disk on fire' >&2; exit 4"})
        for name, (start, profile, metadata) in PLUGINS.items():
            json_plugin(self.root, name, start, profile, **metadata)

    def test_runs(self):
        for args, profile, changed, marks, failures, kernel in RUNS:
            with self.subTest(args=args, profile=profile):
                self.install()
                if profile:
                    self.root.write("/etc/corvane/hostprofile.xml", "")
                run = self.root.run(*args)
                self.assertEqual(0, run.status, run)
                self.assertEqual(dict(USUAL, **changed), outcomes(self, self.root.node("log") + self.root.node("alert")))
                self.assertEqual(marks, sorted(self.root.read("/ran").split() if marks else []))
                log = run.out if args == ["--dry"] else self.root.read("/var/log/dawnstep-orvocli-stdout.log")
                self.assertEqual(sorted(failures), sorted(re.findall(r" Cr\(2\) \S+: (.*)", log)))
                self.assertLessEqual(set(kernel), set(self.root.node("log")))
                if args == ["--dry"]:
                    self.assertEqual(sorted(f"{name}: start" for name in PLUGINS if name != "empty"),
                                     sorted(line for line in run.out.splitlines() if "Cr(2)" not in line))

    def test_timed_commands_log_one_line_each(self):
        self.install()
        self.assertEqual(0, self.root.run("--time-ops", "--plugin", "profiled.json").status)
        self.assertRegex(self.root.read("/var/log/dawnstep-orvocli-stdout.log"),
                         r"^\d+\.\d{6} orvocli demo mark --name=profiled.start\n$")


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
