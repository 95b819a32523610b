"""Command lines of a JSON plugin through the command framework: what each
handler receives, and the exact lines a refused or failed command logs."""
import json
import os
import re
import signal

from harness import BINARY, COMMAND_DIR, PLUGIN_DIR, RootCase, main

DEMO = {"namespace": " my\tdemo ", "commands": [
    {"name": "show", "handler": "bin/show", "parameters": [
        {"name": "num", "type": "integer"}, {"name": "flag", "short": "f", "type": "boolean"},
        {"name": "text", "type": "string"}]},
    {"name": "req", "handler": "bin/show", "parameters": [{"name": "need", "required": True}]},
    {"name": "run", "handler": "bin/run", "parameters": [{"name": "sh"}]},
    {"name": "absent", "handler": "bin/nowhere"},
    {"name": "plain", "handler": "bin/plain"}]}
SHOW = """#!/bin/sh
for a in "$@"; do echo "$a"; done
echo "$ORVOCLI_COMMAND|$ORVOCLI_DISPATCHER|$INHERITED|$ORVOCLI_COMMANDS|$(env | grep -c ^ORVOCLI_COMMAND=)"
"""
ENV = {"INHERITED": "kept", "ORVOCLI_COMMAND": "stale", "ORVOCLI_COMMANDS": "also kept"}
NOISE = "0123456789abcdef"


def fails(command, *errors, stage="execute"):
    return [f"Method invocation failed: {stage} {command} failed"] + ["p: " + e for e in errors]


def refused(command, *errors):
    return fails(command, *errors, stage="parse")


def num(value):
    return f"Invalid value '{value}' for parameter 'num': expected integer"


BAD_NUMBERS = "my demo show --num=9223372036854775808 --num=' 1' --num=0x10 --num= --num=--1 -f on"
SHOUT = "my demo run --sh='printf \"first\\n\\n  second\\nno newline\" >&2; exit 3'"
CHATTY = f"my demo run --sh='yes {NOISE} | head -c 136000 >&2"  # more than a pipe holds
UNKNOWN = ["my demo", "my demo show extra", "echo #not a comment", "my demo deeper", "my demo txt"]
# (start commands, the lines they log or print, what reaches standard error)
ROWS = [
    (["my\tdemo  show --text 'a  b\\' -f yes --num=-5 --text \"say \\\"hi\\\" \\\\ \\$x '\" "
      "--text a\\ b\\\"c --text x'y'\"z\" --text '' --flag"],
     ["--text=a  b\\", "--flag=yes", "--num=-5", "--text=say \"hi\" \\ \\$x '", "--text=a b\"c",
      "--text=xyz", "--text=", "--flag=true", "my demo show|dawnstep|kept|also kept|1"], ""),
    (["my demo show -f FALSE --num=+7 --num 9223372036854775807 --num=-9223372036854775808 -f 0"],
     ["--flag=FALSE", "--num=+7", "--num=9223372036854775807", "--num=-9223372036854775808", "--flag=0",
      "my demo show|dawnstep|kept|also kept|1"], ""),
    (["my demo show --bogus 1 -f maybe --num 15x -z", "my demo req -f", BAD_NUMBERS],
     fails("my demo show --bogus 1 -f maybe --num 15x -z",
           "Unknown parameter 'bogus' for command 'my demo show'",
           "Invalid value 'maybe' for parameter 'flag': expected boolean", num("15x"),
           "Unknown parameter 'z' for command 'my demo show'") +
     fails("my demo req -f", "Unknown parameter 'f' for command 'my demo req'",
           "Missing required parameter 'need' for command 'my demo req'") +
     fails(BAD_NUMBERS, *map(num, ["9223372036854775808", " 1", "0x10", "", "--1"]),
           "Invalid value 'on' for parameter 'flag': expected boolean"), ""),
    (UNKNOWN, sum((fails(c, f"Unknown command '{c}'") for c in UNKNOWN), []), ""),
    (["my demo show --text='x", "my demo show b\\", "--x=1", "my demo show -=1", "my demo show -xy",
      "my demo show --text=1 extra", "-v -- 'two words'", "# my demo", "   ", "  #it's \"", "\\#x",
      "'#x' y", "\"#\""],
     refused("my demo show --text='x", "Unterminated quote") +
     refused("my demo show b\\", "Trailing backslash") + refused("--x=1", "Missing command") +
     refused("my demo show -=1", "Empty option name") +
     refused("my demo show -xy", "Unexpected argument '-xy'") +
     refused("my demo show --text=1 extra", "Unexpected argument 'extra'") +
     refused("-v -- 'two words'", "Missing command", "Empty option name",
             "Unexpected argument 'two words'"), ""),
    ([SHOUT, "my demo run --sh='exit 1'", "my demo run --sh='kill -TERM $$; sleep 5'",
      "my demo absent", "my demo plain"],
     fails(SHOUT, "first", "  second", "no newline", "exit status 3") +
     fails("my demo run --sh='exit 1'", "exit status 1") +
     fails("my demo run --sh='kill -TERM $$; sleep 5'", "killed by signal 15") +
     fails("my demo absent", "cannot run {root}/usr/lib/corvane/orvocli/bin/nowhere: No such file or directory") +
     fails("my demo plain", "cannot run {root}/usr/lib/corvane/orvocli/bin/plain: Permission denied"), ""),
    ([CHATTY + "; exit 1'", CHATTY + "'"],
     fails(CHATTY + "; exit 1'", *[NOISE] * 8000, "exit status 1"), (NOISE + "\n") * 8000),
    (["my demo dup"], ["one"], ""),
    # A background process that keeps standard error open does not hold the run up.
    (["my demo run --sh='sleep 45 >/dev/null & echo $! >\"$DAWNSTEP_ROOT/bg\"; echo started >&2'"],
     [], "started\n"),
]

