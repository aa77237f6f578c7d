#!/usr/bin/env bash
# The performance benchmark: a large package laid out by the setup against the platform's own
# tools under Wine and native tools, and the hand-over to the cleanup batch. Prints a table.
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"
build_windows
exec /usr/bin/python3 bench/bench.py "$@"
