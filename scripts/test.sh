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

# Seeds of the package reader's fuzz target: this build's templates, whole and cut, and cabinets.
seeds=build/fuzz/tests/fuzz/seeds_pe_resources
rm -rf "$seeds" && mkdir -p "$seeds"
for template in build/windows/setup.exe build/windows64/setup64.exe; do
  name=$(basename "$template" .exe)
  cp "$template" "$seeds/$name"
  for size in 1024 65536 300000; do head -c "$size" "$template" > "$seeds/$name-$size"; done
done
cp build/windows/kit/*.cab "$seeds/"

reports=build/reports
rm -rf "$reports" && mkdir -p "$reports"
ctest --preset host --output-junit "$root/$reports/unit.xml" >"$reports/unit.log" 2>&1
unit_status=$?
tail -n 3 "$reports/unit.log"
# Each fuzz target runs for a bounded time (FUZZ_SECONDS, 30 by default).
ctest --preset fuzz --output-junit "$root/$reports/fuzz.xml" >"$reports/fuzz.log" 2>&1
fuzz_status=$?
tail -n 3 "$reports/fuzz.log"

pytest_system() {
  /usr/bin/python3 -m pytest tests/system -q -p no:cacheprovider "$@"
}
system_reports=("$reports/system.xml")
note=()
lane_status=0
if /usr/bin/python3 scripts/machine.py; then
  pytest_system --junitxml="$reports/system.xml" "$@"
  system_status=$?
else
  # The 32-bit setup's tests run in an emulated x86-64 machine that can run 32-bit code.
  echo "the 32-bit setup's tests run in the emulated machine (scripts/vm)"
  if scripts/vm/build-image.sh >"$reports/vm-build.log" 2>&1; then
    tail -n 1 "$reports/vm-build.log"
    pytest_system -k "not setup32" --junitxml="$reports/system.xml" "$@"
    system_status=$?
    lane_started=$(date +%s)
    scripts/vm/run.sh "/usr/bin/python3 -m pytest tests/system -q -p no:cacheprovider" \
      "-k setup32 --junitxml=$reports/system32.xml $*"
    lane_status=$?
    echo "emulated machine: $(($(date +%s) - lane_started)) s"
    system_reports+=("$reports/system32.xml")
    note=(--note "32-bit setup: in the emulated machine")
  else
    tail -n 1 "$reports/vm-build.log"
    SETUP_LANE_UNAVAILABLE=$(tail -n 1 "$reports/vm-build.log") \
      pytest_system --junitxml="$reports/system.xml" "$@"
    system_status=$?
  fi
fi

/usr/bin/python3 scripts/summary.py "${note[@]}" "$reports/unit.xml" "$reports/fuzz.xml" \
  "${system_reports[@]}"
summary_status=$?
[ $unit_status -eq 0 ] && [ $fuzz_status -eq 0 ] && [ $system_status -eq 0 ] &&
  [ $lane_status -eq 0 ] && [ $summary_status -eq 0 ]
