#!/usr/bin/env bash
# Makes Wine's prefix (WINEPREFIX, by default ~/.wine) complete before Win32 programs run, and
# returns once it is. Wine makes a missing prefix on its first start, and programs started beside
# that first one fail ("chdir to .../server-...") until it is done; a start that was interrupted
# leaves a prefix that Wine never completes by itself. Concurrent callers wait for the one at work.
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
prefix=${WINEPREFIX:-$HOME/.wine}
ready=$prefix/.quorrin-prefix-ready

[ -f "$ready" ] && exit 0
parent=$(dirname "$prefix")
mkdir -p "$parent"
exec 9<"$parent"
flock 9
[ -f "$ready" ] && exit 0

start=$(date +%s)
if [ -z "$(ls -A "$prefix" 2>/dev/null)" ]; then
  echo "wine-prefix: making Wine's prefix in $prefix (minutes where Wine runs emulated)" >&2
  wine wineboot --init
  # Nobody else uses a prefix this new: wait until its processes end and the registry is saved.
  wineserver -w
else
  # Made before, but not known to be complete: update it in place (a no-op for a sound prefix).
  echo "wine-prefix: checking Wine's prefix in $prefix" >&2
  wine wineboot --update
fi
touch "$ready"
echo "wine-prefix: ready after $(( $(date +%s) - start )) s" >&2
