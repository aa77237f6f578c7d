#!/usr/bin/env bash
# The worked example of the README: build a BIOS-update package from the template with
# setup-pack, list it, and lay it out with -x, all under Wine. Uses the 32-bit setup and builder
# where this machine can execute 32-bit code, else the 64-bit ones.
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"
build_windows
choose_flavour
use_wine_prefix
pack="$WINE $PACK_EXE"

work=$WINEPREFIX/drive_c/mytask
rm -rf "$work" && mkdir -p "$work" && cd "$work"
cp "$SETUP_EXE" template.exe
# What an administrator exports from their tools: a profile that flashes A01.hdr, and the image.
cat > profile.xml <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<root profileVersion="1.0" schemaVersion="2.0">
  <command type="flash" image="A01.hdr"/>
</root>
XML
head -c 1048576 /dev/urandom > A01.hdr

set -x
$pack build --template template.exe --profile profile.xml --bios A01.hdr --out task.exe
$pack list task.exe
mkdir run && cp task.exe run/ && cd run
"$WINE" task.exe -x -l && echo "exit code: $?"
set +x
ls
cmp A01.hdr ../A01.hdr && cmp profile.xml ../profile.xml && echo "laid out byte for byte"
