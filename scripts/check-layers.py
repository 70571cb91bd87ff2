#!/usr/bin/env python3
"""Build check of the layering system <- wire <- driver <- port <- ui <- app:
from each layer's include folder, every header of a higher layer must be out
of reach (the compiler finds no such file), and the layer's own headers and
those of the layers below must compile. The driver stand-in (emulator) sees
the system and wire layers and none of the program's layers above them.
   usage: check-layers.py COMPILER LAYER-INCLUDES-FOLDER SOURCE-FOLDER"""
import glob
import os
import subprocess
import sys
import tempfile

from check_report import finish

LAYERS = ["system", "wire", "driver", "port", "ui", "app"]
# Folders that are not a layer of their own: what each may see.
SIDES = {"emulator": ["system", "wire"]}


def compile_include(compiler, folder, header):
    """Returns (ok, output) for a unit that includes header from folder."""
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as unit:
        unit.write('#include "%s"\n' % header)
        name = unit.name
    try:
        run = subprocess.run([compiler, "-std=c++20", "-fsyntax-only", "-I", folder, name],
                             capture_output=True, text=True)
    finally:
        os.unlink(name)
    return run.returncode == 0, run.stdout + run.stderr


def main(compiler, includes, sources):
    problems = []
    for index, layer in enumerate(LAYERS):
        folder = os.path.join(includes, layer)
        for other_index, other in enumerate(LAYERS):
            headers = sorted(glob.glob(os.path.join(sources, other, "*.h")))
            if not headers:
                continue
            header = other + "/" + os.path.basename(headers[0])
            ok, output = compile_include(compiler, folder, header)
            if other_index <= index and not ok:
                problems.append("%s cannot include its own or a lower layer's %s:\n%s" % (layer, header, output))
            if other_index > index and (ok or "No such file" not in output):
                problems.append("%s reaches the higher layer's %s" % (layer, header))
            else:
                print("ok   %-6s %s %s" % (layer, "sees" if other_index <= index else "cannot see", header))
    for side, seen in SIDES.items():
        folder = os.path.join(includes, side)
        for other in LAYERS:
            headers = sorted(glob.glob(os.path.join(sources, other, "*.h")))
            header = other + "/" + os.path.basename(headers[0])
            ok, output = compile_include(compiler, folder, header)
            if other in seen and not ok:
                problems.append("%s cannot include %s:\n%s" % (side, header, output))
            elif other not in seen and (ok or "No such file" not in output):
                problems.append("%s reaches the program's %s" % (side, header))
            else:
                print("ok   %-8s %s %s" % (side, "sees" if other in seen else "cannot see", header))
    return finish(problems)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
