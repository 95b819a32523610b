"""Native plugin libraries through the program: what each library of the
contract becomes or the line that skips it, and what its entries do."""
import os
import re
import shutil
import struct

from harness import PLUGIN_DIR, TEST_PLUGINS, RootCase, main
from plugin_runs import commands, json_plugin, listing, outcomes

SHORTER = "file is shorter than its loadable segments"


def library(name):
    with open(f"{TEST_PLUGINS}/lib{name}.so", "rb") as f:
        return f.read()


def load_end(data):
    """Where the last loadable segment of an ELF library ends."""
    table, count = struct.unpack_from("<Q", data, 32)[0], struct.unpack_from("<H", data, 56)[0]
    segments = [struct.unpack_from("<IIQQQQ", data, table + 56 * i) for i in range(count)]
    return max(offset + size for kind, _, offset, _, _, size in segments if kind == 1)


def elf(entry_size, offset, size):
    """An ELF header with one loadable segment of `size` file bytes at `offset`."""
    header = bytearray(library("v1")[:64])
    struct.pack_into("<QQ", header, 32, 64, 0)
    struct.pack_into("<HH", header, 54, entry_size, 1)
    return bytes(header) + struct.pack("<IIQQQQQQ", 1, 5, offset, 0, 0, size, size, 4096)


# File, bytes -> (name, provided tags, required tags), or the skip message (None: the dynamic loader's own).
LOADS = [
    ("libv1.so", library("v1"), ("v1", ["disk", "net"], ["base"])),
    ("libnet-setup.so", library("v1_short"), ("net-setup", [], [])),
    ("net.setup.so", library("v1_short"), ("net.setup", [], [])),
    ("lib.so", library("v1_short"), ("", [], [])),
    ("libv2_null_start.so", library("v2_null_start"), ("v2_null_start", [], [])),
    ("libv3.so", library("v3"), ("v3", ["time"], [])),
    ("libv4.so", library("v4"), ("v4", ["storage"], ["net"])),
    ("libv5.so", library("v5"), ("v5", ["net"], [])),
    ("libexact.so", library("v5")[:load_end(library("v5"))], ("exact", ["net"], [])),
    ("libshort.so", library("v5")[:load_end(library("v5")) - 1], SHORTER),
    ("libfar.so", elf(56, 1 << 20, 16), SHORTER),
    ("libentry.so", elf(32, 1 << 20, 16), None),
    ("libatend.so", elf(56, 64 + 56, 0), None),
    ("libtext.so", b"A text file, not a library.\n", None),
    ("libno_metadata.so", library("no_metadata"), "missing 'metadata'"),
    ("libno_operations.so", library("no_operations"), "missing 'operations'"),
    ("libversion0.so", library("version0"), "Unsupported API version: 0"),
    ("libversion6.so", library("version6"), "Unsupported API version: 6"),
    # Data of a library loaded before it, so only after that library.
    ("libanswer.so", library("answer"), ("answer", ["answer"], [])),
    ("libanswer_used.so", library("answer_used"), ("answer_used", [], ["answer"])),
    ("libaa.so", library("answer_used"), "undefined symbol: shared_answer"),
]


class NativeLoading(RootCase):
    def test_each_library_loads_as_its_metadata_says_or_is_skipped(self):
        for file, data, _ in LOADS:
            self.root.write(f"{PLUGIN_DIR}/{file}", data)
        provided, required = self.root.run("--provides="), self.root.run("--requires=")
        skips = dict(re.findall(r"(?m)^Skipping .*/(.*?): (?:Invalid plugin: /.*?: )?(.*)$", provided.err))
        loaded = {name: (tags, listing(required.out)[name]) for name, tags in listing(provided.out).items()}
        for file, _, expected in LOADS:
            with self.subTest(file=file):
                if isinstance(expected, tuple):
                    self.assertEqual((sorted(expected[1] + ["native plugins"]), expected[2]), loaded.pop(expected[0]))
                else:
                    reason = skips.pop(file)
                    self.assertEqual(expected, reason if expected or reason == SHORTER else None)
        self.assertEqual(({}, ["end-autoconf"]), (skips, list(loaded)))
        self.assertEqual("dawnstep.run-once=v3,v44.1", self.root.read("/.runonce"))


