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
FAILED = "Method invocation failed: {} {} failed"
NOISE = "0123456789abcdef"

# (start commands, the lines they log or print, what reaches standard error)
ROWS = [
    (["my\tdemo  show --text 'a  b\\' -f yes --num=-5 --text \"say \\\"hi\\\" \\\\ \\$x '\" "
      "--text a\\ b\\\"c --text x'y'\"z\" --text '' --flag"],
     ["--text=a  b\\", "--flag=yes", "--num=-5", "--text=say \"hi\" \\ \\$x '", "--text=a b\"c",
      "--text=xyz", "--text=", "--flag=true", "my demo show|dawnstep|kept|also kept|1"], ""),
    (["my demo show -f FALSE --num=+7 --num 9223372036854775807 --num=-9223372036854775808 -f 0"],
     ["--flag=FALSE", "--num=+7", "--num=9223372036854775807", "--num=-9223372036854775808",
      "--flag=0", "my demo show|dawnstep|kept|also kept|1"], ""),
    (["my demo show --bogus 1 -f maybe --num 15x -z", "my demo req -f",
      "my demo show --num=9223372036854775808 --num=' 1' --num=0x10 --num= --num=--1 -f on"],
     [FAILED.format("execute", "my demo show --bogus 1 -f maybe --num 15x -z"),
      "p: Unknown parameter 'bogus' for command 'my demo show'",
      "p: Invalid value 'maybe' for parameter 'flag': expected boolean",
      "p: Invalid value '15x' for parameter 'num': expected integer",
      "p: Unknown parameter 'z' for command 'my demo show'",
      FAILED.format("execute", "my demo req -f"),
      "p: Unknown parameter 'f' for command 'my demo req'",
      "p: Missing required parameter 'need' for command 'my demo req'",
      FAILED.format("execute", "my demo show --num=9223372036854775808 --num=' 1' --num=0x10 "
                    "--num= --num=--1 -f on")] +
     [f"p: Invalid value '{value}' for parameter 'num': expected integer"
      for value in ["9223372036854775808", " 1", "0x10", "", "--1"]] +
     ["p: Invalid value 'on' for parameter 'flag': expected boolean"], ""),
    (["my demo", "my demo show extra", "echo #not a comment", "my demo deeper", "my demo txt"],
     [line for command in ["my demo", "my demo show extra", "echo #not a comment", "my demo deeper",
                           "my demo txt"]
      for line in [FAILED.format("execute", command), f"p: Unknown command '{command}'"]], ""),
    (["my demo show --text='x", "my demo show b\\", "--x=1", "my demo show --", "my demo show -=1",
      "my demo show --text=1 extra", "my demo show -xy", "-v -- 'two words'",
      "# my demo show", "   ", "  #it's \"", "\\#x", "'#x' y", "\"#\""],
     [FAILED.format("parse", "my demo show --text='x"), "p: Unterminated quote",
      FAILED.format("parse", "my demo show b\\"), "p: Trailing backslash",
      FAILED.format("parse", "--x=1"), "p: Missing command",
      FAILED.format("parse", "my demo show --"), "p: Empty option name",
      FAILED.format("parse", "my demo show -=1"), "p: Empty option name",
      FAILED.format("parse", "my demo show --text=1 extra"), "p: Unexpected argument 'extra'",
      FAILED.format("parse", "my demo show -xy"), "p: Unexpected argument '-xy'",
      FAILED.format("parse", "-v -- 'two words'"), "p: Missing command", "p: Empty option name",
      "p: Unexpected argument 'two words'"], ""),
    (["my demo run --sh='printf \"first\\n\\n  second\\nno newline\" >&2; exit 3'",
      "my demo run --sh='exit 1'", "my demo run --sh='kill -TERM $$; sleep 5'"],
     [FAILED.format("execute", "my demo run --sh='printf \"first\\n\\n  second\\nno newline\" >&2; exit 3'"),
      "p: first", "p:   second", "p: no newline", "p: exit status 3",
      FAILED.format("execute", "my demo run --sh='exit 1'"), "p: exit status 1",
      FAILED.format("execute", "my demo run --sh='kill -TERM $$; sleep 5'"), "p: killed by signal 15"], ""),
    (["my demo absent", "my demo plain"],
     [FAILED.format("execute", "my demo absent"),
      "p: cannot run {root}/usr/lib/corvane/orvocli/bin/nowhere: No such file or directory",
      FAILED.format("execute", "my demo plain"),
      "p: cannot run {root}/usr/lib/corvane/orvocli/bin/plain: Permission denied"], ""),
    # More than a pipe holds, failed and passed on.
    ([f"my demo run --sh='yes {NOISE} | head -c 136000 >&2; exit 1'",
      f"my demo run --sh='yes {NOISE} | head -c 136000 >&2'"],
     [FAILED.format("execute", f"my demo run --sh='yes {NOISE} | head -c 136000 >&2; exit 1'")] +
     ["p: " + NOISE] * 8000 + ["p: exit status 1"], (NOISE + "\n") * 8000),
    # A background process that keeps standard error open does not hold the run up.
    (["my demo run --sh='sleep 60 >/dev/null & echo $! >\"$DAWNSTEP_ROOT/bg\"; echo started >&2'"],
     [], "started\n"),
]

