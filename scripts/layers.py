#!/usr/bin/env python3
"""Checks that the includes between parts of the tree point down the layers.

Every source file belongs to the unit of the longest path prefix in UNITS; an
include of a file in another unit must be listed in ALLOWED. Prints each
include that is not, and exits 1 if there is any.

  python3 scripts/layers.py [--root DIR] [--pretend FILE:INCLUDE ...]

--pretend adds an include to a file as if it were written there (the test of
this script uses it to see a forbidden edge refused).
"""
import argparse
import os
import re
import subprocess
import sys

# Path prefix -> unit. The layers, bottom first: platform libraries (each on
# its own), base, trace, exceptions, common, frame, engines, plug-in and host.
UNITS = {
    "platform/morvel/": "platform/morvel",
    "platform/quintrel/": "platform/quintrel",
    "platform/pallisk/": "platform/pallisk",
    "platform/fernwick/": "platform/fernwick",
    "common/dynlib.": "base",
    "common/utf8.": "base",
    "common/lower_table.": "base",
    "src/trace/": "trace",
    "src/exceptions/": "exceptions",
    "common/": "common",
    "src/common/array.h": "common",
    "src/common/shared_locker.": "frame",
    "src/notifobj/": "frame",
    "src/amodule/": "frame",
    "src/class_factory/": "frame",
    "src/engines/": "engine",  # one unit per engine folder: engine/<name>
    "tervo/tervo.h": "plugin-interface",
    "tervo/tervo_names.h": "plugin-interface",
    "tervo/": "plugin",
    "host/cli/": "cli",
    "host/": "host",
    "tests/support/": "test-support",
    "tests/": "tests",
    "bench/": "bench",
    "fuzz/": "fuzz",
}

_BELOW_COMMON = ["base", "trace", "exceptions", "platform/morvel"]
_PRODUCT = (["common", "frame", "plugin-interface", "host", "engine/*", "platform/pallisk",
             "platform/quintrel", "platform/fernwick"] + _BELOW_COMMON)

# Unit -> the other units its files may include. "engine/*" is any engine;
# an engine that calls another names it here.
ALLOWED = {
    "platform/morvel": [],
    "platform/quintrel": [],
    "platform/pallisk": [],
    "platform/fernwick": [],
    "base": [],
    "trace": ["base", "platform/quintrel"],
    "exceptions": ["trace", "base", "platform/morvel"],
    "common": _BELOW_COMMON + ["platform/pallisk"],
    "frame": ["common"] + _BELOW_COMMON,
    # The regex bridge uses the library's interface header, never the library.
    "engine": ["common", "platform/fernwick"] + _BELOW_COMMON,
    # The rule engine compiles its patterns through the regex bridge and runs
    # code heuristics for exec.
    "engine/assl": ["engine/fernwick", "engine/phrasematch", "engine/codeheur"],
    # The code heuristics read items through the rule engine's contexts.
    "engine/codeheur": ["engine/assl"],
    "plugin-interface": ["common"] + _BELOW_COMMON,
    "plugin": ["engine/*", "frame", "common", "plugin-interface"] + _BELOW_COMMON,
    "host": ["frame", "common", "plugin-interface"] + _BELOW_COMMON,
    "cli": ["host", "engine/*", "frame", "common", "plugin-interface"] + _BELOW_COMMON,
    "test-support": _PRODUCT + ["plugin"],
    "tests": _PRODUCT + ["plugin", "cli", "test-support"],
    "bench": _PRODUCT + ["test-support"],
    "fuzz": _PRODUCT + ["test-support"],
}

SOURCE = re.compile(r"\.(c|cc|h|l|y)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def unit_of(path):
    best = max((p for p in UNITS if path.startswith(p)), key=len, default=None)
    if best is None:
        return None
    unit = UNITS[best]
    if unit == "engine":
        rest = path[len(best):].split("/")
        return "engine/" + rest[0] if len(rest) > 1 else None
    return unit


def allowed(src_unit, dst_unit):
    if src_unit == dst_unit:
        return True
    kind = "engine" if src_unit.startswith("engine/") else src_unit
    for target in ALLOWED.get(src_unit, []) + ALLOWED.get(kind, []):
        if target == dst_unit or (target == "engine/*" and dst_unit.startswith("engine/")):
            return True
    return False


def tracked_files(root):
    """The sources git knows (tracked or not ignored); outside a checkout,
    every source below `root` but the build folders."""
    git = subprocess.run(["git", "-C", root, "ls-files", "-co", "--exclude-standard"],
                         capture_output=True, text=True)
    if git.returncode == 0:
        names = git.stdout.splitlines()
    else:
        names = []
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith(("build", "."))]
            rel = os.path.relpath(folder, root)
            names += [os.path.normpath(os.path.join(rel, f)) for f in files]
    return [f for f in names if SOURCE.search(f) and os.path.isfile(os.path.join(root, f))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--pretend", action="append", default=[], metavar="FILE:INCLUDE")
    args = parser.parse_args()

    includes = {}
    for f in tracked_files(args.root):
        with open(os.path.join(args.root, f), encoding="utf-8", errors="replace") as text:
            includes[f] = INCLUDE.findall(text.read())
    for extra in args.pretend:
        f, inc = extra.split(":", 1)
        includes.setdefault(f, []).append(inc)

    bad = []
    for f, incs in sorted(includes.items()):
        src = unit_of(f)
        for inc in incs:
            dst = unit_of(inc)
            if src is None or dst is None:
                continue  # outside the layered tree (scripts, generated files)
            if not allowed(src, dst):
                bad.append(f"{f}: includes {inc} ({src} -> {dst} is not an allowed edge)")
    for line in bad:
        print(line)
    print(f"layers: {len(includes)} files, {len(bad)} include(s) against the layers")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
