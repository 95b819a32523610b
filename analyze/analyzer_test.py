"""dawnstep-analyze as operators run it: files on a root in, exact report and status out, the root unchanged."""
import json, os, pathlib, re  # noqa: E401

from harness import ANALYZE, PLUGIN_DIR, RootCase, main

LOG, P = "/var/log/sysboot.log", PLUGIN_DIR + "/"
GOOD, HEAD = "2026-03-05 07:08:09.000000", "HVKernel Initialization Time: 3000000\n"
TRAILER = "=== Dawnstep configuration info ===\n Start: 2026-03-05 07:08:09.000000\n End: 2026-03-05 07:08:10.000000\n"


def rec(start, end, name, day="2026-03-05 07:08:"):
    return f"[{day}{start} - {day}{end}] sysboot: {name}\n"


def plugin(provides=(), requires=(), preemptive=False, start=()):
    return json.dumps({"metadata": {"provides": provides, "requires": requires, "version": 3,
                                    "run_once": False, "preemptive_provider": preemptive},
                       "operations": {"start": start}})


# One field out of range or out of place at a time; each must cost the record.
BAD = [GOOD[:i] + s + GOOD[i + len(s):] for i, s in [
    (0, "2o26"), (5, "00"), (5, "13"), (8, "00"), (8, "32"), (11, "24"), (11, "x7"), (14, "60"),
    (14, "x8"), (17, "61"), (17, "x9"), (25, "x"), (10, "T"), (19, ",")]]
BAD_LOG = (" Start: " + GOOD + "\n" + "".join(f"[{t} - {GOOD}] sysboot: bad\n" for t in BAD)
           + f"[{GOOD} - {BAD[2]}] sysboot: bad\n" + rec("09.1", "09.2", "short"))
BAD_ERR = "".join(f"dawnstep-analyze: {{root}}{LOG}: ignoring unrecognised line {n}: {line}\n"
                  for n, line in enumerate(BAD_LOG.splitlines(), 1)) + f"dawnstep-analyze: {{root}}{LOG}: no activation records\n"
BOOT = HEAD + rec("09.000000", "09.000000", "old") + HEAD + "".join(rec(f"09.{a}000", f"09.{b}000", n) for a, b, n in [
    ("010", "100", "base"), ("100", "150", "fast"), ("101", "300", "slow"), ("150", "900", "late"),
    ("000", "005", "pre"), ("310", "400", "top"), ("950", "960", "end-autoconf"), ("500", "590", "odd] sysboot: name ")]) + TRAILER
DIAMOND = {LOG: BOOT, P + "top.json": plugin(requires=["x", "y"]), P + "late.json": plugin(["x"]),
           P + "fast.json": plugin(["x"], ["b"]), P + "slow.json": plugin(["y"], ["b"]),
           P + "base.json": plugin(["b"]), P + "pre.json": plugin(["x"], preemptive=True)}
CHAIN = ("end-autoconf (unknown)  start +950.000 ms  took 10.000 ms\n"
         "  late (unknown)  start +150.000 ms  took 750.000 ms  provides 'json plugins'\n"
         "    pre (unknown)  start +0.000 ms  took 5.000 ms  preemptive provider of 'x'\n")
# Without node records there are no outcomes, and every report says so.
NOTE = "dawnstep-analyze: cannot open {root}/run/hkn/system.log: No such file or directory; plugin outcomes not shown\n"
BUILTIN = "         - ms  unknown               end-autoconf\n"
ODD = "caf\xe9\u07ff\u20ac\u4e2d\udcc0\udcaf\udced\udca0\udc80"  # bytes C0 AF, ED A0 80 are not UTF-8
COMMANDS = ["system hostname set --fqdn h", "# later", "system ntp set", "a 'b", "system hostname set --mtu x -z"]
WARN = ("error: requirement cycle: a requires 'tb' from b, b requires 'ta' from a\n"
        "error: requirement cycle: self requires 'own' from self\n"
        "error: tag 'tc' has 2 preemptive providers, which hold each other back: a, b\n"
        "error: plugin 'a' start command 'system ntp set' is refused: Unknown command 'system ntp set'\n"
        "error: plugin 'a' start command 'a 'b' does not parse: Unterminated quote\n" + "".join(
            f"error: plugin 'a' start command 'system hostname set --mtu x -z' is refused: {e}\n" for e in [
                "Invalid value 'x' for parameter 'mtu': expected integer",
                "Unknown parameter 'z' for command 'system hostname set'",
                "Missing required parameter 'fqdn' for command 'system hostname set'"]) +
        "warning: plugin 'b' requires tag 'gone', which no plugin provides\n")
