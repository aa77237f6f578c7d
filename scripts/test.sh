#!/usr/bin/env bash
# Builds everything and runs every test: host unit tests (ASan, UBSan), bounded fuzzing runs
# (libFuzzer) and Wine system tests of both flavours of the setup.
# Ends with one summary line "N passed, M failed"; tests this machine cannot run are counted as
# skipped there, with the reason.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ "$(id -u)" = 0 ]; then scripts/bootstrap.sh; fi
set -e
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows64 >/dev/null
cmake --build --preset windows64
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
set +e

reports=build/reports
rm -rf "$reports" && mkdir -p "$reports"
ctest --preset host --output-junit "$root/$reports/unit.xml" >"$reports/unit.log" 2>&1
unit_status=$?
tail -n 3 "$reports/unit.log"
# Each fuzz target runs for a bounded time (FUZZ_SECONDS, 30 by default).
ctest --preset fuzz --output-junit "$root/$reports/fuzz.xml" >"$reports/fuzz.log" 2>&1
fuzz_status=$?
tail -n 3 "$reports/fuzz.log"
/usr/bin/python3 scripts/machine.py
/usr/bin/python3 -m pytest tests/system -q -p no:cacheprovider --junitxml="$reports/system.xml" "$@"
system_status=$?

/usr/bin/python3 scripts/summary.py "$reports/unit.xml" "$reports/fuzz.xml" "$reports/system.xml"
summary_status=$?
[ $unit_status -eq 0 ] && [ $fuzz_status -eq 0 ] && [ $system_status -eq 0 ] &&
  [ $summary_status -eq 0 ]
