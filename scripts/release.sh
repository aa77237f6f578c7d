#!/usr/bin/env bash
# Builds the release into dist/: setup.exe (the template with the sample package), setup-pack.exe,
# the kit a maker would replace, and SHA256SUMS. Two runs on one commit give identical bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "$(id -u)" = 0 ]; then scripts/bootstrap.sh; fi
build=${RELEASE_BUILD_DIR:-$root/build/release}
dist=${RELEASE_DIST_DIR:-$root/dist}
# Files packed into the kit cabinets carry the commit's date.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1704164646)}
export SOURCE_DATE_EPOCH

rm -rf "$build" "$dist"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target setup setup-pack kit_payload >/dev/null

mkdir -p "$dist/kit"
cp "$build/setup.exe" "$build/setup-pack.exe" "$dist/"
for name in runvex64.cab QMB64.cab QMB.cab Runvex.cab uninst.exe StopHWIX.exe \
            QTMStandaloneSvc.cab; do
  cp "$build/kit/$name" "$dist/kit/"
done
cp kit/data/ksmbios_data.htm "kit/data/!Readme.txt" "$dist/kit/"
(cd "$dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum > SHA256SUMS)
echo "release in $dist:"
cat "$dist/SHA256SUMS"
