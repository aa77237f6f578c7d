#!/usr/bin/env bash
# Builds the package and runs it under Wine in a demo folder, as a deployment system would:
# prints the exit code, the debug output, the result log and what the folder holds afterwards.
# Runs the 32-bit setup where this machine can execute 32-bit code, else the 64-bit one.
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"
build_windows
choose_flavour
use_wine_prefix

demo=$WINEPREFIX/drive_c/demo
log=${SETUP_NAME%.exe}.log
rm -rf "$demo" && mkdir -p "$demo"
cp "$SETUP_EXE" "$demo/"
echo "Running C:\\demo\\$SETUP_NAME -l in $demo"
set +e
(cd "$demo" && WINEDEBUG=-all,warn+debugstr "$WINE" "$SETUP_NAME" -l 2>"$demo.stderr")
code=$?
set -e
echo "exit code: $code"
echo "--- debug output"
/usr/bin/python3 - "$demo.stderr" <<'PY'
import re, sys
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r'^[0-9a-f]+:warn:debugstr:OutputDebugString[AW] "(.*)"(\.\.\.)?$', line.rstrip("\n"))
    if m:
        text = m.group(1).replace("\\r", "").replace("\\n", "\n    ").replace('\\"', '"').replace("\\\\", "\\")
        print("  " + text + (" ..." if m.group(2) else ""))
PY
echo "--- result log ($log)"
if [ -f "$demo/$log" ]; then cat "$demo/$log"; else echo "(none: the setup wrote no log)"; fi
for _ in $(seq 100); do [ -e "$demo/delzrph.bat" ] || break; sleep 0.1; done
echo "--- the demo folder once the cleanup batch has run"
ls -la "$demo"
