#!/usr/bin/env bash
# scripts/apt-install.sh PACKAGE...: installs Debian packages on a mirror that may be mid-sync.
# The package indexes are fetched up to three times; where one suite's index keeps failing (a
# mirror serving an index of the wrong size, a suite that is unreachable), the packages are
# installed from the other suites, with one line that names the suites left out. Where nothing
# can be installed it fails with one line. Run as root; apt's own settings (APT_CONFIG) apply.
set -uo pipefail

fetch_tries=3
retry_seconds=${APT_RETRY_SECONDS:-10}
me=$(basename "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DEBIAN_FRONTEND=noninteractive

fail() {
  echo "$me: cannot install ${*:2}: $1" >&2
  exit 1
}

# What went wrong, in one line: the last download that failed, else apt's last error.
last_error() {
  { grep -E '^[EW]: Failed to fetch' "$1" || grep -E '^(E|Err):' "$1"; } | tail -n 1 |
    tr -s ' \t' ' ' | cut -c1-300
}

# "URI SUITE" of every index that failed to download, one a line, from apt-get update's output.
failed_suites() {
  sed -n 's,^[EW]: Failed to fetch \([^ ]*\)/dists/\([^/ ]*\)/.*,\1 \2,p' "$1" | sed 's,/* , ,' |
    sort -u
}

update_indexes() {
  local try
  for ((try = 1; try <= fetch_tries; try++)); do
    apt-get update -q >"$work/update.log" 2>&1 && return 0
    [ "$try" -lt "$fetch_tries" ] && sleep "$retry_seconds"
  done
  return 1
}

# Copies apt's sources into $work/sources without the suites listed in $work/failed, in both
# formats: one-line ("deb [options] URI SUITE COMPONENT...") and deb822 stanzas, whose other
# fields (an inline Signed-By key among them) are kept as they are.
write_reduced_sources() {
  local list parts file
  eval "$(apt-config shell list Dir::Etc::SourceList/f parts Dir::Etc::SourceParts/d)"
  mkdir -p "$work/sources/parts"
  : >"$work/sources/sources.list"
  [ -f "$list" ] && reduce_one_line_sources "$list" >"$work/sources/sources.list"
  for file in "$parts"*.list; do
    [ -f "$file" ] && reduce_one_line_sources "$file" >"$work/sources/parts/$(basename "$file")"
  done
  for file in "$parts"*.sources; do
    [ -f "$file" ] && reduce_deb822_sources "$file" >"$work/sources/parts/$(basename "$file")"
  done
}

reduce_one_line_sources() {
  awk 'NR == FNR { failed[$1 " " $2] = 1; next }
       $1 ~ /^deb(-src)?$/ {
         line = $0
         sub(/\[[^]]*\]/, "", line)
         split(line, field, /[ \t]+/)
         uri = field[2]; sub(/\/+$/, "", uri)
         if ((uri " " field[3]) in failed) next
       }
       { print }' "$work/failed" "$1"
}

reduce_deb822_sources() {
  awk 'NR == FNR { failed[$1 " " $2] = 1; next }
       function flush(   i, n, uris, suites, kept, uri, keep, j) {
         if (count == 0) return
         n = split(uris_text, uris, /[ \t]+/)
         split(suites_text, suites, /[ \t]+/)
         kept = ""
         for (i in suites) {
           if (suites[i] == "") continue
           keep = 1
           for (j = 1; j <= n; j++) {
             uri = uris[j]; sub(/\/+$/, "", uri)
             if ((uri " " suites[i]) in failed) keep = 0
           }
           if (keep) kept = kept " " suites[i]
         }
         if (suites_line == 0 || kept != "") {
           for (i = 1; i <= count; i++)
             print (i == suites_line ? "Suites:" kept : stanza[i])
           print ""
         }
         count = 0; suites_line = 0; uris_text = ""; suites_text = ""
       }
       /^[ \t]*$/ { flush(); next }
       {
         stanza[++count] = $0
         if (tolower($1) == "uris:") { uris_text = $0; sub(/^[^:]*:/, "", uris_text) }
         if (tolower($1) == "suites:") {
           suites_text = $0; sub(/^[^:]*:/, "", suites_text); suites_line = count
         }
       }
       END { flush() }' "$work/failed" "$1"
}

[ $# -gt 0 ] || fail "no package named" "nothing"
if update_indexes; then
  apt-get install -y -q --no-install-recommends "$@" >"$work/install.log" 2>&1 ||
    fail "$(last_error "$work/install.log")" "$@"
  exit 0
fi

failed_suites "$work/update.log" >"$work/failed"
[ -s "$work/failed" ] || fail "$(last_error "$work/update.log")" "$@"
write_reduced_sources
grep -qrE '^(deb(-src)?[[:space:]]|Suites:[[:space:]]*[^[:space:]])' "$work/sources" ||
  fail "no package index could be downloaded ($(last_error "$work/update.log"))" "$@"
reduced=(-o "Dir::Etc::SourceList=$work/sources/sources.list"
         -o "Dir::Etc::SourceParts=$work/sources/parts")
echo "$me: installing without" \
  "$(awk '{ printf "%s%s (%s)", (NR > 1 ? ", " : ""), $2, $1 }' "$work/failed")," \
  "whose index failed to download $fetch_tries times"
# Keep the left-out suites' older indexes on disk for the next full update.
apt-get update -q "${reduced[@]}" -o APT::Get::List-Cleanup=false >"$work/update.log" 2>&1 ||
  fail "$(last_error "$work/update.log")" "$@"
apt-get install -y -q --no-install-recommends "${reduced[@]}" "$@" >"$work/install.log" 2>&1 ||
  fail "$(last_error "$work/install.log")" "$@"
