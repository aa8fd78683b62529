#!/usr/bin/env bash
# Runs a Win32 program under Wine quietly: no debug channels, no Mono or Gecko prompts.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
