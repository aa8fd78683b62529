#!/usr/bin/env bash
# Installs what is missing, builds the native (sanitized) and the Win32 build, and runs every
# test: the Win32 tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in native win32; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
# Wine makes its prefix on first use; the Win32 tests start in parallel, so make it now, once.
echo "== win32: Wine prefix"
cmake/wine-prefix.sh
for preset in native win32; do
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
done
