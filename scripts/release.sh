#!/usr/bin/env bash
# Builds the release into dist/: setup.exe and setup64.exe (the templates with the sample package),
# setup-pack.exe and setup-pack64.exe, the stand-ins of the kit a maker replaces, the release
# archive (all of these with the administrators' guide) and SHA256SUMS. Two runs on one commit
# give identical bytes.
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
# Stand-ins of the maker's files: kit-stand-in/ for a package built from setup.exe,
# kit64-stand-in/ (its tools in 64-bit) from setup64.exe.
for kit in "kit-stand-in:$build" "kit64-stand-in:$build64"; do
  folder=$dist/${kit%%:*}
  mkdir -p "$folder"
  for name in runvex64.cab QMB64.cab QMB.cab Runvex.cab uninst.exe StopHWIX.exe \
              QTMStandaloneSvc.cab; do
    cp "${kit#*:}/kit/$name" "$folder/"
  done
  cp kit/data/ksmbios_data.htm "kit/data/!Readme.txt" "$folder/"
done
version=$(sed -n 's/^project(setup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
/usr/bin/python3 scripts/release_archive.py "$dist" docs/admin "$version" "$SOURCE_DATE_EPOCH" >/dev/null
(cd "$dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum > SHA256SUMS)
echo "release in $dist:"
cat "$dist/SHA256SUMS"
