#!/usr/bin/env python3
"""Build check of the driver stand-in's parts: every include between its
folders runs from a part to one that it may see, never from a lower part to
a higher one, and every included file of the stand-in exists. quorvel-tap
(tap/) may see only the records and readers that it shares with the stand-in.
   usage: check-standin-parts.py SOURCE-ROOT"""
import os
import re
import sys

from check_report import finish

# Each part and the parts below it that it may see (itself always).
SEES = {
    "scenario": [],
    "formats": [],
    "kernel": [],
    "drivers": ["kernel"],
    "lines": ["kernel", "drivers", "scenario", "formats"],
    "runner": ["kernel", "drivers", "lines", "scenario", "formats"],
    "seam": ["kernel", "drivers", "lines", "runner", "scenario", "formats"],
    "control": ["kernel", "drivers", "lines", "runner", "scenario", "formats"],
    "linux": ["lines", "scenario"],  # the native programs beside the stand-in
}
OUTSIDE = {"tap": ["formats"]}
INCLUDE = re.compile(r'^\s*#\s*include\s+"emulator/([^"]+)"', re.M)


def sources(folder):
    for here, _, names in os.walk(folder):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                yield os.path.join(here, name)


def check_folder(root, folder, part, seen, problems):
    arrows = 0
    for path in sources(os.path.join(root, folder)):
        with open(path, encoding="utf-8", errors="replace") as source:
            text = source.read()
        for target in INCLUDE.findall(text):
            arrows += 1
            where = os.path.relpath(path, root)
            target_part = target.split("/")[0] if "/" in target else ""
            if not os.path.isfile(os.path.join(root, "emulator", target)):
                problems.append("%s includes emulator/%s, which does not exist" % (where, target))
            elif target_part != part and target_part not in seen:
                problems.append("%s (%s) reaches emulator/%s (%s)" % (where, part, target, target_part or "no part"))
    return arrows


def main(root):
    problems = []
    emulator = os.path.join(root, "emulator")
    for name in sorted(os.listdir(emulator)):
        path = os.path.join(emulator, name)
        if os.path.isdir(path) and name not in SEES:
            problems.append("emulator/%s is no part of the stand-in" % name)
        elif os.path.isfile(path) and name.endswith((".cpp", ".h")):
            problems.append("emulator/%s lies in no part" % name)
    for part, seen in SEES.items():
        arrows = check_folder(root, os.path.join("emulator", part), part, seen, problems)
        print("ok   %-8s %3d includes of the stand-in, seeing %s" % (part, arrows, ", ".join(seen) or "only itself"))
    for folder, seen in OUTSIDE.items():
        arrows = check_folder(root, folder, folder, seen, problems)
        print("ok   %-8s %3d includes of the stand-in, seeing %s" % (folder, arrows, ", ".join(seen)))
    return finish(problems)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