# Malformed descriptors, written in an order unlike their sorted names.
DESCRIPTORS = [
    ("9", "[]", "is not a JSON object"), ("8", '{"namespace": ', "is not valid JSON"),
    ("4", '{"namespace": "a", "commands": [{"name": "b"}]}', "command 1: 'handler' is not a non-empty string"),
    ("2", '[{"name": "b", "handler": "h", "parameters": 1}]', "command 1: 'parameters' is not an array"),
    ("1", '[{"name": "b", "handler": "h", "parameters": [{"name": "x", "short": "xy"}]}]',
     "command 1: parameter 1: 'short' is not a one-character string"),
    ("0", '[{"name": "b", "handler": "h", "parameters": [{"name": "x"}, {"name": "y", "type": "float"}]}]',
     "command 1: parameter 2: unknown 'type' \"float\""),
]
PREFIX = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \S+ \w+\[\d+\]: ")


def lines(text):
    return [PREFIX.sub("", line) for line in text.splitlines()]


class DispatcherTest(RootCase):
    def plugin(self, commands):
        self.root.write(PLUGIN_DIR + "/p.json", json.dumps({
            "metadata": {"provides": [], "requires": [], "version": 1},
            "operations": {"start": commands}}))

    def test_command_lines(self):
        self.root.write(COMMAND_DIR + "/demo.json", json.dumps(DEMO))
        self.root.write(COMMAND_DIR + "/bin/show", SHOW, 0o755)
        self.root.write(COMMAND_DIR + "/bin/run", '#!/bin/sh\neval "${1#--sh=}"\n', 0o755)
        self.root.write(COMMAND_DIR + "/bin/plain", "#!/bin/sh\n")
        # Only *.json files right in a directory describe commands; the first
        # definition wins, and absolute handlers live under the root.
        for path, name, handler in [("sub/deeper.json", "deeper", "one"), ("txt.json.txt", "txt", "one"),
                                    ("b.json", "dup", "one"), ("c.json", "dup", "two"), ("int/a.json", "dup", "two")]:
            self.root.write(f"{COMMAND_DIR}/{path}", json.dumps(
                {"namespace": "my demo", "commands": [{"name": name, "handler": "/opt/" + handler}]}))
            self.root.write("/opt/" + handler, f"#!/bin/sh\necho {handler}\n", 0o755)
        for commands, out, err in ROWS:
            with self.subTest(commands=commands[0]):
                self.plugin(commands)
                # Handlers start with default signals, even where the program's were ignored.
                run = self.root.run("-c", "trap '' TERM; exec \"$0\"", BINARY, program="/bin/sh", env=ENV,
                                    timeout=30)
                self.assertEqual(lines(run.out)[1:], [line.format(root=self.root.path) for line in out])
                self.assertEqual((run.status, run.err), (0, err))
        os.kill(int(self.root.read("/bg")), signal.SIGKILL)

    def test_malformed_descriptors_are_skipped_with_their_reason(self):
        for name, text, _ in DESCRIPTORS:
            if text.startswith("[{"):
                text = '{"namespace": "a", "commands": ' + text + "}"
            self.root.write(f"{COMMAND_DIR}/ext/{name}.json", text)
        self.plugin([])
        run = self.root.run("--tags")
        where = self.root.file(COMMAND_DIR) + "/ext/"
        self.assertEqual(lines(run.err), [f"Skipping command descriptor {where}{name}.json: {reason}"
                                          for name, _, reason in sorted(DESCRIPTORS)])


if __name__ == "__main__":
    main()
