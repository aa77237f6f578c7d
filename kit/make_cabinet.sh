#!/usr/bin/env bash
# make_cabinet.sh OUT.cab FILE[=STORED_NAME]...
# Packs files into an MSZIP cabinet under the names given, all stamped with one fixed time
# (SOURCE_DATE_EPOCH, else a constant), so that the stored times are known and repeatable.
set -euo pipefail
out=$(realpath -m "$1")
shift
epoch=${SOURCE_DATE_EPOCH:-1704164646}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
names=()
for item in "$@"; do
  source=${item%%=*}
  stored=${item#*=}
  [ "$item" = "$source" ] && stored=$(basename "$source")
  cp "$source" "$stage/$stored"
  touch -d "@$epoch" "$stage/$stored"
  names+=("$stored")
done
rm -f "$out"
(cd "$stage" && gcab -c -z -n "$out" "${names[@]}")
