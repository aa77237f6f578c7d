#!/usr/bin/env bash
# Builds the release into dist/: setup.exe and setup64.exe (the templates with the sample package),
# setup-pack.exe and setup-pack64.exe, the kit a maker would replace, and SHA256SUMS. Two runs on
# one commit give identical bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "$(id -u)" = 0 ]; then scripts/bootstrap.sh; fi
build=${RELEASE_BUILD_DIR:-$root/build/release}
dist=${RELEASE_DIST_DIR:-$root/dist}
# Files packed into the kit cabinets carry the commit's date.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1704164646)}
export SOURCE_DATE_EPOCH

build64=${RELEASE_BUILD64_DIR:-$build-64}

rm -rf "$build" "$build64" "$dist"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target setup setup-pack kit_payload >/dev/null
cmake --preset windows64 -B "$build64" >/dev/null
cmake --build "$build64" --target setup64 setup-pack64 kit_payload >/dev/null

mkdir -p "$dist"
cp "$build/setup.exe" "$build/setup-pack.exe" "$build64/setup64.exe" "$build64/setup-pack64.exe" \
  "$dist/"
# kit/ for a package built from setup.exe, kit64/ (its tools in 64-bit) from setup64.exe.
for kit in "kit:$build" "kit64:$build64"; do
  folder=$dist/${kit%%:*}
  mkdir -p "$folder"
  for name in runvex64.cab QMB64.cab QMB.cab Runvex.cab uninst.exe StopHWIX.exe \
              QTMStandaloneSvc.cab; do
    cp "${kit#*:}/kit/$name" "$folder/"
  done
  cp kit/data/ksmbios_data.htm "kit/data/!Readme.txt" "$folder/"
done
(cd "$dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum > SHA256SUMS)
echo "release in $dist:"
cat "$dist/SHA256SUMS"
