#!/usr/bin/env bash
# Runs a 64-bit Windows program under 64-bit Wine, in a 64-bit prefix of its own
# (QUORRIN_WINE64_PREFIX, by default ~/.wine64): the 32-bit prefix cannot run it.
# Debian's `wine` starts the 32-bit loader first, which then hands over to wine64; where 32-bit
# programs run emulated that detour costs a minute, so wine64 is started directly.
export WINEPREFIX=${QUORRIN_WINE64_PREFIX:-$HOME/.wine64}
export WINEARCH=win64
if [ -z "${QUORRIN_WINE:-}" ]; then
  QUORRIN_WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
fi
export QUORRIN_WINE
exec "$(dirname "$0")/wine-run.sh" "$@"