# Malformed descriptors, written in an order unlike their sorted names.
DESCRIPTORS = [
    ("9.json", "[]", "is not a JSON object"),
    ("8.json", '{"namespace": ', "is not valid JSON"),
    ("7.json", '{"commands": []}', "'namespace' is not a string"),
    ("6.json", '{"namespace": "a", "commands": {}}', "'commands' is not an array"),
    ("5.json", '{"namespace": "a", "commands": [1]}', "command 1: is not an object"),
    ("4.json", '{"namespace": "a", "commands": [{"name": "b"}]}',
     "command 1: 'handler' is not a non-empty string"),
    ("3.json", '{"namespace": "a", "commands": [{"name": "", "handler": "h"}]}',
     "command 1: 'name' is not a non-empty string"),
    ("2.json", '{"namespace": "a", "commands": [{"name": "b", "handler": "h", "parameters": 1}]}',
     "command 1: 'parameters' is not an array"),
    ("1.json", '{"namespace": "a", "commands": [{"name": "b", "handler": "h", "parameters": '
     '[{"name": "x", "short": "xy"}]}]}', "command 1: parameter 1: 'short' is not a one-character string"),
    ("0.json", '{"namespace": "a", "commands": [{"name": "b", "handler": "h", "parameters": '
     '[{"name": "x"}, {"name": "y", "type": "float"}]}]}', "command 1: parameter 2: unknown 'type' \"float\""),
    ("00.json", '{"namespace": "a", "commands": [{"name": "b", "handler": "h", "parameters": '
     '[{"name": "x", "required": "yes"}]}]}', "command 1: parameter 1: 'required' is not a boolean"),
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
        # Only *.json files right in the directory describe commands.
        for path, name in [("sub/deeper.json", "deeper"), ("txt.json.txt", "txt")]:
            self.root.write(f"{COMMAND_DIR}/{path}", json.dumps(
                {"namespace": "my demo", "commands": [{"name": name, "handler": "/bin/true"}]}))
        for commands, out, err in ROWS:
            with self.subTest(commands=commands[0]):
                self.plugin(commands)
                # Handlers start with default signals, even where the program's were ignored.
                run = self.root.run("-c", "trap '' TERM; exec \"$0\"", BINARY, program="/bin/sh", env=ENV)
                self.assertEqual(lines(run.out)[1:], [line.format(root=self.root.path) for line in out])
                self.assertEqual((run.status, run.err), (0, err))
        os.kill(int(self.root.read("/bg")), signal.SIGKILL)

    def test_first_definition_wins_and_absolute_handlers_live_under_the_root(self):
        for directory, name, handler in [("/ext", "a", "two"), ("", "b", "one"), ("", "c", "two"),
                                         ("/int", "a", "two")]:
            self.root.write(f"{COMMAND_DIR}{directory}/{name}.json", json.dumps(
                {"namespace": "my", "commands": [{"name": "dup", "handler": "/opt/" + handler}]}))
        for handler in ["one", "two"]:
            self.root.write("/opt/" + handler, f"#!/bin/sh\necho {handler}\n", 0o755)
        self.plugin(["my dup"])
        self.assertEqual(lines(self.root.run().out)[1:], ["one"])

    def test_malformed_descriptors_are_skipped_with_their_reason(self):
        for name, text, _ in DESCRIPTORS:
            self.root.write(f"{COMMAND_DIR}/ext/{name}", text)
        self.plugin([])
        run = self.root.run("--tags")
        self.assertEqual(lines(run.err), [f"Skipping command descriptor {self.root.file(COMMAND_DIR)}/ext/{name}: {reason}"
                                          for name, _, reason in sorted(DESCRIPTORS)])


if __name__ == "__main__":
    main()
