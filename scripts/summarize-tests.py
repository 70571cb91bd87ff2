#!/usr/bin/env python3
"""Counts test cases from the GoogleTest XML reports and the CTest log.

A test executable that failed without a failing case in its report (a crash,
a time-out, no report at all) counts as one more failed case; a CTest test
that is no GoogleTest executable counts as one case. The last line printed is
'tests: N passed, N failed', followed by the architecture tested when given.
   usage: summarize-tests.py RESULTS-FOLDER [ARCHITECTURE]"""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET


def read_reports(results):
    """Returns {executable: (passed, failed, skipped)} from the XML reports."""
    reports = {}
    for path in sorted(glob.glob(os.path.join(results, "*.xml"))):
        name = os.path.splitext(os.path.basename(path))[0]
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            continue
        passed = failed = skipped = 0
        for case in root.iter("testcase"):
            if case.find("failure") is not None:
                failed += 1
            elif case.get("result") == "skipped" or case.find("skipped") is not None:
                skipped += 1
            else:
                passed += 1
        reports[name] = (passed, failed, skipped)
    return reports


def main(results, architecture=None):
    reports = read_reports(results)
    log = open(os.path.join(results, "ctest.log"), errors="replace").read()
    outcomes = re.findall(r"Test\s+#\d+:\s+(\S+)\s+\.*\s*(?:\*+)?(\w+)", log)
    passed = failed = skipped = 0
    for name, outcome in outcomes:
        ok = outcome == "Passed"
        if name in reports:
            p, f, s = reports[name]
            passed, failed, skipped = passed + p, failed + f, skipped + s
            if not ok and f == 0:
                failed += 1
        elif ok:
            passed += 1
        else:
            failed += 1
    if not outcomes:
        failed += 1
        print("no test ran")
    suffix = ", %d skipped" % skipped if skipped else ""
    tested = " (%s)" % architecture if architecture else ""
    print("tests: %d passed, %d failed%s%s" % (passed, failed, suffix, tested))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
