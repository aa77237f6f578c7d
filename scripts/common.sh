# Shared by the scripts: install the tools, build both flavours of the Windows side, pick the one
# this machine can run and its Wine prefix.
# Source it as `. "$(dirname "$0")/../scripts/common.sh"`; it moves to the repository's root.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build_windows() {
  if [ "$(id -u)" = 0 ]; then scripts/bootstrap.sh; fi
  local preset
  for preset in windows windows64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
  done
}

# Sets SETUP_EXE, SETUP_NAME, PACK_EXE, WINE (the loader of the prefix's bitness: Debian's `wine`
# wrapper would start 32-bit Wine even for a 64-bit program) and WINEARCH, and says which
# flavour runs and why.
choose_flavour() {
  local answer
  if answer=$(/usr/bin/python3 scripts/machine.py); then
    SETUP_EXE=$root/build/windows/setup.exe PACK_EXE=$root/build/windows/setup-pack.exe
    WINE=/usr/lib/wine/wine WINEARCH=win32
    echo "running the 32-bit setup (setup.exe): $answer"
  else
    SETUP_EXE=$root/build/windows64/setup64.exe PACK_EXE=$root/build/windows64/setup-pack64.exe
    WINE=/usr/lib/wine/wine64 WINEARCH=win64
    echo "running the 64-bit setup (setup64.exe): $answer"
  fi
  SETUP_NAME=$(basename "$SETUP_EXE")
  export WINEARCH
}

# The prefix of the chosen flavour's bitness, booted, with a persistent server.
use_wine_prefix() {
  export WINEPREFIX=${SETUP_WINE_ROOT:-/tmp/setup-tests-wine}/$WINEARCH
  export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    if ! "$WINE" wineboot -i </dev/null >/dev/null 2>&1; then
      echo "error: Wine could not create the prefix $WINEPREFIX" >&2
      exit 1
    fi
    # The server of the first boot starts no new service in time; a fresh one does.
    wineserver -k || true
  fi
  wineserver -p </dev/null >/dev/null 2>&1 || true
  "$WINE" wineboot </dev/null >/dev/null 2>&1
}