CYCLES = {P + "a.json": plugin(["ta", "tc"], ["tb"], True, COMMANDS), P + "self.json": plugin(["own"], ["own"]),
          P + "b.json": plugin(["tb", "tc"], ["ta", "gone"], True), "/usr/lib/corvane/orvocli/h.json":
          '{"namespace": "system hostname", "commands": [{"name": "set", "handler": "/x", "parameters": '
          '[{"name": "fqdn", "required": true}, {"name": "mtu", "type": "integer"}]}]}'}

# (files, arguments, status, standard output, standard error); "..." ends a prefix; {root} is the root.
ROWS = [
    ({}, [], 2, "", "Usage: dawnstep-analyze COMMAND [OPTION...] [ARGUMENT...]\n..."),
    ({}, ["critical-chain", "-h"], 0, "Usage: dawnstep-analyze critical-chain [--log FILE] [--json] [PLUGIN]\n...", ""),
    ({}, ["frobnicate"], 2, "", "dawnstep-analyze: unknown command 'frobnicate'\n"
                                "Run 'dawnstep-analyze --help' for the list of commands.\n"),
    ({}, ["plot"], 1, "", f"dawnstep-analyze: cannot open {{root}}{LOG}: No such file or directory\n"),
    # Reading the profile: only the last boot counts, names are taken whole.
    (DIAMOND, ["blame"], 0, "".join(f"{ms:>10} ms  unknown               {name}\n" for ms, name in [
        ("750.000", "late"), ("199.000", "slow"), ("90.000", "base"), ("90.000", "odd] sysboot: name "),
        ("90.000", "top"), ("50.000", "fast"), ("10.000", "end-autoconf"), ("5.000", "pre")]), NOTE),
    ({"/b.log": rec("00:00.000000", "00:00.000001", "low", "0000-01-01 00:") + rec("00.000000", "00.000002", "")
      + rec("59:59.999999", "59:60.999999", "high", "2026-12-31 23:")}, ["blame", "--log={root}/b.log"], 0,
     "  1000.000 ms  unknown               high\n     0.002 ms  unknown               \n"
     "     0.001 ms  unknown               low\n" + BUILTIN, NOTE),
    ({LOG: BAD_LOG}, ["blame"], 0, BUILTIN, BAD_ERR + NOTE),
    # Critical chains follow requirements, kind tags and preemptive providers back.
    (DIAMOND, ["critical-chain"], 0, CHAIN, NOTE),
    (DIAMOND, ["critical-chain", "slow"], 0, "slow (unknown)  start +101.000 ms  took 199.000 ms\n"
     "  base (unknown)  start +10.000 ms  took 90.000 ms  provides 'b'\n", NOTE),
    (DIAMOND, ["critical-chain", "absent"], 1, "",
     NOTE + f"dawnstep-analyze: {{root}}{LOG}: no activation of 'absent' in the profile\n"),
    (DIAMOND, ["tags"], 0, "b\nx\ny\n", ""),
    ({P + ODD + ".json": plugin(["b"], preemptive=True), P + 'say"hi\\.json': plugin([], ["b", "gone"]),
      P + "readme.txt": ""}, ["dot"], 0,
     'digraph plugins {\n  rankdir=LR;\n  node [shape=box];\n  p0 [label="end-autoconf"];\n  p1 [label='
     '"caf\xe9\u07ff\u20ac\u4e2d\ufffd\ufffd\ufffd\ufffd\ufffd", shape=octagon];\n  p2 [label="say\\"hi\\\\"];\n'
     '  p1 -> p0 [label="json plugins"];\n  p2 -> p0 [label="json plugins"];\n  p1 -> p2 [label="b"];\n'
     '  m0 [label="gone (no provider)", shape=plaintext, fontcolor=red];\n'
     '  m0 -> p2 [label="gone", style=dashed];\n}\n', f"Skipping {{root}}{P}readme.txt: unknown type\n"),
    # verify: 0 clean, 1 warnings only, 2 errors.
    ({}, ["verify"], 0, "0 files checked: 0 errors, 0 warnings\n", ""),
    (CYCLES, ["verify"], 2, WARN + "3 files checked: 8 errors, 1 warning\n", ""),
    # Each file once, in byte order; a member of the wrong kind named as the file spells it.
    ({"/d.json/x": "", "/k.json": '{"metadata": {"provides": 1}, "operations": {}}'},
     ["verify", "--", "-odd.json", "{root}/k.json", "{root}/d.json", "-odd.json"], 2,
     "Skipping -odd.json: No such file or directory\nSkipping {root}/d.json: Is a directory\n"
     "Skipping {root}/k.json: metadata.provides: 'meta[\"provides\"]' is not a 'JsonArray'\n"
     "3 files checked: 3 errors, 0 warnings\n", ""),
]
# Command line errors: the command's usage hint after the reason.
ROWS += [({}, args, 2, "", f"dawnstep-analyze {args[0]}: {reason}\n"
          f"Run 'dawnstep-analyze {args[0]} --help' for its usage.\n") for args, reason in [
    (["blame", "extra"], "unexpected argument extra"), (["blame", "--", "--log"], "unexpected argument --log"),
    (["blame", "-x"], "unknown option -x"), (["plot", "--log"], "option --log needs a value"),
    (["dot", "--log", "x"], "unknown option --log"), (["tags", "--log", "x"], "unknown option --log"),
    (["critical-chain", "a", "b"], "unexpected argument b")]]


