"""Adds up JUnit reports into one line "N passed, M failed[, K skipped (reasons)]"; exits 1 on a
failure or when no test ran. `--note TEXT` adds TEXT in parentheses (where tests ran). Tests that
passed only on a second run are named, with their first failure, after the line."""

import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
reasons = []
second_runs = []
SECOND_RUN = "passed on a second run after"
args = sys.argv[1:]
note = ""
if args[:1] == ["--note"]:
    note, args = args[1], args[2:]
for path in args:
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        failed += 1
        print(f"missing or unreadable report: {path}")
        continue
    for case in root.iter("testcase"):
        skip = case.find("skipped")
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif skip is not None or case.get("status") in ("notrun", "disabled"):
            skipped += 1
            reason = (skip.get("message", "") if skip is not None else "").removeprefix("Skipped: ")
            if reason and reason not in reasons:
                reasons.append(reason)
        else:
            passed += 1
            for prop in case.iter("property"):
                if prop.get("name") == SECOND_RUN:
                    second_runs.append(f"{case.get('name')}: {prop.get('value')}")
line = f"{passed} passed" + (f" ({len(second_runs)} on a second run)" if second_runs else "")
line += f", {failed} failed"
if skipped:
    line += f", {skipped} skipped" + (f" ({'; '.join(reasons)})" if reasons else "")
if note:
    line += f" ({note})"
print(line)
for second_run in second_runs:
    print(f"  {SECOND_RUN} a failure: {second_run}")
sys.exit(1 if failed or not passed else 0)
