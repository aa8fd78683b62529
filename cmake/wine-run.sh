#!/usr/bin/env bash
# Runs a Win32 program under Wine quietly: no debug channels, no Mono or Gecko prompts. The
# prefix is made first if it is missing, once, however many of these start together.
# (wine64-run.sh runs 64-bit programs through here, with 64-bit Wine and a prefix of its own.)
export WINEDEBUG=${WINEDEBUG:--all}
# No debugger either: a program that crashes ends at once and its test fails, rather than waiting.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winedbg.exe=}
"$(dirname "$0")/wine-prefix.sh" || exit 1
exec "${QUORRIN_WINE:-wine}" "$@"