class AnalyzerTest(RootCase):
    def snapshot(self):
        return {os.path.join(d, f): pathlib.Path(d, f).read_bytes()
                for d, _, files in os.walk(self.root.path) for f in files}

    def test_commands(self):
        for files, args, status, out, err in ROWS:
            with self.subTest(args=args, files=sorted(files)):
                self.root.remove()
                os.makedirs(self.root.file("/run"))  # where a boot's nodes would go
                for path, text in {"/.runonce": "dawnstep.run-once=x1.0", **files}.items():
                    self.root.write(path, text)
                before = self.snapshot()
                run = self.root.run(*[a.replace("{root}", self.root.path) for a in args], program=ANALYZE)
                self.assertEqual(status, run.status, run)
                for got, want in (run.out, out), (run.err, err):
                    want = want.replace("{root}", self.root.path)
                    self.assertEqual(want.removesuffix("..."), got[:len(want) - 3] if want.endswith("...") else got)
                self.assertEqual((before, False), (self.snapshot(), os.path.exists(self.root.file("/run/hkn"))))

    def test_plot_draws_one_bar_per_record_the_chain_marked(self):
        for path, text in {**DIAMOND, LOG: BOOT.replace("odd] sysboot: name ", "a<&>\"'\x01\ufffe")}.items():
            self.root.write(path, text)
        run = self.root.run("plot", program=ANALYZE)
        self.assertEqual((0, NOTE.replace("{root}", self.root.path)), (run.status, run.err))
        bars = re.findall(r'end">(.*)</text>\n<rect class="bar outcome-unknown( critical)?"', run.out)
        self.assertEqual([("pre", " critical"), ("base", ""), ("fast", ""), ("slow", ""),
                          ("late", " critical"), ("top", ""), ("a&lt;&amp;&gt;&quot;&apos;\ufffd\ufffd", ""),
                          ("end-autoconf", " critical")], bars)


if __name__ == "__main__":
    main()
