#!/usr/bin/env bash
# Makes Wine's prefix (WINEPREFIX, by default ~/.wine) complete before Windows programs run, and
# returns once it is. Wine makes a missing prefix on its first start, and programs started beside
# that first one fail ("chdir to .../server-...") until it is done; a start that was interrupted
# leaves a prefix that Wine never completes by itself. Concurrent callers wait for the one at work.
# A new prefix is 32-bit unless WINEARCH says otherwise (wine64-run.sh asks for a 64-bit one, and
# names its loader in QUORRIN_WINE).
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
prefix=${WINEPREFIX:-$HOME/.wine}
wine=${QUORRIN_WINE:-wine}

# The system DLLs are in place and the registry holds what wine.inf's default section writes.
complete() {
  [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] &&
    grep -q CurrentBuildNumber "$prefix/system.reg" 2>/dev/null
}

# Only under the lock: a prefix being made looks complete before its maker is done with it.
# Each prefix has its own, so that the 32- and the 64-bit one are made side by side.
mkdir -p "$(dirname "$prefix")"
exec 9>>"$prefix.lock"
start=$(date +%s)
flock 9
if complete; then
  waited=$(( $(date +%s) - start ))
  [ "$waited" -lt 2 ] || echo "wine-prefix: ready after $waited s, made by another caller" >&2
  exit 0
fi

# Wine's own processes must not inherit the lock (9<&-): they outlive this script.
if [ -z "$(ls -A "$prefix" 2>/dev/null)" ]; then
  echo "wine-prefix: making Wine's prefix in $prefix (minutes where Wine runs emulated)" >&2
  # Under emulation the first program may give up waiting ("could not load kernel32.dll") while
  # wineboot goes on making the prefix: what counts is the prefix once all its processes ended.
  WINEARCH=${WINEARCH:-win32} "$wine" wineboot --init 9<&- || true
  wineserver -w 9<&-
fi
if ! complete; then
  echo "wine-prefix: completing Wine's prefix in $prefix" >&2
  "$wine" wineboot --update 9<&- || true
  wineserver -w 9<&-
fi
if ! complete; then
  echo "wine-prefix: Wine's prefix in $prefix is still incomplete after wineboot" >&2
  exit 1
fi
echo "wine-prefix: ready after $(( $(date +%s) - start )) s" >&2