CONTRACT = ["v1", "v1_short", "v2_null_start", "v3", "v4", "v5", "throws"]
JSON = {  # name -> start lines, host-profile lines, metadata
    "mixed": (["demo mark --name=mixed", "demo fail", "demo mark --name=mixed"], None, {}),
    "profiled": (["demo mark --name=profiled.start"], ["demo mark --name=profiled.profile"], {"version": 2}),
    "pre": (["demo mark --name=pre"], None, {"provides": ["pre"], "preemptive_provider": True}),
    "bad-line": (["demo mark --name='x"], None, {}),
    "empty": ([], None, {}),
}
USUAL = {"v1": "skipped", "v1_short": "activated", "v2_null_start": "activated", "v3": "activation failed",
         "v4": "activated", "v5": "activated", "throws": "activation failed", "mixed": "activation failed",
         "profiled": "activated", "pre": "activated", "bad-line": "activation failed", "empty": "activated",
         "end-autoconf": "activated"}
FAILED = ["Method invocation failed: execute demo fail failed", "mixed: disk on fire", "mixed: exit status 4",
          "Method invocation failed: parse demo mark --name='x failed", "bad-line: Unterminated quote"]
# Arguments, host profile present -> outcomes unlike USUAL, marks the JSON plugins left, their failure
# records, lines the node log and the native plugins' log have, texts they lack.
RUNS = [
    ([], False, {}, ["mixed", "mixed", "pre", "profiled.start"], FAILED,
     ["v1_short: start ran", "Method start executed successfully for plugin v2_null_start", "v3: start ran",
      "Plugin v3 failed Invoking method start (rc=3)", "v4: start ran", "v5: start ran",
      "Plugin throws failed Invoking method start - start blew up" + "!" * 300,
      "Applying start on plugin profiled"],
     ["v1: start ran", "Applying start on plugin v2_null_start"]),
    (["--disable-preemptive-plugins"], True, {"v1": "activated", "v5": "opportunistic skipped",
                                              "pre": "opportunistic skipped"}, ["mixed", "mixed", "profiled.profile"],
     FAILED, ["v1: start ran", "v2_null_start: apply_host_profile ran", "v3: start ran", "v4: apply_host_profile ran",
              "Plugin v5 skipped.", "Plugin throws failed Invoking method apply_host_profile",
              "Applying apply_host_profile on plugin profiled", "Applying start on plugin pre", "Plugin pre skipped."],
     ["v1: apply_host_profile ran", "v5: start ran", "Invoking method start on plugin v5", "v4: start ran"]),
    (["--dry"], True, dict(dict.fromkeys(CONTRACT, "activation failed"), v5="opportunistic activation failed",
                           mixed="activated"), [], FAILED[3:], ["Applying apply_host_profile on plugin profiled"],
     ["ran", "Invoking"]),
]


class Activation(RootCase):
    def test_runs(self):
        for args, profile, changed, marks, failures, has, lacks in RUNS:
            with self.subTest(args=args):
                shutil.rmtree(self.root.path)
                os.makedirs(self.root.file("/var/log"))
                for name in CONTRACT:
                    self.root.write(f"{PLUGIN_DIR}/lib{name}.so", library(name))
                commands(self.root, "demo", {"mark": 'echo "${1#--name=}" >>"$DAWNSTEP_ROOT/ran"',
                                             "fail": "echo 'disk on fire' >&2; exit 4"})
                for name, (start, host_profile, metadata) in JSON.items():
                    json_plugin(self.root, name, start, host_profile, **metadata)
                if profile:
                    self.root.write("/etc/corvane/hostprofile.xml", "")
                run = self.root.run(*args)
                self.assertEqual(0, run.status, run)
                self.assertEqual(dict(USUAL, **changed), outcomes(self, self.root.node("log") + self.root.node("alert")))
                self.assertEqual(marks, sorted(self.root.read("/ran").split() if marks else []))
                dry = args == ["--dry"]
                logs = [run.out] if dry else [self.root.read(f"/var/log/dawnstep-{kind}-stdout.log")
                                              for kind in ("native", "orvocli")]
                self.assertEqual(sorted(failures), sorted(re.findall(r" Cr\(2\) \S+: (.*)", logs[-1])))
                text = "".join(line + "\n" for line in self.root.node("log")) + "".join(logs)
                for line in has:
                    self.assertRegex(text, f"(?m)(^|: ){re.escape(line)}\n")
                for line in lacks:
                    self.assertNotIn(line, text)
                if dry:
                    self.assertEqual(sorted(f"{name}: start" for name in CONTRACT + list(JSON) if name != "empty"),
                                     sorted(line for line in run.out.splitlines() if "Cr(2)" not in line))


if __name__ == "__main__":
    main()
