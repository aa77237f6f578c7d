# Shared by the scripts: install the tools, build the Windows side, and use the 32-bit prefix.
# Source it as `. "$(dirname "$0")/../scripts/common.sh"`; it moves to the repository's root.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build_windows() {
  if [ "$(id -u)" = 0 ]; then scripts/bootstrap.sh; fi
  cmake --preset windows >/dev/null
  cmake --build --preset windows >/dev/null
}

use_wine_prefix() {
  export WINEPREFIX=${SETUP_WINE_ROOT:-/tmp/setup-tests-wine}/win32 WINEARCH=win32
  export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1
    # The server of the first boot starts no new service in time; a fresh one does.
    wineserver -k || true
  fi
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot </dev/null >/dev/null 2>&1
}
