#!/usr/bin/env bash
# scripts/vm/shards.sh REPORT PYTEST_ARGUMENT...: in the test machine, runs the system tests in
# $vm_shards shards side by side (one a virtual CPU), shard K with the Wine prefixes of its own
# and the JUnit report REPORT-K.xml; prints each shard's output in turn; fails when one failed.
set -uo pipefail
. "$(dirname "$0")/common.sh"

report=$1
shift
pids=()
for ((shard = 1; shard <= vm_shards; shard++)); do
  wine_root=$vm_wine_root
  [ "$shard" -gt 1 ] && wine_root=$vm_wine_root-$shard
  SETUP_WINE_ROOT=$wine_root SETUP_TEST_SHARD=$shard/$vm_shards \
    /usr/bin/python3 -m pytest tests/system -q -p no:cacheprovider --junitxml="$report-$shard.xml" \
    "$@" >"/tmp/shard-$shard.log" 2>&1 &
  pids+=($!)
done
status=0
for ((shard = 1; shard <= vm_shards; shard++)); do
  wait "${pids[shard - 1]}" || status=1
  echo "shard $shard of $vm_shards:"
  cat "/tmp/shard-$shard.log"
done
exit $status
