#!/usr/bin/env bash
# Builds everything and runs every test: host unit tests (ASan, UBSan), bounded fuzzing runs
# (libFuzzer) and Wine system tests of both flavours of the setup.
# Where this machine cannot execute 32-bit code, the 32-bit setup's system tests run in the
# emulated machine (scripts/vm) beside the host's own work: its image is built (or found) while
# the host builds, and its test shards (a machine each) run while the host tests.
# Ends with the time of each phase and one summary line "N passed, M failed"; tests this machine
# cannot run are counted as skipped there, with the reason.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

started=$(date +%s)
phase_started=$started
phases=()
# Ends the phase that ran since the last call, under the name given.
end_phase() {
  local now
  now=$(date +%s)
  phases+=("$1 $((now - phase_started)) s")
  phase_started=$now
}

if [ "$(id -u)" = 0 ]; then scripts/bootstrap.sh || exit 1; fi
end_phase "set-up"

reports=build/reports
rm -rf "$reports" && mkdir -p "$reports"
lane=no
if ! /usr/bin/python3 scripts/machine.py >/dev/null; then
  lane=yes
  . scripts/vm/common.sh
  echo "the 32-bit setup's tests run in the emulated machine (scripts/vm)"
  # The image (minutes of download and emulation) is made while the host builds.
  (
    image_started=$(date +%s)
    scripts/vm/build-image.sh >"$reports/vm-build.log" 2>&1
    echo "$? $(($(date +%s) - image_started))" >"$reports/vm-build.status"
  ) &
fi

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}
build windows && build windows64 || exit 1
end_phase "Windows build"

# The emulated machine's shards, each in a machine of its own, once its image is there; writes
# "image failed" when it is not.
run_lane() {
  local status lane_started shard pids=()
  while [ ! -f "$reports/vm-build.status" ]; do sleep 2; done
  read -r status _ <"$reports/vm-build.status"
  [ "$status" = 0 ] || { echo "image failed" >"$reports/lane.status"; return; }
  lane_started=$(date +%s)
  for ((shard = 1; shard <= vm_shards; shard++)); do
    scripts/vm/run.sh "SETUP_TEST_SHARD=$shard/$vm_shards /usr/bin/python3 -m pytest" \
      "tests/system -q -p no:cacheprovider -k setup32" \
      "--junitxml=$reports/system32-$shard.xml $*" >"$reports/lane-$shard.log" 2>&1 &
    pids+=($!)
  done
  status=0
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  echo "$status $(($(date +%s) - lane_started))" >"$reports/lane.status"
}
if [ $lane = yes ]; then
  run_lane "$@" &
  lane_job=$!
fi

build host && build fuzz || exit 1
end_phase "host build"

# Seeds of the package reader's fuzz target: this build's templates, whole and cut, and cabinets.
seeds=build/fuzz/tests/fuzz/seeds_pe_resources
rm -rf "$seeds" && mkdir -p "$seeds"
for template in build/windows/setup.exe build/windows64/setup64.exe; do
  name=$(basename "$template" .exe)
  cp "$template" "$seeds/$name"
  for size in 1024 65536 300000; do head -c "$size" "$template" > "$seeds/$name-$size"; done
done
cp build/windows/kit/*.cab "$seeds/"

ctest --preset host --output-junit "$root/$reports/unit.xml" >"$reports/unit.log" 2>&1
unit_status=$?
tail -n 3 "$reports/unit.log"
end_phase "unit tests"
# Each fuzz target runs for a bounded time (FUZZ_SECONDS, 30 by default).
ctest --preset fuzz --output-junit "$root/$reports/fuzz.xml" >"$reports/fuzz.log" 2>&1
fuzz_status=$?
tail -n 3 "$reports/fuzz.log"
end_phase "fuzzing"

pytest_system() {
  /usr/bin/python3 -m pytest tests/system -q -p no:cacheprovider "$@"
}
system_reports=("$reports/system.xml")
note=()
lane_status=0
if [ $lane = no ]; then
  pytest_system --junitxml="$reports/system.xml" "$@"
  system_status=$?
  end_phase "system tests"
else
  pytest_system -k "not setup32" --junitxml="$reports/system.xml" "$@"
  system_status=$?
  end_phase "system tests without the 32-bit setup"
  wait "$lane_job"
  end_phase "waiting for the emulated machine"
  read -r _ image_seconds <"$reports/vm-build.status"
  tail -n 1 "$reports/vm-build.log"
  phases+=("beside them: image $image_seconds s")
  if [ "$(cat "$reports/lane.status")" = "image failed" ]; then
    # Every test of the 32-bit setup is reported as skipped, with the reason.
    SETUP_LANE_UNAVAILABLE=$(tail -n 1 "$reports/vm-build.log") \
      pytest_system -k setup32 --junitxml="$reports/system32.xml" "$@" >/dev/null
    system_reports+=("$reports/system32.xml")
  else
    read -r lane_status lane_seconds <"$reports/lane.status"
    for ((shard = 1; shard <= vm_shards; shard++)); do
      echo "emulated machine $shard of $vm_shards: $(tail -n 1 "$reports/lane-$shard.log")"
      system_reports+=("$reports/system32-$shard.xml")
    done
    [ "$lane_status" = 0 ] || echo "the emulated machines' output: $reports/lane-*.log"
    phases+=("emulated machines $lane_seconds s")
    note=(--note "32-bit setup: in the emulated machine")
  fi
fi

line="phases:"
for phase in "${phases[@]}"; do line+=" $phase;"; done
echo "$line total $(($(date +%s) - started)) s"
/usr/bin/python3 scripts/summary.py "${note[@]}" "$reports/unit.xml" "$reports/fuzz.xml" \
  "${system_reports[@]}"
summary_status=$?
[ $unit_status -eq 0 ] && [ $fuzz_status -eq 0 ] && [ $system_status -eq 0 ] &&
  [ $lane_status -eq 0 ] && [ $summary_status -eq 0 ]
