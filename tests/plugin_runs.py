"""What the plugin tests share: plugin files and commands on a root, and the
outcomes and listings a run leaves."""
import json
import re

from harness import COMMAND_DIR, PLUGIN_DIR


def json_plugin(root, name, start, profile=None, **metadata):
    """Writes a JSON plugin; `metadata` adds to or replaces the minimal members."""
    operations = {"start": start} if profile is None else {"start": start, "apply_host_profile": profile}
    metadata = dict({"provides": [], "requires": [], "version": 1}, **metadata)
    root.write(f"{PLUGIN_DIR}/{name}.json", json.dumps({"metadata": metadata, "operations": operations}))


def commands(root, namespace, handlers):
    """One command "namespace NAME [--name=VALUE]" per handler script."""
    listed = [{"name": name, "handler": f"bin/{name}", "parameters": [{"name": "name"}]} for name in handlers]
    root.write(f"{COMMAND_DIR}/{namespace}.json", json.dumps({"namespace": namespace, "commands": listed}))
    for name, script in handlers.items():
        root.write(f"{COMMAND_DIR}/bin/{name}", f"#!/bin/sh\n{script}\n", 0o755)


def outcomes(case, texts):
    """plugin -> its one outcome, from node texts; only "skipped" may come before another."""
    found = {}
    for text in texts:
        if match := re.fullmatch(r"Dawnstep plugin (\S+) (.*)\.", text):
            case.assertIn(found.get(match[1], "skipped"), ["skipped"], text)
            found[match[1]] = match[2]
    return found


def listing(text):
    """plugin -> sorted tags, from the output of --provides= or --requires=."""
    records = (line.partition(":") for line in text.splitlines())
    return {name: sorted(filter(None, tags.strip().split(","))) for name, _, tags in records}
